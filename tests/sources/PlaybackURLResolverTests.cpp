#include <gtest/gtest.h>
#include <sys/stat.h>

#include "ScriptedResolver.h"

#include <fstream>
#include <future>
#include <mutex>

#include "foundation/Cancellation.h"
#include "platform/HttpClient.h"
#include "sources/rovoz/ChkszCircuitBreaker.h"
#include "sources/credentials/InMemoryCredentialStore.h"
#include "sources/resolving/PlaybackMediaPrefixProbe.h"
#include "sources/resolving/PlaybackURLCache.h"
#include "sources/resolving/PlaybackURLResolver.h"
#include "sources/model/SourceError.h"
#include "sources/resolving/URLSessionPlaybackHTTPClient.h"
#include "support/FakeHttpServer.h"
#include "support/LoopbackPlaybackHTTPClient.h"
#include "support/RangeIgnoringAnswer.h"
#include "support/ScriptedChkszNetEase.h"
#include "support/StalledShare.h"
#include "support/TempDir.h"
#include "support/SourceErrorOf.h"

namespace velto {
namespace {

using testing::messageOf;
using testing::makeTrack;

using namespace std::chrono_literals;

class PlaybackURLResolverTest : public ::testing::Test {
  protected:
    FakeHttpServer server;
    HttpSession session;
    std::shared_ptr<LoopbackPlaybackHTTPClient> client =
        std::make_shared<LoopbackPlaybackHTTPClient>(session);
    std::shared_ptr<ScriptedChkszNetEase> netease = std::make_shared<ScriptedChkszNetEase>();
    std::chrono::steady_clock::time_point now{std::chrono::hours(5)};
    std::shared_ptr<PlaybackURLCache> cache =
        std::make_shared<PlaybackURLCache>(1200, [this] { return now; });
    PlaybackURLResolver resolver{client, nullptr, nullptr, cache, nullptr, netease};

    void SetUp() override {
        serve("/s.mp3", 206, "audio/mpeg", "ID");
        netease->answer(server.url("/s.mp3"));
    }

    void serve(const std::string& path, int status, std::string type, std::string body) {
        server.get(path, [=](const httplib::Request&, httplib::Response& response) {
            answerIgnoringRange(response, status, type, body);
        });
    }

