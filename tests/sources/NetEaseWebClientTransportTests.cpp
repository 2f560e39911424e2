#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <condition_variable>
#include <memory>
#include <optional>
#include <thread>

#include "foundation/Log.h"
#include "platform/HttpClient.h"
#include "sources/netease/NetEaseWebClient.h"
#include "support/FakeHttpServer.h"
#include "support/InMemoryNetEaseKeychain.h"
#include "support/NetEaseFakeServer.h"
#include "support/TempDir.h"

namespace velto {
namespace {

using namespace std::chrono_literals;
using json = nlohmann::json;

class RecordingSleeper final : public Sleeper {
  public:
    void sleep(std::chrono::nanoseconds duration, const std::stop_token& stop) override {
        pauses.push_back(duration);
        if (duringPause) duringPause();
        throwIfCancelled(stop);
    }
    std::vector<std::chrono::nanoseconds> pauses;
    std::function<void()> duringPause;
};

// A port on 127.0.0.1 that nothing listens on (bound, then released).
int unusedPort() {
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    socklen_t length = sizeof address;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    ::close(fd);
    return ntohs(address.sin_port);
}

const json artistReply = {
    {"code", 200},
    {"artist", {{"id", 6452}, {"name", "林远舟"}, {"picUrl", "http://p1.music.126.net/a.jpg"}}},
    {"hotSongs", json::array()},
};

class NetEaseWebClientTransportTest : public ::testing::Test {
  protected:
    NetEaseWebClientTransportTest()
        : keychain(std::make_shared<InMemoryNetEaseKeychain>()),
          defaults(std::make_shared<UserDefaults>(dir.path() / "defaults.json")) {}

    std::unique_ptr<NetEaseWebClient> makeClient(std::string baseURL) {
        NetEaseCookieStore store(defaults, keychain, dir.path(),
                                 [](const std::string&) { return std::nullopt; });
        NetEaseWebClient::Options options;
        options.baseURL = std::move(baseURL);
        options.clock = [this] { return now; };
        options.sleeper = &sleeper;
        return std::make_unique<NetEaseWebClient>(std::move(store), std::move(options));
    }
    NetEaseWebClient& client() {
        if (!client_) client_ = makeClient(server.baseURL());
        return *client_;
    }

    template <class Body>
    NetEaseWebClient::Failure failureOf(Body body) {
        try {
            body();
        } catch (const NetEaseWebClient::Failure& failure) {
            return failure;
        }
        ADD_FAILURE() << "no failure";
        return NetEaseWebClient::Failure::missingCookie();
    }

    TempDir dir;
    std::shared_ptr<InMemoryNetEaseKeychain> keychain;
    std::shared_ptr<UserDefaults> defaults;
    NetEaseFakeServer server;
    RecordingSleeper sleeper;
    std::chrono::steady_clock::time_point now{};
    std::unique_ptr<NetEaseWebClient> client_;
};

TEST_F(NetEaseWebClientTransportTest, SendsTheFixedHeadersAndTheCookie) {
    keychain->item = "secretLogin";
    server.answerJSON("/api/search/hot", {{"code", 200}, {"result", {{"hots", json::array()}}}});
    client().hotSearches(12);

    // Without a usable cookie the request still goes out, with no Cookie header.
    keychain->item = "line\r\nX-Injected: yes";
    client().hotSearches(12);
    keychain->item.reset();
    client().hotSearches(12);

    auto requests = server.requests();
    ASSERT_EQ(requests.size(), 3u);
    EXPECT_EQ(requests[0].header("User-Agent"),
              "neteasemusic/9.6.07 (iPhone; iOS 27.0.1; Scale/3.00)");
    EXPECT_EQ(requests[0].header("Referer"), server.baseURL() + "/");
    EXPECT_EQ(requests[0].header("Accept"), "application/json");
    EXPECT_EQ(requests[0].header("Cookie"), "MUSIC_U=secretLogin; os=ios; appver=9.6.07");
    EXPECT_EQ(requests[0].target, "/api/search/hot?type=1111");
    for (int i : {1, 2})
        EXPECT_FALSE(requests[i].hasHeader("Cookie") || requests[i].hasHeader("X-Injected"));
}

TEST_F(NetEaseWebClientTransportTest, StatusCodeAndBodyDecideTheFailureWithoutRetry) {
    using Kind = NetEaseWebClient::Failure::Kind;
    struct Case {
        NetEaseFakeServer::Reply reply;
        Kind kind;
        int code;  // 0 for malformed bodies
        std::string message;
    };
    const std::string malformed = "网易云接口数据异常：/api/song/detail";
    const std::vector<Case> cases = {
        {{404, "{}"}, Kind::http, 404, "网易云接口返回 HTTP 404"},
        {{200, R"({"code":301,"msg":"需要登录"})"}, Kind::api, 301, "网易云接口错误 301：需要登录"},
        {{200, R"({"code":400,"message":"参数错误","msg":"x"})"},
         Kind::api,
         400,
         "网易云接口错误 400：参数错误"},
        {{200, R"({"code":-460,"msg":5})"}, Kind::api, -460, "网易云接口错误 -460："},
        {{200, R"({"code": 301.0})"}, Kind::api, 301, "网易云接口错误 301："},
        {{200, "[1,2]"}, Kind::malformed, 0, malformed},
        {{200, "<html>busy</html>"}, Kind::malformed, 0, malformed},
        {{200, ""}, Kind::malformed, 0, malformed},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.reply.body);
        server.answer("/api/song/detail", c.reply);
        auto failure = failureOf([&] { client().songDetail({"1"}); });
        EXPECT_EQ(failure.kind(), c.kind);
        EXPECT_EQ(failure.code(), c.code);
        EXPECT_EQ(failure.what(), c.message);
    }
    EXPECT_EQ(server.requestCount("/api/song/detail"), cases.size());
    EXPECT_TRUE(sleeper.pauses.empty());

