#include "support/FakeHttpServer.h"

#include <sys/socket.h>

#include <csignal>
#include <stdexcept>

namespace velto {

void FakeHttpServer::Server::widenBacklog() {
    // The library listens with a backlog of 5; a burst of concurrent connects beyond that has
    // its SYNs dropped and retried a second later. Listening again only resizes the queue.
    ::listen(svr_sock_, SOMAXCONN);
}

FakeHttpServer::FakeHttpServer(int port) {
    // A client that hangs up mid-answer must not kill the test program through SIGPIPE.
    std::signal(SIGPIPE, SIG_IGN);
    // Idle keep-alive connections hold a server thread this long after stop().
    server_.set_keep_alive_timeout(1);
    // Without it, answers written in parts wait for delayed acknowledgements.
    server_.set_tcp_nodelay(true);
    // Room for many concurrent clients, hung handlers and idle keep-alive connections at once.
    server_.new_task_queue = [] { return new httplib::ThreadPool(32); };
    // The library's default adds SO_REUSEPORT, under which a second server on a chosen port
    // would share it silently instead of failing.
    server_.set_socket_options([](socket_t sock) {
        int yes = 1;
        ::setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof(yes));
    });
    server_.Get(".*", [this](const httplib::Request& request, httplib::Response& response) {
        dispatch(request, response);
    });
    if (port > 0) {
        if (!server_.bind_to_port("127.0.0.1", port)) {
            throw std::runtime_error("cannot listen on 127.0.0.1:" + std::to_string(port) +
                                     " (in use, or not allowed)");
        }
        port_ = port;
    } else {
        port_ = server_.bind_to_any_port("127.0.0.1");
        if (port_ <= 0) throw std::runtime_error("cannot listen on 127.0.0.1");
    }
    server_.widenBacklog();
    thread_ = std::thread([this] {
        server_.listen_after_bind();
        std::lock_guard lock(mutex_);
        listenEnded_ = true;
    });
}

FakeHttpServer::~FakeHttpServer() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    changed_.notify_all();
    // stop() does nothing before the accept loop runs, so wait for it to start (or fail).
    for (;;) {
        if (server_.is_running()) break;
        std::lock_guard lock(mutex_);
        if (listenEnded_) break;
        std::this_thread::yield();
    }
    server_.stop();
    thread_.join();
}

void FakeHttpServer::get(const std::string& path, Handler handler) {
    std::lock_guard lock(mutex_);
    handlers_[path] = std::move(handler);
}

std::string FakeHttpServer::baseURL() const {
    return "http://127.0.0.1:" + std::to_string(port_);
}

std::string FakeHttpServer::url(const std::string& pathAndQuery) const {
    return baseURL() + pathAndQuery;
}

std::vector<FakeHttpServer::RecordedRequest> FakeHttpServer::requests() const {
    std::lock_guard lock(mutex_);
    return requests_;
}

std::size_t FakeHttpServer::requestCount() const {
    std::lock_guard lock(mutex_);
    return requests_.size();
}

bool FakeHttpServer::waitForRequests(std::size_t count, std::stop_token stop) const {
    std::unique_lock lock(mutex_);
    return changed_.wait(lock, stop, [&] { return requests_.size() >= count; });
}

void FakeHttpServer::hangUntilStopped() {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [&] { return stopping_; });
}

bool FakeHttpServer::pause(std::chrono::milliseconds duration) {
    std::unique_lock lock(mutex_);
    return !changed_.wait_for(lock, duration, [&] { return stopping_; });
}

void FakeHttpServer::dispatch(const httplib::Request& request, httplib::Response& response) {
    Handler handler;
    {
        std::lock_guard lock(mutex_);
        requests_.push_back(
            {request.method, request.path, request.params, request.headers, request.remote_port});
        if (auto found = handlers_.find(request.path); found != handlers_.end()) {
            handler = found->second;
        }
    }
    changed_.notify_all();
    if (handler) {
        handler(request, response);
    } else {
        response.status = 404;
    }
}

std::optional<std::string> FakeHttpServer::RecordedRequest::header(const std::string& name) const {
    auto found = headers.find(name);
    if (found == headers.end()) return std::nullopt;
    return found->second;
}

std::optional<std::string> FakeHttpServer::RecordedRequest::param(const std::string& name) const {
    auto found = params.find(name);
    if (found == params.end()) return std::nullopt;
    return found->second;
}

}  // namespace velto
