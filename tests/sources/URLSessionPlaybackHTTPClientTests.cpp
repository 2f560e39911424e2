#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <thread>

#include "ChkszTestSupport.h"
#include "foundation/Cancellation.h"
#include "platform/HttpClient.h"
#include "sources/resolving/URLSessionPlaybackHTTPClient.h"
#include "support/FakeHttpServer.h"

namespace velto {
namespace {

class URLSessionPlaybackHTTPClientTest : public ::testing::Test {
  protected:
    FakeHttpServer server;
    // Closed before the server, so that its stop waits on no idle connection.
    HttpSession session;
    URLSessionPlaybackHTTPClient client{session};

    PlaybackHTTPRequest request(const std::string& path, double timeout = 5.0) {
        PlaybackHTTPRequest request;
        request.url = server.url(path);
        request.timeoutSeconds = timeout;
        return request;
    }
    // The network failure of a request, with the code of the error underneath.
    HttpError::Code networkFailureOf(const PlaybackHTTPRequest& request) {
        return httpCodeUnder([&] { client.send(request, {}); });
    }
};

TEST_F(URLSessionPlaybackHTTPClientTest, TimeoutIsClampedIntoTheDeadline) {
    EXPECT_EQ(URLSessionPlaybackHTTPClient::effectiveTimeout(0), 0.01);
    EXPECT_EQ(URLSessionPlaybackHTTPClient::effectiveTimeout(-3), 0.01);
    EXPECT_EQ(URLSessionPlaybackHTTPClient::effectiveTimeout(0.01), 0.01);
    EXPECT_EQ(URLSessionPlaybackHTTPClient::effectiveTimeout(12.5), 12.5);
    EXPECT_EQ(URLSessionPlaybackHTTPClient::effectiveTimeout(45), 30);
    EXPECT_EQ(URLSessionPlaybackHTTPClient::effectiveTimeout(INFINITY), 8);
    EXPECT_EQ(URLSessionPlaybackHTTPClient::effectiveTimeout(NAN), 8);
}

TEST_F(URLSessionPlaybackHTTPClientTest, ErrorStatusesAreAnswersWithBodyAndLowerCaseHeaders) {
    server.get("/missing", [](const httplib::Request&, httplib::Response& response) {
        response.status = 404;
        response.set_header("X-Rate-Note", "Keep Case");
        response.set_content("no such thing", "text/plain");
    });
    const auto response = client.send(request("/missing"), {});
    EXPECT_EQ(response.statusCode, 404);
    EXPECT_EQ(response.body, "no such thing");
    EXPECT_EQ(response.headers.at("x-rate-note"), "Keep Case");
    EXPECT_FALSE(response.headers.contains("X-Rate-Note"));
    EXPECT_FALSE(response.bodyTruncated);
}

TEST_F(URLSessionPlaybackHTTPClientTest, BodyStopsAtTheCapAndSaysSo) {
    server.get("/big", [](const httplib::Request&, httplib::Response& response) {
        response.set_content(std::string(1 << 16, 'x'), "application/json");
    });
    auto capped = request("/big");
    capped.maxBodyBytes = 1000;
    const auto response = client.send(capped, {});
    EXPECT_TRUE(response.bodyTruncated);
    EXPECT_LE(response.body.size(), 1000u);
}

TEST_F(URLSessionPlaybackHTTPClientTest, ServerThatNeverAnswersHitsTheDeadline) {
    server.get("/hang",
               [this](const httplib::Request&, httplib::Response&) { server.hangUntilStopped(); });
    // A zero time-out is raised to the shortest deadline, never read as "no limit".
    EXPECT_EQ(networkFailureOf(request("/hang", 0)), HttpError::Code::timedOut);
    EXPECT_EQ(networkFailureOf(request("/hang", 0.05)), HttpError::Code::timedOut);
}

TEST_F(URLSessionPlaybackHTTPClientTest, RefusedConnectionIsANetworkFailure) {
    std::string closed;
    {
        FakeHttpServer gone;
        closed = gone.url("/x");
    }
    PlaybackHTTPRequest refused;
    refused.url = closed;
    EXPECT_NE(networkFailureOf(refused), HttpError::Code::timedOut);
}

TEST_F(URLSessionPlaybackHTTPClientTest, CancellationDuringTheTransferEndsItAtOnce) {
    server.get("/hang",
               [this](const httplib::Request&, httplib::Response&) { server.hangUntilStopped(); });
    std::stop_source stop;
    std::jthread canceller([&] {
        if (server.waitForRequests(1)) stop.request_stop();
    });
    EXPECT_THROW(client.send(request("/hang", 30), stop.get_token()), CancellationError);
}

TEST_F(URLSessionPlaybackHTTPClientTest, CancelledBeforeTheStartSendsNothing) {
    std::stop_source stop;
    stop.request_stop();
    EXPECT_THROW(client.send(request("/anything"), stop.get_token()), CancellationError);
    EXPECT_EQ(server.requestCount(), 0u);
}

// A client that implements only `send`, to exercise the interface's default probes.
class FixedBodyClient : public PlaybackHTTPClient {
  public:
    int sends = 0;
    PlaybackHTTPResponse send(const PlaybackHTTPRequest&, std::stop_token) override {
        ++sends;
        return {206, {{"content-type", "audio/mpeg"}}, "ID3abcdef", false};
    }
};

TEST(PlaybackHTTPClientProbeTest, DefaultProbeKeepsAtLeastOneByte) {
    FixedBodyClient client;
    PlaybackHTTPRequest request;
    EXPECT_EQ(client.probe(request, 0, 8, {}).body, "I");
    EXPECT_EQ(client.probe(request, -4, 8, {}).body, "I");
    const auto response = client.probeSameOrigin(request, 3, 8, {});
    EXPECT_EQ(response.body, "ID3");
    EXPECT_EQ(response.statusCode, 206);
    EXPECT_EQ(client.probe(request, 100, 8, {}).body, "ID3abcdef");

    std::stop_source stop;
    stop.request_stop();
    EXPECT_THROW(client.probe(request, 8, 8, stop.get_token()), CancellationError);
    EXPECT_EQ(client.sends, 4);
}

}  // namespace
}  // namespace velto