    std::string httpsURL(const std::string& path) {
        return "https://127.0.0.1:" + std::to_string(server.port()) + path;
    }
};

TEST_F(PlaybackURLResolverTest, SecondResolutionIsServedFromTheCache) {
    EXPECT_EQ(resolver.musicURL(makeTrack(), Quality::high, {}), httpsURL("/s.mp3"));
    now += 1199s;
    EXPECT_EQ(resolver.musicURL(makeTrack(), Quality::high, {}), httpsURL("/s.mp3"));
    EXPECT_EQ(netease->asked().size(), 1u);
    EXPECT_EQ(server.requestCount(), 1u);

    now += 1s;
    resolver.musicURL(makeTrack(), Quality::high, {});
    EXPECT_EQ(netease->asked().size(), 2u);
    EXPECT_EQ(server.requestCount(), 2u);
}

TEST_F(PlaybackURLResolverTest, HttpAnswerIsUpgradedBeforeTheProbe) {
    netease->answer(server.url("/s.mp3?sign=abc"));
    EXPECT_EQ(resolver.musicURL(makeTrack(), Quality::high, {}), httpsURL("/s.mp3?sign=abc"));
    ASSERT_EQ(client->probed().size(), 1u);
    EXPECT_EQ(client->probed()[0], httpsURL("/s.mp3?sign=abc"));
    ASSERT_EQ(server.requestCount(), 1u);
    EXPECT_EQ(server.requests()[0].header("Range"), "bytes=0-1");
}

TEST_F(PlaybackURLResolverTest, LowerDeliveryFailsButServesTheNextRungFromTheCache) {
    netease->answer(server.url("/s.mp3"), Quality::high);
    EXPECT_EQ(messageOf([&] { resolver.musicURL(makeTrack(), Quality::lossless, {}); }),
              "该音质不可用，实际返回 320k");
    EXPECT_EQ(resolver.musicURL(makeTrack(), Quality::high, {}), httpsURL("/s.mp3"));
    EXPECT_EQ(netease->asked(), std::vector{Quality::lossless});
    EXPECT_EQ(server.requestCount(), 1u);
}

TEST_F(PlaybackURLResolverTest, HigherDeliveryIsCachedUnderBothQualities) {
    netease->answer(server.url("/s.mp3"), Quality::lossless);
    resolver.musicURL(makeTrack(), Quality::high, {});
    EXPECT_EQ(cache->value({makeTrack(), Quality::high}), httpsURL("/s.mp3"));
    EXPECT_EQ(cache->value({makeTrack(), Quality::lossless}), httpsURL("/s.mp3"));
    resolver.musicURL(makeTrack(), Quality::lossless, {});
    EXPECT_EQ(netease->asked().size(), 1u);
}

TEST_F(PlaybackURLResolverTest, RefreshAsksAgainAndReplacesTheEntry) {
    resolver.musicURL(makeTrack(), Quality::high, {});
    serve("/t.mp3", 200, "audio/mpeg", "ID3");
    netease->answer(server.url("/t.mp3"));
    EXPECT_EQ(resolver.refreshMusicURL(makeTrack(), Quality::high, {}), httpsURL("/t.mp3"));
    EXPECT_EQ(netease->asked().size(), 2u);
    EXPECT_EQ(server.requestCount(), 2u);
    EXPECT_EQ(resolver.musicURL(makeTrack(), Quality::high, {}), httpsURL("/t.mp3"));
}

TEST_F(PlaybackURLResolverTest, ProbeVerdicts) {
    struct Case {
        int status;
        std::string type;
        std::string body;
        std::string expected;  // empty: accepted
    };
    const std::string nonMedia = "RoVOz 播放链接返回了非媒体内容";
    const std::vector<Case> cases = {
        {206, "audio/mpeg", "ID", ""},
        {200, "video/mp4",
         std::string("\0\0\0\x18"
                     "ftyp",
                     8),
         ""},
        {200, "", "\xff\xfb\x90\x64", ""},
        {200, "application/octet-stream", "{", ""},
        {200, "text/html", "<html>", nonMedia},
        {200, "application/json; charset=utf-8", "x", nonMedia},
        {200, "", "  \n{\"code\":403}", nonMedia},
        {200, "", "\u3000ERROR: expired", nonMedia},
        {200, "", "[1]", nonMedia},
        {200, "audio/mpeg", "", nonMedia},
        {403, "text/html", "<html>no</html>", "RoVOz 播放链接失效（HTTP 403）"},
        {404, "", "", "RoVOz 播放链接失效（HTTP 404）"},
    };
    int index = 0;
    for (const auto& entry : cases) {
        const std::string path = "/case" + std::to_string(index);
        serve(path, entry.status, entry.type, entry.body);
        netease->answer(server.url(path));
        const Track track = makeTrack(MusicSource::wy, std::to_string(2000 + index++));
        if (entry.expected.empty()) {
            EXPECT_EQ(resolver.musicURL(track, Quality::high, {}), httpsURL(path));
        } else {
            EXPECT_EQ(messageOf([&] { resolver.musicURL(track, Quality::high, {}); }),
                      entry.expected)
                << path;
            // A refused address is never cached.
            EXPECT_EQ(cache->value({track, Quality::high}), std::nullopt) << path;
        }
    }
}

TEST_F(PlaybackURLResolverTest, ProbeReadsAtMost64BytesWithinEightSeconds) {
    struct Recording : LoopbackPlaybackHTTPClient {
        using LoopbackPlaybackHTTPClient::LoopbackPlaybackHTTPClient;
        PlaybackHTTPResponse probe(const PlaybackHTTPRequest& request, int maxBytes,
                                   double timeout, std::stop_token stop) override {
            handed.push_back(PlaybackMediaPrefixProbe(maxBytes, std::nullopt).request(request, timeout));
            return LoopbackPlaybackHTTPClient::probe(request, maxBytes, timeout, stop);
        }
        std::vector<HttpRequest> handed;
    };
    auto recording = std::make_shared<Recording>(session);
    PlaybackURLResolver probing{recording, nullptr, nullptr, cache, nullptr, netease};
    probing.musicURL(makeTrack(), Quality::high, {});
    ASSERT_EQ(recording->handed.size(), 1u);
    EXPECT_EQ(recording->handed[0].maxBodyBytes, std::optional<std::size_t>(64));
    EXPECT_EQ(recording->handed[0].timeout, 8s);
    EXPECT_EQ(recording->handed[0].deadline, std::optional<std::chrono::milliseconds>(8s));
}

TEST_F(PlaybackURLResolverTest, UnusableServiceAddressIsNotProbed) {
    for (const char* address : {"ftp://cdn.example/a.mp3", "https://user:pw@cdn.example/a.mp3",
                                "https:///a.mp3", "not an address"}) {
        netease->answer(address);
        EXPECT_EQ(messageOf([&] { resolver.musicURL(makeTrack(), Quality::high, {}); }),
                  "播放解析未返回可用链接")
            << address;
    }
    EXPECT_TRUE(client->probed().empty());
}

TEST_F(PlaybackURLResolverTest, DisabledSourcesFailBeforeAnyRequest) {
    EXPECT_EQ(messageOf([&] { resolver.musicURL(makeTrack(MusicSource::kg), Quality::high, {}); }),
              "酷狗音源暂不可用，已收藏的歌曲会保留。");
    EXPECT_FALSE(resolver.supportsPlayback(MusicSource::tx));
    EXPECT_TRUE(resolver.supportsPlayback(MusicSource::local));
    EXPECT_TRUE(netease->asked().empty());
}

TEST_F(PlaybackURLResolverTest, CancelledCallNeverAnswersEvenFromTheCache) {
    resolver.musicURL(makeTrack(), Quality::high, {});
    std::stop_source stop;
    stop.request_stop();
    EXPECT_THROW(resolver.musicURL(makeTrack(), Quality::high, stop.get_token()), CancellationError);
    EXPECT_THROW(resolver.refreshMusicURL(makeTrack(), Quality::high, stop.get_token()),
                 CancellationError);
    EXPECT_EQ(netease->asked().size(), 1u);
}

TEST(PlaybackURLResolverWiringTest, BuiltInServiceClientAsksForTheKey) {
    HttpSession session;
    PlaybackURLResolver resolver(std::make_shared<URLSessionPlaybackHTTPClient>(session),
                                 std::make_shared<InMemoryCredentialStore>(),
                                 std::make_shared<ChkszCircuitBreaker>(),
                                 std::make_shared<PlaybackURLCache>(1200));
    EXPECT_EQ(sourceErrorOf([&] { resolver.musicURL(makeTrack(), Quality::high, {}); },
                            SourceError::Kind::credentialRequired),
              "未配置第三方音源凭据，暂不可用");
}

class LocalFileTest : public ::testing::Test {
  protected:
    TempDir dir;
    std::shared_ptr<PlaybackURLCache> cache = std::make_shared<PlaybackURLCache>(1200);
    std::shared_ptr<ScriptedChkszNetEase> netease = std::make_shared<ScriptedChkszNetEase>();
    HttpSession session;
    PlaybackURLResolver resolver{std::make_shared<URLSessionPlaybackHTTPClient>(session),
                                 nullptr,
                                 nullptr,
                                 cache,
                                 nullptr,
                                 netease};

