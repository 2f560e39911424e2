#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <thread>

#include "foundation/Cancellation.h"
#include "platform/HttpClient.h"
#include "sources/resolving/PlaybackMediaPrefixProbe.h"
#include "sources/model/SourceError.h"
#include "sources/resolving/URLSessionPlaybackHTTPClient.h"
#include "support/FakeHttpServer.h"
#include "support/RangeIgnoringAnswer.h"
#include "support/SourceErrorOf.h"

namespace velto {
namespace {

class PlaybackMediaPrefixProbeTest : public ::testing::Test {
  protected:
    FakeHttpServer server;
    HttpSession session;
    URLSessionPlaybackHTTPClient client{session};

    PlaybackHTTPRequest rangeRequest(const std::string& path) {
        PlaybackHTTPRequest request;
        request.url = server.url(path);
        request.headers = {{"Range", "bytes=0-1"}};
        return request;
    }

    void redirect(const std::string& path, const std::string& location) {
        server.get(path, [location](const httplib::Request&, httplib::Response& response) {
            response.status = 302;
            response.set_header("Location", location);
        });
    }
};

TEST_F(PlaybackMediaPrefixProbeTest, ShortRangeAnswerEndsBeforeTheCap) {
    server.get("/a.mp3", [](const httplib::Request&, httplib::Response& response) {
        response.status = 206;
        response.set_content("ID", "audio/mpeg");
    });
    auto response = client.probe(rangeRequest("/a.mp3"), 64, 8.0, {});
    EXPECT_EQ(response.statusCode, 206);
    EXPECT_EQ(response.body, "ID");
    EXPECT_EQ(response.headers.at("content-type"), "audio/mpeg");
    ASSERT_EQ(server.requestCount(), 1u);
    EXPECT_EQ(server.requests()[0].header("Range"), "bytes=0-1");
}

TEST_F(PlaybackMediaPrefixProbeTest, IgnoredRangeCostsOnlyTheCap) {
    constexpr size_t total = 256u << 20;
    constexpr size_t chunk = 64u << 10;
    std::atomic<size_t> bytesSent = 0;
    std::promise<void> streamEnded;
    server.get("/whole.flac", [&](const httplib::Request&, httplib::Response& response) {
        response.status = 200;
        response.set_chunked_content_provider(
            "audio/flac",
            [&](size_t, httplib::DataSink& sink) {
                const std::string data(chunk, 'f');
                if (!sink.write(data.data(), data.size())) return false;
                bytesSent += chunk;
                if (bytesSent >= total) sink.done();
                return true;
            },
            [&](bool) { streamEnded.set_value(); });
    });
    auto response = client.probe(rangeRequest("/whole.flac"), 64, 8.0, {});
    EXPECT_EQ(response.statusCode, 200);
    EXPECT_EQ(response.body, std::string(64, 'f'));
    streamEnded.get_future().wait();  // the server saw the client hang up
    EXPECT_LT(bytesSent.load(), total / 16);
}

TEST_F(PlaybackMediaPrefixProbeTest, ErrorStatusComesBackWithoutBody) {
    server.get("/gone", [](const httplib::Request&, httplib::Response& response) {
        response.status = 403;
        response.set_content("<html>forbidden</html>", "text/html");
    });
    auto response = client.probe(rangeRequest("/gone"), 64, 8.0, {});
    EXPECT_EQ(response.statusCode, 403);
    EXPECT_TRUE(response.body.empty());
}

TEST_F(PlaybackMediaPrefixProbeTest, CapBelowOneKeepsOneByte) {
    server.get("/a.mp3", [](const httplib::Request&, httplib::Response& response) {
        answerIgnoringRange(response, 200, "audio/mpeg", "abcdef");
    });
    EXPECT_EQ(client.probe(rangeRequest("/a.mp3"), 0, 8.0, {}).body, "a");
    EXPECT_EQ(client.probe(rangeRequest("/a.mp3"), -5, 8.0, {}).body, "a");
    EXPECT_EQ(PlaybackMediaPrefixProbe(-1, std::nullopt).maxBytes(), 1u);
}

TEST_F(PlaybackMediaPrefixProbeTest, PlainProbeFollowsWebRedirectsOnly) {
    server.get("/b.mp3", [](const httplib::Request&, httplib::Response& response) {
        answerIgnoringRange(response, 200, "audio/mpeg", "ID3");
    });
    redirect("/a.mp3", server.url("/b.mp3"));
    EXPECT_EQ(client.probe(rangeRequest("/a.mp3"), 64, 8.0, {}).body, "ID3");

    for (const std::string target : {"file:///etc/passwd", "ftp://127.0.0.1/a.mp3"}) {
        redirect("/away", target);
        EXPECT_EQ(httpCodeUnder([&] { client.probe(rangeRequest("/away"), 64, 8.0, {}); }),
                  HttpError::Code::redirectRefused)
            << target;
    }
}

TEST_F(PlaybackMediaPrefixProbeTest, SameOriginProbeRefusesRedirectsOffItsOrigin) {
    server.get("/b.mp3", [](const httplib::Request&, httplib::Response& response) {
        answerIgnoringRange(response, 200, "audio/mpeg", "ID3");
    });
    // A plain-http start is no https origin, so even a redirect to the same server is refused.
    redirect("/a.mp3", server.url("/b.mp3"));
    auto error = underlyingOf([&] { client.probeSameOrigin(rangeRequest("/a.mp3"), 64, 8.0, {}); });
    ASSERT_TRUE(error);
    EXPECT_EQ(sourceErrorOf([&] { std::rethrow_exception(error); }), "脚本接口跳转到了未授权的地址");
    EXPECT_EQ(server.requestCount(), 1u);

    // Without redirects the same-origin probe answers like the plain one.
    EXPECT_EQ(client.probeSameOrigin(rangeRequest("/b.mp3"), 64, 8.0, {}).body, "ID3");
}

TEST_F(PlaybackMediaPrefixProbeTest, SameOriginProbeNeedsAnAddress) {
    EXPECT_EQ(sourceErrorOf([&] { client.probeSameOrigin(PlaybackHTTPRequest(), 64, 8.0, {}); }),
              "脚本请求地址无效");
}

TEST_F(PlaybackMediaPrefixProbeTest, SilentServerHitsTheDeadline) {
    server.get("/hang",
               [&](const httplib::Request&, httplib::Response&) { server.hangUntilStopped(); });
    EXPECT_EQ(httpCodeUnder([&] { client.probe(rangeRequest("/hang"), 64, 0.2, {}); }),
              HttpError::Code::timedOut);
}

TEST_F(PlaybackMediaPrefixProbeTest, CancellationEndsAHungProbe) {
    server.get("/hang",
               [&](const httplib::Request&, httplib::Response&) { server.hangUntilStopped(); });
    std::stop_source stop;
    std::jthread canceller([&](std::stop_token own) {
        if (server.waitForRequests(1, own)) stop.request_stop();
    });
    EXPECT_THROW(client.probe(rangeRequest("/hang"), 64, 30.0, stop.get_token()),
                 CancellationError);

    std::stop_source early;
    early.request_stop();
    EXPECT_THROW(client.probe(rangeRequest("/hang"), 64, 8.0, early.get_token()),
                 CancellationError);
    EXPECT_EQ(server.requestCount(), 1u);
}

TEST_F(PlaybackMediaPrefixProbeTest, RefusedConnectionIsANetworkFailure) {
    PlaybackHTTPRequest request;
    {
        FakeHttpServer closed;
        request.url = closed.url("/a.mp3");
    }
    auto error = underlyingOf([&] { client.probe(request, 64, 8.0, {}); });
    EXPECT_TRUE(error);
}

}  // namespace
}  // namespace velto
