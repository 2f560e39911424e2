#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <condition_variable>
#include <future>
#include <limits>
#include <mutex>
#include <thread>

#include "foundation/Cancellation.h"
#include "platform/HttpClient.h"
#include "support/FakeHttpServer.h"

namespace velto {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

HttpRequest getRequest(std::string url) {
    HttpRequest request;
    request.url = std::move(url);
    return request;
}

HttpError::Code failureCode(HttpSession& session, const HttpRequest& request) {
    try {
        session.perform(request);
    } catch (const HttpError& error) {
        return error.code();
    }
    ADD_FAILURE() << "no HttpError for " << request.url;
    return HttpError::Code::other;
}

void redirect(FakeHttpServer& server, const std::string& from, const std::string& location,
              int status = 302) {
    server.get(from, [location, status](const httplib::Request&, httplib::Response& response) {
        response.status = status;
        response.set_header("Location", location);
    });
}

void answer(FakeHttpServer& server, const std::string& path, const std::string& body) {
    server.get(path, [body](const httplib::Request&, httplib::Response& response) {
        response.set_content(body, "text/plain");
    });
}

// Answers one connection on 127.0.0.1 with bytes written by hand, for answers that the regular
// server cannot produce; with a gap, one byte at a time.
class CannedAnswerServer {
public:
    explicit CannedAnswerServer(std::string answer, std::chrono::milliseconds gap = {}) {
        listener_ = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address);
        ::listen(listener_, 1);
        socklen_t length = sizeof address;
        ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length);
        port_ = ntohs(address.sin_port);
        thread_ = std::thread([this, answer = std::move(answer), gap] {
            int connection = ::accept(listener_, nullptr, nullptr);
            if (connection < 0) return;
            std::string head;
            char buffer[1024];
            while (head.find("\r\n\r\n") == std::string::npos) {
                ssize_t got = ::recv(connection, buffer, sizeof buffer, 0);
                if (got <= 0) break;
                head.append(buffer, static_cast<size_t>(got));
            }
            if (gap.count() == 0) {
                ::send(connection, answer.data(), answer.size(), MSG_NOSIGNAL);
            } else {
                for (char byte : answer) {
                    if (::send(connection, &byte, 1, MSG_NOSIGNAL) != 1 || stopsWithin(gap)) break;
                }
            }
            ::close(connection);
        });
    }
    ~CannedAnswerServer() {
        {
            std::lock_guard lock(mutex_);
            stopping_ = true;
        }
        wake_.notify_all();
        ::shutdown(listener_, SHUT_RDWR);
        thread_.join();
        ::close(listener_);
    }
    std::string url(const std::string& path) const {
        return "http://127.0.0.1:" + std::to_string(port_) + path;
    }

private:
    bool stopsWithin(std::chrono::milliseconds gap) {
        std::unique_lock lock(mutex_);
        return wake_.wait_for(lock, gap, [this] { return stopping_; });
    }

    int listener_ = -1;
    int port_ = 0;
    std::mutex mutex_;
    std::condition_variable wake_;
    bool stopping_ = false;
    std::thread thread_;
};

// The server is declared first so that the session's idle connections close before it stops.
class HttpClientTest : public ::testing::Test {
protected:
    FakeHttpServer server;
    HttpSession session;
};

TEST_F(HttpClientTest, ErrorStatusIsAResponseWithBodyAndLowerCaseHeaders) {
    server.get("/missing", [](const httplib::Request&, httplib::Response& response) {
        response.status = 404;
        response.set_header("X-Trace-ID", "Abc 123");
        response.set_content("no such song", "text/plain");
    });
    HttpResponse response = session.perform(getRequest(server.url("/missing")));
    EXPECT_EQ(response.statusCode, 404);
    EXPECT_EQ(response.body, "no such song");
    EXPECT_FALSE(response.bodyTruncated);
    EXPECT_EQ(response.url, server.url("/missing"));
    EXPECT_EQ(response.headers["x-trace-id"], "Abc 123");
    EXPECT_EQ(response.headers["content-type"], "text/plain");
    EXPECT_EQ(response.headers.count("X-Trace-ID"), 0u);
}