    // A code that is no integer is no failure.
    const json song = {{"id", 1}, {"name", "雾中河"}};
    for (const auto& code : {std::optional<json>("200"), std::optional<json>(301.5),
                             std::optional<json>(nullptr), std::optional<json>()}) {
        json reply = {{"songs", {song}}};
        if (code) reply["code"] = *code;
        server.answerJSON("/api/song/detail", reply);
        EXPECT_EQ(client().songDetail({"1"}).size(), 1u) << reply.dump();
    }
}

TEST_F(NetEaseWebClientTransportTest, TransportFailureIsRetriedOnceAfterAPause) {
    int port = unusedPort();
    // Made before the client, so that it stops after the client has closed its idle
    // connection: the other way round its stop waits out the keep-alive time.
    std::unique_ptr<NetEaseFakeServer> late;
    auto offline = makeClient("http://127.0.0.1:" + std::to_string(port));
    EXPECT_THROW(offline->hotSearches(12), HttpError);
    ASSERT_EQ(sleeper.pauses.size(), 1u);
    EXPECT_EQ(sleeper.pauses[0], 350ms);

    // The second attempt really goes out: a server that comes up during the pause answers it.
    sleeper.duringPause = [&] {
        late = std::make_unique<NetEaseFakeServer>(port);
        late->answerJSON("/api/search/hot", {{"result", {{"hots", {{{"first", "雾中河"}}}}}}});
    };
    EXPECT_EQ(offline->hotSearches(12), std::vector<std::string>{"雾中河"});
    EXPECT_EQ(sleeper.pauses.size(), 2u);
    EXPECT_EQ(late->requestCount("/api/search/hot"), 1u);
}

TEST_F(NetEaseWebClientTransportTest, CancellationIsNeitherRetriedNorTurnedIntoAFailure) {
    server.answerJSON("/api/search/hot", {{"result", json::object()}});
    std::stop_source stop;
    stop.request_stop();
    EXPECT_THROW(client().hotSearches(12, stop.get_token()), CancellationError);
    EXPECT_TRUE(sleeper.pauses.empty());

    // A stop during the retry pause ends the request with the cancellation.
    auto offline = makeClient("http://127.0.0.1:" + std::to_string(unusedPort()));
    std::stop_source later;
    sleeper.duringPause = [&] { later.request_stop(); };
    EXPECT_THROW(offline->hotSearches(12, later.get_token()), CancellationError);
    EXPECT_EQ(sleeper.pauses.size(), 1u);
}

TEST_F(NetEaseWebClientTransportTest, ArtistAndAlbumAnswersAreKeptForSixtySeconds) {
    server.answerJSON("/api/v1/artist/6452", artistReply);
    auto first = client().artist("6452", 1, 50);
    now += 59s;
    auto second = client().artist("6452", 3, 10);
    EXPECT_EQ(server.requestCount("/api/v1/artist/6452"), 1u);
    EXPECT_EQ(first.artist, second.artist);

    now += 1s;  // exactly at the end of its lifetime the entry is gone
    client().artist("6452", 1, 50);
    EXPECT_EQ(server.requestCount("/api/v1/artist/6452"), 2u);

    server.answerJSON("/api/v1/album/18905",
                      {{"album", {{"id", 18905}, {"name", "远山集"}}}, {"songs", json::array()}});
    client().album("18905");
    client().album("18905");
    EXPECT_EQ(server.requestCount("/api/v1/album/18905"), 1u);
    now += 61s;
    client().album("18905");
    EXPECT_EQ(server.requestCount("/api/v1/album/18905"), 2u);

    // A failed answer is not kept.
    const auto kept = client().cachedEntryCount();
    server.answerJSON("/api/v1/artist/7", {{"artist", {{"name", "无编号"}}}});
    EXPECT_THROW(client().artist("7", 1, 1), NetEaseWebClient::Failure);
    EXPECT_THROW(client().artist("7", 1, 1), NetEaseWebClient::Failure);
    EXPECT_EQ(server.requestCount("/api/v1/artist/7"), 2u);
    EXPECT_EQ(client().cachedEntryCount(), kept);
}

TEST_F(NetEaseWebClientTransportTest, PurgeOnReachingSixtyFiveEntriesDropsOnlyExpiredOnes) {
    server.answerPrefix("/api/v1/artist/", [](const httplib::Request& request) {
        std::string id = request.path.substr(std::string("/api/v1/artist/").size());
        return NetEaseFakeServer::Reply{
            200, json{{"artist", {{"id", std::stoll(id)}, {"name", "歌手" + id}}}}.dump()};
    });
    for (int id = 1; id <= 10; ++id) client().artist(std::to_string(id), 1, 1);
    now += 61s;
    for (int id = 11; id <= 64; ++id) client().artist(std::to_string(id), 1, 1);
    EXPECT_EQ(client().cachedEntryCount(), 64u);  // expired entries wait for the purge
    client().artist("65", 1, 1);
    EXPECT_EQ(client().cachedEntryCount(), 55u);

    // All fresh: nothing is removed, the memo may grow past the threshold.
    auto fresh = makeClient(server.baseURL());
    for (int id = 1; id <= 66; ++id) fresh->artist(std::to_string(id), 1, 1);
    EXPECT_EQ(fresh->cachedEntryCount(), 66u);
}

// Each request is held at the server until `expected` requests are on the wire together; a
// client that kept them apart would make every one of them time out here.
class Rendezvous {
  public:
    explicit Rendezvous(int expected) : expected_(expected) {}
    NetEaseFakeServer::Reply arrive(const json& body) {
        std::unique_lock lock(mutex_);
        ++arrived_;
        cv_.notify_all();
        bool together = cv_.wait_for(lock, 20s, [this] { return arrived_ >= expected_; });
        return together ? NetEaseFakeServer::Reply{200, body.dump()}
                        : NetEaseFakeServer::Reply{503, "{}"};
    }

