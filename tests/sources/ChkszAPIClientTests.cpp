#include <gtest/gtest.h>

#include <cmath>
#include <mutex>
#include <thread>

#include "ChkszTestSupport.h"
#include "foundation/text/Base64.h"
#include "foundation/Log.h"
#include "platform/HttpClient.h"
#include "sources/rovoz/ChkszAPIClient.h"
#include "sources/rovoz/ChkszNetEaseClient.h"
#include "sources/credentials/InMemoryCredentialStore.h"
#include "sources/resolving/URLSessionPlaybackHTTPClient.h"
#include "support/FakeHttpServer.h"

namespace velto {
namespace {

using namespace std::chrono_literals;
using nlohmann::json;
using Params = std::map<std::string, std::string>;

// Records each wait and moves the test clock by it instead of sleeping.
class ClockSleeper : public Sleeper {
  public:
    explicit ClockSleeper(std::chrono::steady_clock::time_point& now) : now_(now) {}
    std::vector<std::chrono::nanoseconds> waits;
    void sleep(std::chrono::nanoseconds duration, const std::stop_token& stop) override {
        throwIfCancelled(stop);
        waits.push_back(duration);
        now_ += std::chrono::duration_cast<std::chrono::steady_clock::duration>(duration);
    }

  private:
    std::chrono::steady_clock::time_point& now_;
};

struct Reply {
    int status = 200;
    std::string body = R"({"code":200,"data":{}})";
    httplib::Headers headers;
};

class ChkszAPIClientTest : public ::testing::Test {
  protected:
    static constexpr const char* key = "k3y+/=&secret";

    FakeHttpServer server;
    // Closed before the server, so that its stop waits on no idle connection.
    HttpSession session;
    std::chrono::steady_clock::time_point now{std::chrono::hours(3)};
    ClockSleeper sleeper{now};
    std::shared_ptr<ChkszCircuitBreaker> breaker =
        std::make_shared<ChkszCircuitBreaker>([this] { return now; });
    std::shared_ptr<URLSessionPlaybackHTTPClient> http =
        std::make_shared<URLSessionPlaybackHTTPClient>(session);

    std::mutex mutex;
    std::deque<Reply> replies;  // served in order; the last one repeats
    std::vector<std::string> targets;

    void SetUp() override {
        for (const char* path : {"/api/163_search", "/api/163_lyric", "/api/163_music",
                                 "/api/163_playlist", "/api/kugou_music"}) {
            server.get(path, [this](const httplib::Request& request, httplib::Response& response) {
                std::lock_guard lock(mutex);
                targets.push_back(request.target);
                const Reply reply = replies.empty() ? Reply{} : replies.front();
                if (replies.size() > 1) replies.pop_front();
                response.status = reply.status;
                for (const auto& [name, value] : reply.headers) response.set_header(name, value);
                response.set_content(reply.body, "application/json");
            });
        }
    }

    void serve(std::initializer_list<Reply> list) { replies.assign(list); }

