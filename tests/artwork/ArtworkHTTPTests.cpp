#include <gtest/gtest.h>

#include <atomic>
#include <future>

#include "artwork/ArtworkAddressPolicy.h"
#include "artwork/URLSessionArtworkHTTPClient.h"
#include "foundation/Cancellation.h"
#include "sources/model/SourceError.h"
#include "support/FakeHttpServer.h"

using namespace velto;

TEST(ArtworkAddressPolicy, PrivateHostsOnlyBesideALoopbackService) {
    const ArtworkAddressPolicy strict;
    for (const char* refused :
         {"http://127.0.0.1/a", "http://localhost:80/a", "http://LOCALHOST./a", "http://a.localhost/a",
          "http://127.1/a", "http://0x7f000001/a", "http://2130706433/a", "http://10.1.2.3/a",
          "http://172.20.0.1/a", "http://192.168.0.1/a", "http://169.254.169.254/a",
          "http://0.0.0.0/a", "http://[::1]/a", "http://[::ffff:127.0.0.1]/a", "http://[fd00::1]/a",
          "http://[fe80::1]/a", "ftp://img.test/a", "file:///a", "https://u@img.test/a",
          "https://%6cocalhost/a", "img.test/a", "https:///a"}) {
        EXPECT_FALSE(strict.allows(refused)) << refused;
    }
    for (const char* allowed : {"https://img.test/a.jpg", "HTTP://8.8.8.8/a", "http://[2001:db8::1]/a",
                                "https://172.32.0.1/a"})
        EXPECT_TRUE(strict.allows(allowed)) << allowed;

    const auto local = ArtworkAddressPolicy::forServiceOrigins(
        {std::nullopt, "https://music.test", "http://127.0.0.1:8080"});
    EXPECT_TRUE(local.allows("http://192.168.0.1/a"));
    EXPECT_FALSE(local.allows("ftp://127.0.0.1/a"));
    EXPECT_FALSE(ArtworkAddressPolicy::forServiceOrigins({"https://music.test"}).allowsPrivateHosts());
}

TEST(URLSessionArtworkHTTPClient, AnswersAndFailures) {
    FakeHttpServer server;
    server.get("/empty", [](const auto&, auto& response) { response.status = 200; });
    server.get("/cap", [](const auto&, auto& response) {
        response.set_content(std::string(16 * 1024 * 1024 + 1, 'x'), "image/jpeg");
    });
    for (int status : {304, 404, 500}) {
        server.get("/" + std::to_string(status), [status](const auto&, auto& response) {
            response.status = status;
            if (status != 304) response.set_content("body", "text/plain");
        });
    }
    HttpSession session;
    URLSessionArtworkHTTPClient client(session, ArtworkAddressPolicy(true));
    auto failure = [&](const std::string& url) -> std::string {
        try {
            client.data(url, {});
        } catch (const SourceError& error) {
            return error.what();
        }
        return "(answered)";
    };
    EXPECT_EQ(client.data(server.url("/empty"), {}), "");
    for (const char* path : {"/304", "/404", "/500", "/cap"})
        EXPECT_EQ(failure(server.url(path)), "封面请求返回异常") << path;

    const auto before = server.requestCount();
    URLSessionArtworkHTTPClient strict(session);
    EXPECT_THROW(strict.data(server.url("/empty"), {}), SourceError);
    EXPECT_EQ(server.requestCount(), before);

    std::stop_source stop;
    stop.request_stop();
    EXPECT_THROW(client.data(server.url("/empty"), stop.get_token()), CancellationError);
    EXPECT_EQ(failure("http://127.0.0.1:1/closed"), "网络失败");
}

// The whole download is bounded, progress or not (the HTTP layer's tests cover its clock). The
// test's wait is bounded too: a download that never ends fails here within seconds.
TEST(URLSessionArtworkHTTPClient, ATricklingDownloadEndsAtItsDeadline) {
    FakeHttpServer server;
    std::atomic<bool> givenUp = false;
    server.get("/slow", [&](const httplib::Request&, httplib::Response& response) {
        response.set_chunked_content_provider(
            "image/jpeg", [&](size_t, httplib::DataSink& sink) {
                while (!givenUp && sink.write("x", 1) && server.pause(std::chrono::milliseconds(20))) {
                }
                return false;
            });
    });
    HttpSession session;
    URLSessionArtworkHTTPClient client(session, ArtworkAddressPolicy(true),
                                       std::chrono::milliseconds(200));
    std::stop_source stop;
    auto download = std::async(std::launch::async,
                               [&] { return client.data(server.url("/slow"), stop.get_token()); });
    if (download.wait_for(std::chrono::seconds(10)) == std::future_status::timeout) {
        ADD_FAILURE() << "the download still ran 10 s after its 200 ms deadline";
        givenUp = true;
        stop.request_stop();
    }
    EXPECT_THROW(download.get(), SourceError);
}