TEST(HttpClientHeaderTest, FoldedHeaderLinesBelongToTheHeaderAbove) {
    CannedAnswerServer server(
        "HTTP/1.1 200 OK\r\n"
        "X-Long: first\r\n"
        "  second\r\n"
        "\tthird: part\r\n"
        "Content-Length: 2\r\n"
        "Connection: close\r\n"
        "\r\n"
        "ok");
    HttpSession session;
    HttpResponse response = session.perform(getRequest(server.url("/")));
    EXPECT_EQ(response.body, "ok");
    EXPECT_EQ(response.headers["x-long"], "first second third: part");
    EXPECT_EQ(response.headers.count("third"), 0u);
}

TEST_F(HttpClientTest, HeadReturnsHeadersWithoutBody) {
    answer(server, "/song.mp3", "0123456789");
    HttpRequest request = getRequest(server.url("/song.mp3"));
    request.method = HttpRequest::Method::head;
    HttpResponse response = session.perform(request);
    EXPECT_EQ(response.statusCode, 200);
    EXPECT_EQ(response.headers["content-length"], "10");
    EXPECT_TRUE(response.body.empty());
    ASSERT_EQ(server.requestCount(), 1u);
    EXPECT_EQ(server.requests()[0].method, "HEAD");
}

TEST_F(HttpClientTest, RequestHeadersAndQueryReachTheServer) {
    answer(server, "/api/search", "{}");
    HttpRequest request = getRequest(server.url("/api/search?keywords=%E6%AD%8C&limit=25"));
    request.headers = {{"User-Agent", "velto-test"}, {"X-Api-Key", "k1"}};
    EXPECT_EQ(session.perform(request).statusCode, 200);
    ASSERT_EQ(server.requestCount(), 1u);
    auto received = server.requests()[0];
    EXPECT_EQ(received.method, "GET");
    EXPECT_EQ(received.path, "/api/search");
    EXPECT_EQ(received.param("keywords"), "歌");
    EXPECT_EQ(received.param("limit"), "25");
    EXPECT_EQ(received.header("user-agent"), "velto-test");
    EXPECT_EQ(received.header("x-api-key"), "k1");
    EXPECT_EQ(received.header("accept-encoding"), std::nullopt);
    EXPECT_EQ(received.header("cookie"), std::nullopt);
}

TEST_F(HttpClientTest, ConnectionIsReusedWithinASessionButNotAcrossSessions) {
    answer(server, "/a", "a");
    session.perform(getRequest(server.url("/a")));
    session.perform(getRequest(server.url("/a")));
    {
        HttpSession other;
        other.perform(getRequest(server.url("/a")));
    }
    auto received = server.requests();
    ASSERT_EQ(received.size(), 3u);
    EXPECT_EQ(received[0].remotePort, received[1].remotePort);
    EXPECT_NE(received[0].remotePort, received[2].remotePort);
}

