#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "foundation/Cancellation.h"
#include "library/online/OnlinePlaylistImportError.h"
#include "library/online/URLSessionPlaylistShareLinkResolver.h"
#include "sources/model/SourceError.h"
#include "support/FakeHttpServer.h"

namespace velto {
namespace {

// Answers each address from a script; an address without an answer is a 404. Each answer takes
// `hop` on a virtual clock, or fails as timed out at the request's own deadline.
struct ScriptedTransport {
    std::map<std::string, HttpResponse> answers;
    std::vector<HttpRequest> requests;
    std::chrono::steady_clock::time_point now;
    std::chrono::milliseconds hop{0};

    void redirect(const std::string& from, const std::string& to, int status = 302) {
        answers[from] = HttpResponse{status, from, {{"location", to}}, {}, false};
    }
    void ok(const std::string& at) { answers[at] = HttpResponse{200, at, {}, {}, false}; }

    URLSessionPlaylistShareLinkResolver resolver() {
        return URLSessionPlaylistShareLinkResolver(
            [this](const HttpRequest& request, std::stop_token) {
                requests.push_back(request);
                if (request.deadline && hop > *request.deadline) {
                    now += *request.deadline;
                    throw HttpError(HttpError::Code::timedOut, "deadline");
                }
                now += hop;
                auto it = answers.find(request.url);
                return it != answers.end() ? it->second : HttpResponse{404, request.url, {}, {}, false};
            },
            [this] { return now; });
    }
};

// Nine redirects in a row between music hosts, each ending in `hop` answers.
void chainOfNine(ScriptedTransport& script) {
    std::string at = "https://163cn.tv/s";
    for (int hop = 1; hop <= 9; ++hop) {
        const std::string next = "https://music.163.com/r" + std::to_string(hop);
        script.redirect(at, next);
        at = next;
    }
    script.ok(at);
}

TEST(OnlinePlaylistShareLinkTest, RedirectsAreFollowedEightTimesBetweenKnownHosts) {
    ScriptedTransport script;
    // The ninth redirect is refused and its sender is the result.
    chainOfNine(script);
    EXPECT_EQ(script.resolver().resolve("https://163cn.tv/s", {}), "https://music.163.com/r8");
    ASSERT_EQ(script.requests.size(), 9u);
    for (const auto& request : script.requests) {
        EXPECT_EQ(request.method, HttpRequest::Method::head);
        EXPECT_EQ(request.redirects, HttpRequest::Redirects::report);
        EXPECT_EQ(request.timeout, std::chrono::seconds(8));
    }
}

TEST(OnlinePlaylistShareLinkTest, SlowHopsEndAtOneDeadlineForTheWholeResolution) {
    using std::chrono::milliseconds;
    const auto deadline = URLSessionPlaylistShareLinkResolver::deadline;
    // Each hop just within its own time-out, and one that never answers.
    for (milliseconds hop : {milliseconds(7'500), milliseconds(deadline) * 10}) {
        ScriptedTransport script;
        chainOfNine(script);
        script.hop = hop;
        const auto start = script.now;
        try {
            script.resolver().resolve("https://163cn.tv/s", {});
            ADD_FAILURE() << "resolved after " << hop.count() << " ms hops";
        } catch (const SourceError& error) {
            EXPECT_EQ(error.kind(), SourceError::Kind::network);
        }
        EXPECT_LE(script.now - start, deadline) << hop.count();
        for (const auto& request : script.requests) {
            EXPECT_LE(request.deadline.value_or(milliseconds::max()), deadline);
        }
    }
}

TEST(OnlinePlaylistShareLinkTest, GuardRefusesForeignTargetsAndUpgradesPlainHTTP) {
    const std::string link = "https://163cn.tv/k";
    // Location, and the address the resolution ends at.
    const std::pair<std::string, std::string> cases[] = {
        {"https://evil.example/playlist?id=1", link},
        {"https://music.163.com:444/playlist?id=1", link},
        {"https://user:pw@music.163.com/playlist?id=1", link},
        {"ftp://music.163.com/playlist?id=1", link},
        {"https://music.163.com.evil.example/x", link},
        {"http://music.163.com/playlist?id=7", "https://music.163.com/playlist?id=7"},
        // A relative Location is taken against the address that sent it.
        {"/playlist?id=8", "https://163cn.tv/playlist?id=8"},
    };
    for (const auto& [location, expected] : cases) {
        ScriptedTransport script;
        script.redirect(link, location);
        // A refused redirect ends at the 3xx answer itself.
        const bool followed = expected != link;
        if (followed) script.ok(expected);
        EXPECT_EQ(script.resolver().resolve(link, {}), expected) << location;
        EXPECT_EQ(script.requests.size(), followed ? 2u : 1u) << location;
    }
}

TEST(OnlinePlaylistShareLinkTest, TransportFailuresAndCancellation) {
    // A failure while the import is being cancelled is the cancellation, else a network error.
    for (bool cancel : {true, false}) {
        std::stop_source stop;
        URLSessionPlaylistShareLinkResolver resolver([&](const HttpRequest&, std::stop_token) -> HttpResponse {
            if (cancel) stop.request_stop();
            throw HttpError(HttpError::Code::networkConnectionLost, "reset");
        });
        if (cancel) EXPECT_THROW(resolver.resolve("https://163cn.tv/x", stop.get_token()), CancellationError);
        else EXPECT_THROW(resolver.resolve("https://163cn.tv/x", stop.get_token()), SourceError);
    }
    ScriptedTransport script;
    std::stop_source stopped;
    stopped.request_stop();
    EXPECT_THROW(script.resolver().resolve("https://163cn.tv/x", stopped.get_token()), CancellationError);
    EXPECT_TRUE(script.requests.empty());
}

TEST(OnlinePlaylistShareLinkTest, RealHeadRequestsOverLoopback) {
    FakeHttpServer server;
    server.get("/ok", [](const httplib::Request&, httplib::Response& response) { response.status = 200; });
    server.get("/away", [](const httplib::Request&, httplib::Response& response) {
        response.status = 302;
        response.set_header("Location", "https://example.org/elsewhere");
    });
    URLSessionPlaylistShareLinkResolver resolver;
    EXPECT_EQ(resolver.resolve(server.url("/ok"), {}), server.url("/ok"));
    // Loopback is no music host: the redirect is refused and its sender comes back.
    EXPECT_EQ(resolver.resolve(server.url("/away"), {}), server.url("/away"));
    try {
        resolver.resolve(server.url("/missing"), {});
        ADD_FAILURE() << "a 404 resolved";
    } catch (const OnlinePlaylistImportError& error) {
        EXPECT_EQ(error.kind(), OnlinePlaylistImportError::Kind::unavailable);
    }
    for (const auto& request : server.requests()) EXPECT_EQ(request.method, "HEAD");
    EXPECT_EQ(server.requestCount(), 3u);
}

}  // namespace
}  // namespace velto