    ChkszAPIClient client(std::optional<std::string> apiKey = key, double timeout = 8,
                          std::optional<std::string> base = std::nullopt) {
        return ChkszAPIClient(http, std::make_shared<InMemoryCredentialStore>(apiKey), breaker,
                              base ? base : std::optional(server.baseURL()), timeout, sleeper);
    }
    std::string failure(const std::string& path, const Params& params = {{"id", "1"}},
                        SourceError::Kind kind = SourceError::Kind::source) {
        auto api = client();
        return sourceErrorOf([&] { api.request(path, params, {}); }, kind);
    }
};

TEST_F(ChkszAPIClientTest, MissingOrBlankKeyOrNoAddressAskForCredentials) {
    breaker->disable("HTTP 401");  // not even consulted
    for (const auto& apiKey : {std::optional<std::string>(), std::optional<std::string>(" \n\t")}) {
        auto api = client(apiKey);
        EXPECT_EQ(sourceErrorOf([&] { api.request("/api/163_search", {}, {}); },
                                SourceError::Kind::credentialRequired),
                  "未配置第三方音源凭据，暂不可用");
    }
    ChkszAPIClient unconfigured(http, std::make_shared<InMemoryCredentialStore>(key), breaker,
                                std::nullopt);
    EXPECT_EQ(sourceErrorOf([&] { unconfigured.request("/api/163_search", {}, {}); },
                            SourceError::Kind::credentialRequired),
              "未配置第三方音源凭据，暂不可用");
    EXPECT_EQ(server.requestCount(), 0u);
}

TEST_F(ChkszAPIClientTest, QueryIsSortedEncodedAndCarriesTheTrimmedKey) {
    auto api = client(std::string("  ") + key + "\n");
    const std::string body = api.request("/api/163_search",
                                         {{"offset", "0"},
                                          {"limit", "25"},
                                          {"keyword", "林远舟 & 雾中河=+"},
                                          {"apikey", "caller's own"}},
                                         {});
    EXPECT_EQ(body, R"({"code":200,"data":{}})");
    ASSERT_EQ(targets.size(), 1u);
    const std::string& target = targets[0];
    EXPECT_TRUE(target.starts_with("/api/163_search?apikey=")) << target;
    EXPECT_LT(target.find("apikey="), target.find("keyword="));
    EXPECT_LT(target.find("keyword="), target.find("limit="));
    EXPECT_LT(target.find("limit="), target.find("offset="));
    const auto recorded = server.requests().at(0);
    EXPECT_EQ(recorded.param("apikey"), key);
    EXPECT_EQ(recorded.param("keyword"), "林远舟 & 雾中河=+");
    EXPECT_EQ(recorded.method, "GET");
}

TEST_F(ChkszAPIClientTest, MalformedPathOrBaseAddressIsAnAddressError) {
    EXPECT_EQ(failure("no-slash"), "RoVOz 请求地址异常");
    EXPECT_EQ(failure("/api/with space"), "RoVOz 请求地址异常");
    auto broken = client(key, 8, std::string("not an address"));
    EXPECT_EQ(sourceErrorOf([&] { broken.request("/api/163_search", {}, {}); }),
              "RoVOz 请求地址异常");
    EXPECT_EQ(server.requestCount(), 0u);
}

TEST_F(ChkszAPIClientTest, RateLimitIsRetriedOnceThenPausesTheBreakerWithItsOwnDelay) {
    serve({{429, "{}", {{"RETRY-AFTER", "3"}}}, {}});
    EXPECT_EQ(client().request("/api/163_lyric", {{"id", "1"}}, {}), R"({"code":200,"data":{}})");
    EXPECT_EQ(server.requestCount(), 2u);
    EXPECT_EQ(sleeper.waits, std::vector<std::chrono::nanoseconds>{3s});
    EXPECT_EQ(breaker->blockedMessage(), std::nullopt);

    serve({{429, "{}", {{"Retry-After", "3"}}}, {429, "{}", {{"retry-after", "7"}}}});
    EXPECT_EQ(failure("/api/163_music"), "RoVOz 请求过于频繁（HTTP 429）");
    EXPECT_EQ(server.requestCount(), 4u);

    // The pause answers without touching the network.
    now += 6s;
    EXPECT_EQ(failure("/api/163_music"), "RoVOz 限流冷却中（HTTP 429）");
    EXPECT_EQ(server.requestCount(), 4u);
    now += 1s;
    serve({{}});
    EXPECT_NO_THROW(client().request("/api/163_music", {{"id", "1"}}, {}));
    EXPECT_EQ(server.requestCount(), 5u);
}

TEST_F(ChkszAPIClientTest, RetryDelayBounds) {
    struct Case {
        std::optional<std::string> header;
        std::optional<std::chrono::nanoseconds> wait;  // none: no retry
    };
    const std::vector<Case> cases = {
        {"10", 10s},        {"11", std::nullopt},
        {std::nullopt, 5s}, {"Wed, 21 Oct 2026 07:28:00 GMT", 5s},
        {"3s", 5s},         {"-2", 0s},
        {"2.5e0", 2500ms},  {"1e999", std::nullopt},
        {"nan", 5s},
    };
    for (const auto& c : cases) {
        sleeper.waits.clear();
        const auto before = server.requestCount();
        Reply limited{429, "{}", {}};
        if (c.header) limited.headers.emplace("Retry-After", *c.header);
        serve({limited});
        const auto pauseStart = now;
        EXPECT_EQ(failure("/api/163_search"), "RoVOz 请求过于频繁（HTTP 429）");
        EXPECT_EQ(server.requestCount() - before, c.wait ? 2u : 1u) << c.header.value_or("-");
        if (c.wait) {
            EXPECT_EQ(sleeper.waits, std::vector<std::chrono::nanoseconds>{*c.wait});
        } else {
            EXPECT_TRUE(sleeper.waits.empty());
        }
        EXPECT_TRUE(breaker->blockedMessage()) << c.header.value_or("-");
        now = pauseStart + 61s;
        EXPECT_FALSE(breaker->blockedMessage());
    }
}

TEST_F(ChkszAPIClientTest, CancellationDuringTheRetryWaitEndsTheRequest) {
    serve({{429, "{}", {{"Retry-After", "1"}}}, {}});
    std::stop_source stop;
    struct StoppingSleeper : Sleeper {
        std::stop_source* source;
        void sleep(std::chrono::nanoseconds, const std::stop_token& token) override {
            source->request_stop();
            throwIfCancelled(token);
        }
    } stopping;
    stopping.source = &stop;
    ChkszAPIClient api(http, std::make_shared<InMemoryCredentialStore>(key), breaker,
                       server.baseURL(), 8, stopping);
    EXPECT_THROW(api.request("/api/163_search", {}, stop.get_token()), CancellationError);
    EXPECT_EQ(server.requestCount(), 1u);
}

TEST_F(ChkszAPIClientTest, RefusedKeyDisablesTheServiceForTheRun) {
    for (int status : {401, 403}) {
        breaker = std::make_shared<ChkszCircuitBreaker>([this] { return now; });
        serve({{status, "{}", {}}});
        const auto code = std::to_string(status);
        EXPECT_EQ(failure("/api/163_search"), "RoVOz 凭证无效或已过期（HTTP " + code + "）");
        EXPECT_EQ(breaker->reason(), "HTTP " + code);
        const auto sent = server.requestCount();
        now += 24h;
        EXPECT_EQ(failure("/api/163_lyric"), "RoVOz 已停用（HTTP " + code + "）");
        EXPECT_EQ(server.requestCount(), sent);
    }
    breaker = std::make_shared<ChkszCircuitBreaker>([this] { return now; });
    serve({{402, "{}", {}}});
    EXPECT_EQ(failure("/api/163_search"), "RoVOz 额度已耗尽（HTTP 402）");
    EXPECT_EQ(failure("/api/163_search"), "RoVOz 已停用（HTTP 402）");
}

TEST_F(ChkszAPIClientTest, OtherStatusesAreWordedByWhatWasAsked) {
    const std::vector<std::tuple<int, std::string, Params, std::string>> cases = {
        {204, "/api/163_search", {{"keyword", "k"}}, "第三方搜索失败（HTTP 204）"},
        {500,
         "/api/163_music",
         {{"id", "1"}, {"level", "exhigh"}, {"type", "json"}},
         "第三方播放解析失败（HTTP 500）"},
        {404, "/api/163_lyric", {{"id", "1"}}, "第三方歌词请求失败（HTTP 404）"},
        {502, "/api/163_playlist", {{"id", "1"}}, "第三方歌单读取失败（HTTP 502）"},
        {503, "/api/kugou_music", {{"msg", "k"}, {"type", "json"}}, "第三方搜索失败（HTTP 503）"},
        {503, "/api/kugou_music", {{"msg", "k"}, {"n", "1"}}, "第三方播放解析失败（HTTP 503）"},
        {503, "/api/kugou_music", {{"msg", "k"}, {"mid", "1"}}, "第三方播放解析失败（HTTP 503）"},
    };
    for (const auto& [status, path, params, message] : cases) {
        // A 204 carries no body; one sent anyway would spoil the reused connection.
        serve({{status, status == 204 ? "" : "{}", {}}});
        EXPECT_EQ(failure(path, params), message);
    }
    EXPECT_FALSE(breaker->blockedMessage());
}

TEST_F(ChkszAPIClientTest, EnvelopesWithoutAnErrorCodeAreAccepted) {
    for (const char* body : {R"({"data":1})", R"({"code":"abc"})", R"({"code":"200"})",
                             R"({"code":200.7})", R"({"code":null})"}) {
        serve({{200, body, {}}});
        EXPECT_EQ(client().request("/api/163_search", {}, {}), body);
    }
}

TEST_F(ChkszAPIClientTest, EnvelopeErrorsNameTheServiceOnce) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {R"({"code":500,"msg":"  歌曲不存在 \n"})", "RoVOz: 歌曲不存在"},
        {R"({"code":"500","msg":"rovoz busy"})", "rovoz busy"},
        {R"({"code":500,"msg":"ROVOZ: 维护中"})", "ROVOZ: 维护中"},
        {R"({"code":500,"msg":"chksz busy"})", "RoVOz: chksz busy"},
        {R"({"code":500})", "RoVOz: 返回异常（API 500）"},
        {R"({"code":500,"msg":"   "})", "RoVOz: 返回异常（API 500）"},
        {R"({"code":-1,"msg":7})", "RoVOz: 返回异常（API -1）"},
    };
    for (const auto& [body, message] : cases) {
        serve({{200, body, {}}});
        EXPECT_EQ(failure("/api/163_search"), message) << body;
    }
    EXPECT_EQ(server.requestCount(), cases.size());  // never retried
    EXPECT_FALSE(breaker->blockedMessage());
}

