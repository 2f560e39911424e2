#pragma once

#include <httplib.h>

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <stop_token>
#include <string>
#include <thread>
#include <vector>

namespace velto {

// An HTTP server on 127.0.0.1 (a free port unless one is asked for) for network tests. Handlers may be registered at any
// time; every request is recorded before its handler runs. Paths without a handler answer 404.
class FakeHttpServer {
public:
    using Handler = std::function<void(const httplib::Request&, httplib::Response&)>;

    struct RecordedRequest {
        std::string method;
        std::string path;
        httplib::Params params;
        httplib::Headers headers;  // names compare case-insensitively
        int remotePort = 0;        // tells connections apart

        std::optional<std::string> header(const std::string& name) const;
        std::optional<std::string> param(const std::string& name) const;
    };

    // Throws when `port` (0: any free one) cannot be bound.
    explicit FakeHttpServer(int port = 0);
    // Releases handlers blocked in hangUntilStopped(), then stops and joins the server. Idle
    // keep-alive connections of clients still alive delay the stop by up to a second.
    ~FakeHttpServer();
    FakeHttpServer(const FakeHttpServer&) = delete;
    FakeHttpServer& operator=(const FakeHttpServer&) = delete;

    // Answers GET (and HEAD, whose body the server drops) for exactly `path`.
    void get(const std::string& path, Handler handler);

    int port() const { return port_; }
    std::string baseURL() const;  // "http://127.0.0.1:PORT"
    std::string url(const std::string& pathAndQuery) const;

    std::vector<RecordedRequest> requests() const;
    std::size_t requestCount() const;
    // Blocks until at least `count` requests arrived; false when `stop` ended the wait first.
    bool waitForRequests(std::size_t count, std::stop_token stop = {}) const;

    // For handlers: blocks until the server stops, modelling a server that never answers.
    void hangUntilStopped();
    // For handlers that pace their output: waits `duration`, false once the server is stopping.
    bool pause(std::chrono::milliseconds duration);

private:
    void dispatch(const httplib::Request& request, httplib::Response& response);

    struct Server : httplib::Server {
        void widenBacklog();
    };

    Server server_;
    int port_ = 0;
    std::thread thread_;
    bool listenEnded_ = false;

    mutable std::mutex mutex_;
    mutable std::condition_variable_any changed_;
    bool stopping_ = false;
    std::map<std::string, Handler> handlers_;
    std::vector<RecordedRequest> requests_;
};

}  // namespace velto
