#pragma once

#include <httplib.h>

#include <functional>
#include <map>
#include <mutex>
#include <nlohmann/json.hpp>
#include <string>
#include <thread>
#include <vector>

namespace velto {

// A stand-in for the NetEase web interface on 127.0.0.1: canned answers per path, every
// request recorded with its raw target (query order intact) and headers.
class NetEaseFakeServer {
  public:
    struct Reply {
        int status = 200;
        std::string body;
    };
    struct Recorded {
        std::string path;    // decoded
        std::string target;  // as sent, percent escapes kept
        httplib::Headers headers;
        httplib::Params params;
        std::string header(const std::string& name) const;
        bool hasHeader(const std::string& name) const { return headers.count(name) > 0; }
    };
    using Handler = std::function<Reply(const httplib::Request&)>;

    // Port 0 takes any free port.
    explicit NetEaseFakeServer(int port = 0);
    ~NetEaseFakeServer();
    NetEaseFakeServer(const NetEaseFakeServer&) = delete;
    NetEaseFakeServer& operator=(const NetEaseFakeServer&) = delete;

    std::string baseURL() const;
    int port() const { return port_; }

    // Answers for one decoded path; a path without an answer gets 404.
    void answer(const std::string& path, Reply reply);
    void answerJSON(const std::string& path, const nlohmann::json& body);
    // Answers for every path that begins with `prefix` (checked after the exact paths).
    void answerPrefix(const std::string& prefix, Handler handler);

    std::vector<Recorded> requests() const;
    std::size_t requestCount(const std::string& path) const;

  private:
    httplib::Server server_;
    int port_ = 0;
    std::thread thread_;
    mutable std::mutex mutex_;
    std::map<std::string, Reply> answers_;
    std::vector<std::pair<std::string, Handler>> prefixHandlers_;
    std::vector<Recorded> requests_;
};

}  // namespace velto