TEST_F(ChkszAPIClientTest, EnvelopeRefusalsAndRateLimits) {
    serve({{200, R"({"code":429})", {{"Retry-After", "30"}}}});
    const auto start = now;
    EXPECT_EQ(failure("/api/163_search"), "RoVOz 请求过于频繁（API 429）");
    EXPECT_EQ(server.requestCount(), 1u);
    now = start + 4999ms;
    EXPECT_EQ(breaker->blockedMessage(), "RoVOz 限流冷却中（HTTP 429）");
    now = start + 5s;
    EXPECT_EQ(breaker->blockedMessage(), std::nullopt);

    serve({{200, R"({"code":"403","msg":"bad key"})", {}}});
    EXPECT_EQ(failure("/api/163_search"), "RoVOz 凭证无效或已过期（API 403）");
    EXPECT_EQ(breaker->reason(), "API 403");

    breaker = std::make_shared<ChkszCircuitBreaker>([this] { return now; });
    serve({{200, R"({"code":402})", {}}});
    EXPECT_EQ(failure("/api/163_search"), "RoVOz 额度已耗尽（API 402）");
    EXPECT_EQ(breaker->reason(), "API 402");
}

TEST_F(ChkszAPIClientTest, MalformedBodiesNeverCrash) {
    std::string deep(200000, '[');
    deep += std::string(200000, ']');
    const std::string huge = R"({"code":200,"data":")" + std::string(17 << 20, 'x') + "\"}";
    for (const std::string& body :
         {std::string("not json"), std::string("[1,2]"), std::string(""), std::string("{\"code\":"),
          std::string("\"\xff\xfe\""), deep, huge}) {
        serve({{200, body, {}}});
        EXPECT_EQ(failure("/api/163_search"), "RoVOz 返回 JSON 异常") << body.substr(0, 20);
    }
}