// One slot serves these requests in turn; none may inherit what the one before it set or left.
TEST_F(HttpClientTest, AReusedConnectionCarriesNothingOver) {
    answer(server, "/a", "0123456789");
    server.get("/hang",
               [&](const httplib::Request&, httplib::Response&) { server.hangUntilStopped(); });

    HttpRequest head = getRequest(server.url("/a"));
    head.method = HttpRequest::Method::head;
    head.headers = {{"X-Api-Key", "k1"}, {"Range", "bytes=0-1"}};
    EXPECT_TRUE(session.perform(head).body.empty());
    HttpResponse plain = session.perform(getRequest(server.url("/a")));
    EXPECT_EQ(plain.body, "0123456789");
    EXPECT_EQ(plain.headers.count("content-range"), 0u);

    HttpRequest capped = getRequest(server.url("/a"));
    capped.maxBodyBytes = 3;
    EXPECT_TRUE(session.perform(capped).bodyTruncated);

    std::stop_source cancel;
    std::jthread canceller([&](std::stop_token ownStop) {
        if (server.waitForRequests(4, ownStop)) cancel.request_stop();
    });
    EXPECT_THROW(session.perform(getRequest(server.url("/hang")), cancel.get_token()),
                 CancellationError);

    HttpResponse after = session.perform(getRequest(server.url("/a")));
    EXPECT_EQ(after.body, "0123456789");
    EXPECT_FALSE(after.bodyTruncated);
    auto received = server.requests();
    ASSERT_EQ(received.size(), 5u);
    EXPECT_EQ(received[1].method, "GET");
    EXPECT_EQ(received[1].header("x-api-key"), std::nullopt);
    EXPECT_EQ(received[1].header("range"), std::nullopt);
    // A transfer cut short leaves its connection unusable; the next one opens afresh.
    EXPECT_NE(received[3].remotePort, received[4].remotePort);
}

TEST_F(HttpClientTest, ConcurrentRequestsOnOneSession) {
    server.get("/echo", [](const httplib::Request& request, httplib::Response& response) {
        response.set_content(request.get_param_value("n"), "text/plain");
    });
    std::vector<std::future<bool>> results;
    for (int worker = 0; worker < 8; ++worker) {
        results.push_back(std::async(std::launch::async, [&, worker] {
            bool allRight = true;
            for (int i = 0; i < 10; ++i) {
                std::string n = std::to_string(worker * 100 + i);
                allRight &= session.perform(getRequest(server.url("/echo?n=" + n))).body == n;
            }
            return allRight;
        }));
    }
    for (auto& result : results) EXPECT_TRUE(result.get());
    EXPECT_EQ(server.requestCount(), 80u);
}

TEST_F(HttpClientTest, ServerThatNeverAnswersTimesOut) {
    server.get("/hang",
               [&](const httplib::Request&, httplib::Response&) { server.hangUntilStopped(); });
    HttpRequest request = getRequest(server.url("/hang"));
    request.timeout = 200ms;
    EXPECT_EQ(failureCode(session, request), HttpError::Code::timedOut);
}

// Sends `count` bytes, one every `interval`; counts what went out.
void trickle(FakeHttpServer& server, const std::string& path, int count,
             std::chrono::milliseconds interval, std::atomic<int>& bytesSent) {
    server.get(path, [&, count, interval](const httplib::Request&, httplib::Response& response) {
        response.set_chunked_content_provider(
            "audio/mpeg", [&, count, interval](size_t, httplib::DataSink& sink) {
                for (int i = 0; i < count; ++i) {
                    if (!sink.write("x", 1)) return false;
                    ++bytesSent;
                    if (!server.pause(interval)) return false;
                }
                sink.done();
                return true;
            });
    });
}

TEST_F(HttpClientTest, SteadyProgressKeepsASlowAnswerAlive) {
    std::atomic<int> bytesSent = 0;
    trickle(server, "/slow", 12, 100ms, bytesSent);
    HttpRequest request = getRequest(server.url("/slow"));
    request.timeout = 600ms;  // half the whole answer's time, six times the gap between bytes
    HttpResponse response = session.perform(request);
    EXPECT_EQ(response.body, std::string(12, 'x'));
}

TEST(HttpClientHeadTest, AHeadTricklingInLineByLineStillTimesOut) {
    // Every short line comes well within the time-out; the whole head never does.
    std::string head = "HTTP/1.1 200 OK\r\n";
    for (int i = 0; i < 400; ++i) head += "a:b\r\n";
    CannedAnswerServer server(head, 10ms);
    HttpSession session;
    HttpRequest request = getRequest(server.url("/"));
    request.timeout = 300ms;
    EXPECT_EQ(failureCode(session, request), HttpError::Code::timedOut);
}