  private:
    std::mutex mutex_;
    std::condition_variable cv_;
    int arrived_ = 0;
    int expected_;
};

TEST_F(NetEaseWebClientTransportTest, RequestsOverlapOnTheNetwork) {
    Rendezvous rendezvous(3);
    server.answerPrefix("/api/v1/artist/",
                        [&](const httplib::Request&) { return rendezvous.arrive(artistReply); });
    server.answerPrefix("/api/v1/album/", [&](const httplib::Request&) {
        return rendezvous.arrive({{"album", {{"id", 2}, {"name", "专辑"}}}});
    });
    auto& shared = client();
    // Two overlapping calls for the same artist both go out; the later answer is kept.
    std::thread first([&] { EXPECT_NO_THROW(shared.artist("6452", 1, 1)); });
    std::thread second([&] { EXPECT_NO_THROW(shared.artist("6452", 1, 1)); });
    std::thread third([&] { EXPECT_NO_THROW(shared.album("2")); });
    first.join();
    second.join();
    third.join();
    EXPECT_EQ(server.requestCount("/api/v1/artist/6452"), 2u);
    EXPECT_EQ(shared.cachedEntryCount(), 2u);
    shared.artist("6452", 1, 1);
    EXPECT_EQ(server.requestCount("/api/v1/artist/6452"), 2u);
}

TEST_F(NetEaseWebClientTransportTest, IdsAreEscapedInPathsAndQueries) {
    server.answerPrefix("/api/", [](const httplib::Request&) {
        return NetEaseFakeServer::Reply{200, R"({"code":200})"};
    });
    client().artistAlbums("12/../34?x=1", 24, 48);
    client().songDetail({"1", "2"});
    EXPECT_THROW(client().lyric("5&admin=1"), NetEaseWebClient::Failure);  // no lyric in it
    auto requests = server.requests();
    ASSERT_EQ(requests.size(), 3u);
    EXPECT_EQ(requests[0].target, "/api/artist/albums/12%2F..%2F34%3Fx%3D1?limit=24&offset=48");
    EXPECT_EQ(requests[1].target, "/api/song/detail?ids=%5B1%2C2%5D");
    EXPECT_EQ(requests[1].params.find("ids")->second, "[1,2]");
    EXPECT_EQ(requests[2].params.find("id")->second, "5&admin=1");
    EXPECT_EQ(requests[2].params.count("admin"), 0u);
}

TEST_F(NetEaseWebClientTransportTest, LoginCookieNeverReachesTheLogOrAMessage) {
    std::vector<std::string> lines;
    std::mutex linesMutex;
    Log::setSink([&](Log::Level, std::string_view category, std::string_view message) {
        std::lock_guard lock(linesMutex);
        lines.push_back(std::string(category) + " " + std::string(message));
    });
    keychain->item = "TopSecret/Login=Value";
    // The forms a server may echo it in: as sent, percent-encoded in either case.
    const std::vector<std::string> forms = {"TopSecret/Login=Value", "TopSecret%2FLogin%3DValue",
                                            "TopSecret%2flogin%3dValue"};
    server.answer("/api/song/detail", {500, "oops"});
    server.answerJSON("/api/song/lyric",
                      {{"code", 301}, {"msg", "需要登录 TopSecret%2fLogin%3dValue"}});
    server.answer("/api/search/hot", {200, "not json"});
    EXPECT_THROW(client().songDetail({"1"}), NetEaseWebClient::Failure);
    const std::string shown = failureOf([&] { client().lyric("1"); }).what();
    EXPECT_EQ(shown, "网易云接口错误 301：需要登录 ***");
    EXPECT_THROW(client().hotSearches(1), NetEaseWebClient::Failure);
    auto offline = makeClient("http://127.0.0.1:" + std::to_string(unusedPort()));
    EXPECT_THROW(offline->account(), HttpError);
    FakeHttpServer redirecting;
    redirecting.get("/api/nuser/account/get", [](const httplib::Request&, httplib::Response& r) {
        r.status = 302;
        r.set_header("Location", "ftp://elsewhere.example/?c=TopSecret%2FLogin%3DValue");
    });
    EXPECT_THROW(makeClient(redirecting.baseURL())->account(), HttpError);
    Log::setSink({});

    EXPECT_GE(lines.size(), 5u);
    for (const auto& line : lines) {
        for (const auto& form : forms) EXPECT_EQ(line.find(form), std::string::npos) << line;
    }
}

TEST_F(NetEaseWebClientTransportTest, RequestHandsItsLimitsToTheHttpLayer) {
    const HttpRequest request = client().request("/api/search/hot", {});
    EXPECT_EQ(request.timeout, 15s);
    EXPECT_EQ(request.deadline, std::optional<std::chrono::milliseconds>(30s));
    EXPECT_EQ(request.maxBodyBytes, std::optional<std::size_t>(16u << 20));
}

TEST_F(NetEaseWebClientTransportTest, HostileAnswersFailOnceWithoutRetry) {
    // An endless answer is cut at the limit and refused, not buffered again.
    server.answer("/api/search/hot", {200, std::string((16u << 20) + 1, ' ')});
    try {
        client().hotSearches(12);
        ADD_FAILURE() << "an oversized answer was accepted";
    } catch (const HttpError& error) {
        EXPECT_EQ(error.code(), HttpError::Code::responseTooLarge);
        EXPECT_STREQ(error.what(), "返回数据过大");
    }
    EXPECT_EQ(server.requestCount("/api/search/hot"), 1u);
    EXPECT_TRUE(sleeper.pauses.empty());

    // A song whose privilege nests far too deep is malformed before anything copies it.
    const std::string deep = std::string(100'000, '[') + std::string(100'000, ']');
    server.answer("/api/song/detail",
                  {200, R"({"code":200,"songs":[{"id":1,"name":"雾中河"}],"privileges":[{"id":1,"x":)" +
                            deep + "}]}"});
    EXPECT_EQ(failureOf([&] { client().songDetail({"1"}); }).kind(),
              NetEaseWebClient::Failure::Kind::malformed);
}

}  // namespace
}  // namespace velto
