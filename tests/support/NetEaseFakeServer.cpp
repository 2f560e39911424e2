#include "support/NetEaseFakeServer.h"

#include <stdexcept>

namespace velto {

std::string NetEaseFakeServer::Recorded::header(const std::string& name) const {
    auto it = headers.find(name);
    return it == headers.end() ? std::string() : it->second;
}

NetEaseFakeServer::NetEaseFakeServer(int port) {
    // Without it, the body written after the head waits for the client's delayed acknowledgement.
    server_.set_tcp_nodelay(true);
    server_.Get(".*", [this](const httplib::Request& request, httplib::Response& response) {
        Reply reply{404, R"({"code":404})"};
        std::optional<Handler> handler;
        {
            std::lock_guard lock(mutex_);
            requests_.push_back({request.path, request.target, request.headers, request.params});
            if (auto it = answers_.find(request.path); it != answers_.end()) {
                reply = it->second;
            } else {
                for (const auto& [prefix, candidate] : prefixHandlers_) {
                    if (request.path.rfind(prefix, 0) == 0) {
                        handler = candidate;
                        break;
                    }
                }
            }
        }
        if (handler) reply = (*handler)(request);
        response.status = reply.status;
        response.set_content(reply.body, "application/json");
    });
    if (port == 0) {
        port_ = server_.bind_to_any_port("127.0.0.1");
    } else if (server_.bind_to_port("127.0.0.1", port)) {
        port_ = port;
    } else {
        port_ = -1;
    }
    if (port_ <= 0) throw std::runtime_error("fake server could not bind");
    // Connections queue in the backlog until the loop accepts them, so no wait is needed.
    thread_ = std::thread([this] { server_.listen_after_bind(); });
}

NetEaseFakeServer::~NetEaseFakeServer() {
    // A stop before the loop has started would be lost, and the join would never return.
    while (!server_.is_running()) std::this_thread::yield();
    server_.stop();
    thread_.join();
}

std::string NetEaseFakeServer::baseURL() const {
    return "http://127.0.0.1:" + std::to_string(port_);
}

void NetEaseFakeServer::answer(const std::string& path, Reply reply) {
    std::lock_guard lock(mutex_);
    answers_[path] = std::move(reply);
}

void NetEaseFakeServer::answerJSON(const std::string& path, const nlohmann::json& body) {
    answer(path, Reply{200, body.dump()});
}

void NetEaseFakeServer::answerPrefix(const std::string& prefix, Handler handler) {
    std::lock_guard lock(mutex_);
    prefixHandlers_.emplace_back(prefix, std::move(handler));
}

std::vector<NetEaseFakeServer::Recorded> NetEaseFakeServer::requests() const {
    std::lock_guard lock(mutex_);
    return requests_;
}

std::size_t NetEaseFakeServer::requestCount(const std::string& path) const {
    std::lock_guard lock(mutex_);
    std::size_t count = 0;
    for (const auto& request : requests_) count += request.path == path ? 1 : 0;
    return count;
}

}  // namespace velto