TEST_F(HttpClientTest, DeadlineEndsATransferThatKeepsProgressing) {
    std::atomic<int> bytesSent = 0;
    trickle(server, "/trickle", 2000, 20ms, bytesSent);
    HttpRequest request = getRequest(server.url("/trickle"));
    request.timeout = 10s;  // never reached: a byte arrives every 20 ms
    request.deadline = 300ms;
    auto start = Clock::now();
    EXPECT_EQ(failureCode(session, request), HttpError::Code::timedOut);
    EXPECT_LT(Clock::now() - start, 5s);
    EXPECT_GT(bytesSent.load(), 0);
}

TEST_F(HttpClientTest, LongestTimeLimitsDoNotExpireAtOnce) {
    answer(server, "/a", "a");
    HttpRequest request = getRequest(server.url("/a"));
    request.timeout = std::chrono::milliseconds::max();
    EXPECT_EQ(session.perform(request).body, "a");
    request.timeout = 10s;
    request.deadline = std::chrono::milliseconds::max();
    EXPECT_EQ(session.perform(request).body, "a");
}

TEST_F(HttpClientTest, CancellationAbortsAHungRequest) {
    server.get("/hang",
               [&](const httplib::Request&, httplib::Response&) { server.hangUntilStopped(); });
    std::stop_source cancel;
    std::jthread canceller([&](std::stop_token ownStop) {
        if (server.waitForRequests(1, ownStop)) cancel.request_stop();
    });
    HttpRequest request = getRequest(server.url("/hang"));
    request.timeout = 60s;
    auto start = Clock::now();
    EXPECT_THROW(session.perform(request, cancel.get_token()), CancellationError);
    EXPECT_LT(Clock::now() - start, 5s);
}

TEST_F(HttpClientTest, CancelledBeforeStartSendsNothing) {
    answer(server, "/a", "a");
    std::stop_source cancel;
    cancel.request_stop();
    EXPECT_THROW(session.perform(getRequest(server.url("/a")), cancel.get_token()),
                 CancellationError);
    EXPECT_EQ(server.requestCount(), 0u);
}