    std::filesystem::path touch(const std::string& name) {
        auto path = dir.path() / name;
        std::ofstream(path) << "RIFF";
        return path;
    }

    static Track local(const std::string& songmid, const nlohmann::json& payload) {
        Track track = makeTrack(MusicSource::local, songmid);
        track.payload = payload.dump();
        return track;
    }
};

TEST_F(LocalFileTest, StoredPathBecomesAnEscapedFileAddress) {
    auto file = touch("我的 歌#1.flac");
    const Track track = local(file.string(), {{"filePath", file.string()}, {"filename", "x"}});
    const std::string url = resolver.musicURL(track, Quality::master, {});
    EXPECT_EQ(url, "file://" + dir.path().string() + "/%E6%88%91%E7%9A%84%20%E6%AD%8C%231.flac");
    EXPECT_TRUE(netease->asked().empty());
    EXPECT_EQ(cache->count(), 0u);
}

TEST_F(LocalFileTest, BookmarkIsPassedOverForThePath) {
    auto file = touch("a.mp3");
    const Track track =
        local("/elsewhere/b.mp3", {{"bookmark", "Ym9va21hcms="}, {"filePath", file.string()}});
    EXPECT_EQ(resolver.musicURL(track, Quality::high, {}), "file://" + file.string());
}

TEST_F(LocalFileTest, SongmidServesWhenThereIsNoStoredPath) {
    auto file = touch("c.mp3");
    EXPECT_EQ(
        resolver.refreshMusicURL(local(file.string(), nlohmann::json::object()), Quality::high, {}),
        "file://" + file.string());
    // A path stored as something other than text does not count either.
    EXPECT_EQ(resolver.musicURL(local(file.string(), {{"filePath", 7}}), Quality::high, {}),
              "file://" + file.string());
}

TEST_F(LocalFileTest, MissingOrEmptyPathsFailWithTheirMessages) {
    const auto missing = (dir.path() / "gone.mp3").string();
    EXPECT_EQ(messageOf([&] {
                  resolver.musicURL(local("x", {{"filePath", missing}}), Quality::high, {});
              }),
              "本地音频文件不存在或已移动: gone.mp3");
    // Only regular files play: a folder, a device or a pipe is as good as missing.
    const auto pipe = dir.path() / "pipe.mp3";
    ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
    for (const std::string& path : {dir.path().string(), std::string("/dev/null"), pipe.string()}) {
        EXPECT_TRUE(messageOf([&] {
                        resolver.musicURL(local(path, nlohmann::json::object()), Quality::high, {});
                    }).starts_with("本地音频文件不存在或已移动: "))
            << path;
    }
    EXPECT_EQ(messageOf([&] {
                  resolver.musicURL(local("", nlohmann::json::object()), Quality::high, {});
              }),
              "本地音频路径为空");
    // A file on a share that stopped answering: the check ends at once on a stop. One that
    // cannot be looked at for now is not told as gone.
    {
        StalledShare share;
        std::stop_source stop;
        const auto held = touch("d.mp3").string();
        auto check = std::async(std::launch::async, [&] {
            return resolver.musicURL(local(held, nlohmann::json::object()), Quality::high,
                                     stop.get_token());
        });
        ASSERT_TRUE(share.waitUntilHeld(1));
        stop.request_stop();
        ASSERT_EQ(check.wait_for(std::chrono::seconds(10)), std::future_status::ready);
        EXPECT_THROW(check.get(), CancellationError);
        EXPECT_EQ(messageOf([&] {
                      resolver.refreshMusicURL(local(held, nlohmann::json::object()),
                                               Quality::high, {});
                  }),
                  "本地音频文件暂时无法读取，请稍后重试: d.mp3");
    }
    EXPECT_EQ(messageOf([&] {
                  resolver.musicURL(local("x", {{"filePath", ""}}), Quality::high, {});
              }),
              "本地音频路径为空");
}

}  // namespace
}  // namespace velto