TEST_F(ChkszAPIClientTest, TimeoutIsNormalised) {
    for (double wrong : {0.0, -1.0, double(INFINITY), double(NAN)})
        EXPECT_EQ(client(key, wrong).requestTimeout(), 8) << wrong;
    EXPECT_EQ(client(key, 45).requestTimeout(), 30);
    EXPECT_EQ(client(key, 12.5).requestTimeout(), 12.5);
}

TEST_F(ChkszAPIClientTest, SilentServerEndsAtTheDeadlineOrOnCancellation) {
    server.get("/api/hang",
               [this](const httplib::Request&, httplib::Response&) { server.hangUntilStopped(); });
    auto hasty = client(key, 0.05);
    EXPECT_EQ(
        sourceErrorOf([&] { hasty.request("/api/hang", {}, {}); }, SourceError::Kind::network),
        "网络失败");
    EXPECT_FALSE(breaker->blockedMessage());

    std::stop_source stop;
    std::jthread canceller([&] {
        if (server.waitForRequests(2)) stop.request_stop();
    });
    auto api = client();
    EXPECT_THROW(api.request("/api/hang", {}, stop.get_token()), CancellationError);
}

// A transport whose error text quotes the address it failed on, also with lower-case escapes.
class QuotingTransport : public PlaybackHTTPClient {
  public:
    PlaybackHTTPResponse send(const PlaybackHTTPRequest& request, std::stop_token) override {
        std::string lower = request.url;
        for (std::size_t at = lower.find('%'); at != std::string::npos; at = lower.find('%', at + 1))
            for (std::size_t i = at + 1; i < at + 3 && i < lower.size(); ++i)
                lower[i] = static_cast<char>(std::tolower(static_cast<unsigned char>(lower[i])));
        throw SourceError::network(std::make_exception_ptr(HttpError(
            HttpError::Code::cannotConnectToHost, "Failed to reach " + request.url + " " + lower)));
    }
};