TEST_F(HttpClientTest, BodyCapStopsAHugeStream) {
    constexpr size_t total = 256u << 20;
    constexpr size_t chunk = 64u << 10;
    std::atomic<size_t> bytesSent = 0;
    std::promise<void> streamEnded;
    server.get("/huge", [&](const httplib::Request&, httplib::Response& response) {
        response.set_content_provider(
            total, "audio/flac",
            [&](size_t offset, size_t, httplib::DataSink& sink) {
                std::string data(chunk, '\0');
                for (size_t i = 0; i < chunk; ++i) data[i] = static_cast<char>((offset + i) % 251);
                if (!sink.write(data.data(), data.size())) return false;
                bytesSent += chunk;
                return true;
            },
            [&](bool) { streamEnded.set_value(); });
    });
    HttpRequest request = getRequest(server.url("/huge"));
    request.maxBodyBytes = 100'000;
    HttpResponse response = session.perform(request);
    EXPECT_EQ(response.statusCode, 200);
    EXPECT_TRUE(response.bodyTruncated);
    ASSERT_EQ(response.body.size(), 100'000u);
    for (size_t i = 0; i < response.body.size(); i += 997) {
        ASSERT_EQ(static_cast<unsigned char>(response.body[i]), i % 251) << "at " << i;
    }
    streamEnded.get_future().wait();  // the server noticed the client leaving
    EXPECT_LT(bytesSent.load(), total / 8);
}

TEST_F(HttpClientTest, BodyCapEdges) {
    answer(server, "/ten", "0123456789");
    HttpRequest request = getRequest(server.url("/ten"));

    request.maxBodyBytes = 10;
    HttpResponse exact = session.perform(request);
    EXPECT_EQ(exact.body, "0123456789");
    EXPECT_FALSE(exact.bodyTruncated);

    request.maxBodyBytes = 4;
    HttpResponse cut = session.perform(request);
    EXPECT_EQ(cut.body, "0123");
    EXPECT_TRUE(cut.bodyTruncated);

    request.maxBodyBytes = 0;
    HttpResponse none = session.perform(request);
    EXPECT_EQ(none.statusCode, 200);
    EXPECT_EQ(none.body, "");
    EXPECT_TRUE(none.bodyTruncated);
}

TEST_F(HttpClientTest, FollowsAbsoluteAndRelativeRedirects) {
    redirect(server, "/dir/start", "next", 301);          // relative to /dir/
    redirect(server, "/dir/next", "/abs?x=1", 307);       // absolute path
    redirect(server, "/abs", server.url("/final"), 303);  // full address
    answer(server, "/final", "done");
    std::vector<std::pair<std::string, std::string>> asked;
    HttpRequest request = getRequest(server.url("/dir/start"));
    request.redirectPolicy = [&](const std::string& from, const std::string& to) {
        asked.emplace_back(from, to);
        return true;
    };
    HttpResponse response = session.perform(request);
    EXPECT_EQ(response.statusCode, 200);
    EXPECT_EQ(response.body, "done");
    EXPECT_EQ(response.url, server.url("/final"));
    std::vector<std::pair<std::string, std::string>> expected = {
        {server.url("/dir/start"), server.url("/dir/next")},
        {server.url("/dir/next"), server.url("/abs?x=1")},
        {server.url("/abs?x=1"), server.url("/final")},
    };
    EXPECT_EQ(asked, expected);
    ASSERT_EQ(server.requestCount(), 4u);
    EXPECT_EQ(server.requests()[2].param("x"), "1");
}

TEST_F(HttpClientTest, FollowsALocationWithSpacesAndRawUTF8) {
    redirect(server, "/share", "/songs/雾中河 live.mp3");
    answer(server, "/songs/雾中河 live.mp3", "song");
    HttpResponse response = session.perform(getRequest(server.url("/share")));
    EXPECT_EQ(response.statusCode, 200);
    EXPECT_EQ(response.body, "song");
    EXPECT_EQ(response.url, server.url("/songs/%e9%9b%be%e4%b8%ad%e6%b2%b3%20live.mp3"));
}

TEST_F(HttpClientTest, HeadStaysHeadAcrossRedirects) {
    redirect(server, "/share", "/song");
    answer(server, "/song", "abc");
    HttpRequest request = getRequest(server.url("/share"));
    request.method = HttpRequest::Method::head;
    HttpResponse response = session.perform(request);
    EXPECT_EQ(response.statusCode, 200);
    EXPECT_EQ(response.url, server.url("/song"));
    auto received = server.requests();
    ASSERT_EQ(received.size(), 2u);
    EXPECT_EQ(received[1].method, "HEAD");
}

TEST_F(HttpClientTest, RefusedOrReportedRedirectReturnsThe3xx) {
    redirect(server, "/start", "/elsewhere");
    answer(server, "/elsewhere", "x");

    HttpRequest refused = getRequest(server.url("/start"));
    refused.redirectPolicy = [](const std::string&, const std::string&) { return false; };
    HttpResponse response = session.perform(refused);
    EXPECT_EQ(response.statusCode, 302);
    EXPECT_EQ(response.url, server.url("/start"));
    EXPECT_EQ(response.headers["location"], "/elsewhere");

    HttpRequest reported = getRequest(server.url("/start"));
    reported.redirects = HttpRequest::Redirects::report;
    EXPECT_EQ(session.perform(reported).statusCode, 302);

    EXPECT_EQ(server.requestCount(), 2u);  // /elsewhere was never asked for
}

TEST_F(HttpClientTest, RedirectToAnotherSchemeIsRefused) {
    redirect(server, "/file", "file:///etc/passwd");
    redirect(server, "/ftp", "ftp://127.0.0.1/song.mp3");
    redirect(server, "/ftp-upper", "FTP://127.0.0.1/song.mp3");
    for (const char* path : {"/file", "/ftp", "/ftp-upper"}) {
        bool policyAsked = false;
        HttpRequest request = getRequest(server.url(path));
        request.redirectPolicy = [&](const std::string&, const std::string&) {
            return policyAsked = true;
        };
        EXPECT_EQ(failureCode(session, request), HttpError::Code::redirectRefused) << path;
        EXPECT_FALSE(policyAsked) << path;
    }
}

TEST_F(HttpClientTest, RedirectLimitIsInclusive) {
    server.get("/hop", [](const httplib::Request& request, httplib::Response& response) {
        int left = std::stoi(request.get_param_value("n"));
        if (left == 0) return response.set_content("arrived", "text/plain");
        response.status = 302;
        response.set_header("Location", "/hop?n=" + std::to_string(left - 1));
    });
    HttpRequest request = getRequest(server.url("/hop?n=3"));
    request.maxRedirects = 3;
    EXPECT_EQ(session.perform(request).body, "arrived");

    request.url = server.url("/hop?n=4");
    EXPECT_EQ(failureCode(session, request), HttpError::Code::tooManyRedirects);
    EXPECT_EQ(server.requestCount(), 4u + 4u);  // the fifth hop is never requested

    request.maxRedirects = 0;
    EXPECT_EQ(failureCode(session, request), HttpError::Code::tooManyRedirects);
}

TEST_F(HttpClientTest, CredentialsStayWithTheirOrigin) {
    FakeHttpServer other;
    HttpSession crossSession;  // closes its connections before `other` stops
    answer(other, "/cdn", "x");
    redirect(server, "/same", "/cross");
    redirect(server, "/cross", other.url("/cdn"));
    HttpRequest request = getRequest(server.url("/same"));
    request.headers = {{"Cookie", "MUSIC_U=secret"}, {"Referer", "https://example.test/"}};
    EXPECT_EQ(crossSession.perform(request).statusCode, 200);
    auto here = server.requests();
    ASSERT_EQ(here.size(), 2u);
    EXPECT_EQ(here[1].header("cookie"), "MUSIC_U=secret");
    auto there = other.requests();
    ASSERT_EQ(there.size(), 1u);
    EXPECT_EQ(there[0].header("cookie"), std::nullopt);
    EXPECT_EQ(there[0].header("referer"), "https://example.test/");
}

TEST(HttpClientFailureTest, TransportFailuresAreClassified) {
    std::string closedAddress;
    {
        FakeHttpServer gone;
        closedAddress = gone.url("/x");
    }
    HttpSession session;
    EXPECT_EQ(failureCode(session, getRequest(closedAddress)),
              HttpError::Code::cannotConnectToHost);
    // A user reads Chinese; host, port and curl's words stay in the detail for the log.
    try {
        session.perform(getRequest(closedAddress));
    } catch (const HttpError& error) {
        EXPECT_STREQ(error.what(), "无法连接服务器");
        EXPECT_NE(error.detail().find("127.0.0.1"), std::string::npos) << error.detail();
        EXPECT_EQ(error.curlCode(), 7);
    }
    EXPECT_EQ(failureCode(session, getRequest("ftp://127.0.0.1/x")),
              HttpError::Code::unsupportedURL);
    EXPECT_EQ(failureCode(session, getRequest("file:///etc/passwd")),
              HttpError::Code::unsupportedURL);
    EXPECT_EQ(failureCode(session, getRequest("http://")), HttpError::Code::badURL);
    EXPECT_EQ(failureCode(session, getRequest("no address")), HttpError::Code::badURL);
}

}  // namespace
}  // namespace velto