TEST_F(ChkszAPIClientTest, KeyNeverReachesLogsOrMessages) {
    std::vector<std::string> lines;
    std::mutex linesMutex;
    Log::setSink([&](Log::Level, std::string_view category, std::string_view message) {
        std::lock_guard lock(linesMutex);
        lines.emplace_back(std::string(category) + " " + std::string(message));
    });
    std::vector<std::string> messages;
    const auto collect = [&](const std::function<void()>& work) {
        try {
            work();
        } catch (const SourceError& error) {
            messages.emplace_back(error.what());
            if (error.underlying()) {
                try {
                    std::rethrow_exception(error.underlying());
                } catch (const HttpError& inner) {
                    messages.emplace_back(inner.what());
                    messages.emplace_back(inner.detail());
                } catch (const std::exception& inner) {
                    messages.emplace_back(inner.what());
                }
            }
        }
    };

    serve({{429, "{}", {{"Retry-After", "1"}}},
           {500, "{}", {}},
           {200, std::string(R"({"code":500,"msg":"bad apikey )") + key + " k3y%2b%2f%3d%26secret " +
                     Base64::encode(std::string("apikey=") + key) + "\"}",
            {}},
           {401, "{}", {}}});
    for (int i = 0; i < 3; ++i) {
        collect([&] { client().request("/api/163_search", {{"keyword", "k"}}, {}); });
    }
    ChkszAPIClient quoting(std::make_shared<QuotingTransport>(),
                           std::make_shared<InMemoryCredentialStore>(key),
                           std::make_shared<ChkszCircuitBreaker>(), server.baseURL());
    collect([&] { quoting.request("/api/163_search", {{"keyword", "k"}}, {}); });
    Log::setSink({});

    ASSERT_EQ(messages.size(), 6u);
    EXPECT_EQ(messages[1], "RoVOz: bad apikey *** *** YXBpa2V5P***");
    EXPECT_EQ(messages[4], "无法连接服务器");
    EXPECT_NE(messages[5].find("Failed to reach"), std::string::npos);
    EXPECT_FALSE(lines.empty());
    for (const std::string& form : {std::string(key), std::string("k3y%2B%2F%3D%26secret"),
                                   std::string("k3y%2b%2f%3d%26secret")}) {
        for (const auto& text : lines) EXPECT_EQ(text.find(form), std::string::npos) << text;
        for (const auto& text : messages) EXPECT_EQ(text.find(form), std::string::npos) << text;
    }
}

// The whole RoVOz stack against the loopback service.
TEST_F(ChkszAPIClientTest, NetEaseClientOverTheService) {
    auto api = std::make_shared<ChkszAPIClient>(client());
    ChkszNetEaseClient netease(api);

    const json searchAnswer = {
        {"code", 200},
        {"data",
         {{"total", 30},
          {"songs",
           {{{"id", 186016}, {"name", "雾中河"}, {"artists", "林远舟"}, {"duration", 269000}}}}}}};
    serve({{200, searchAnswer.dump(), {}}});
    const auto page = netease.search("雾中河", 2, 25, {});
    ASSERT_EQ(page.list.size(), 1u);
    EXPECT_EQ(page.list[0].musicID(), "wy_186016");
    EXPECT_EQ(page.allPage, 2);
    EXPECT_EQ(server.requests().back().param("offset"), "25");

    serve({{200, R"({"code":200,"data":{"lrc":"[00:00.00]雾中河","tlyric":""}})", {}}});
    EXPECT_EQ(netease.lyric(page.list[0], {}).lyric, "[00:00.00]雾中河");

    serve(
        {{200, R"({"code":200,"data":{"url":"http://m.example/1.flac","level":"lossless"}})", {}}});
    EXPECT_EQ(netease.musicURL(page.list[0], Quality::lossless, {}),
              (ChkszPlaybackResult{"https://m.example/1.flac", Quality::lossless}));
    EXPECT_EQ(server.requests().back().param("level"), "lossless");

    serve({{200, R"({"code":404,"msg":"无版权"})", {}}});
    EXPECT_EQ(sourceErrorOf([&] { netease.musicURL(page.list[0], Quality::high, {}); }),
              "RoVOz: 无版权");
}

}  // namespace
}  // namespace velto
