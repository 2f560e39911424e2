#include <gtest/gtest.h>

#include <memory>

#include "ScriptedResolver.h"
#include "foundation/Cancellation.h"
#include "platform/HttpClient.h"
#include "sources/resolving/AlternatePlaybackURLResolver.h"
#include "sources/resolving/HighestAvailableQualityPlaybackURLResolver.h"
#include "sources/model/SourceError.h"
#include "sources/netease/NetEaseWebClient.h"
#include "sources/resolving/NetEasePlaybackResolver.h"
#include "support/FakeHttpServer.h"
#include "support/SourceErrorOf.h"

namespace velto {
namespace {

using testing::messageOf;

using testing::makeTrack;
using testing::ScriptedResolver;

ScriptedResolver::Script failing(std::string message) {
    return [message](Quality, const std::stop_token&) -> std::string {
        throw SourceError::source(message);
    };
}

ScriptedResolver::Script answering(std::string url) {
    return [url](Quality, const std::stop_token&) { return url; };
}

struct Chain {
    std::shared_ptr<ScriptedResolver> preferred;
    std::shared_ptr<ScriptedResolver> fallback;
    AlternatePlaybackURLResolver resolver;

    Chain(ScriptedResolver::Script first, ScriptedResolver::Script second,
          std::set<MusicSource> firstSources = {MusicSource::wy},
          std::set<MusicSource> secondSources = {MusicSource::wy, MusicSource::local})
        : preferred(std::make_shared<ScriptedResolver>(firstSources, std::move(first))),
          fallback(std::make_shared<ScriptedResolver>(secondSources, std::move(second))),
          resolver(preferred, fallback, "脚本解析", "备用解析") {}
};

TEST(AlternatePlaybackURLResolverTest, PreferredAnswerWins) {
    Chain chain(answering("https://a/1"), answering("https://b/1"));
    EXPECT_EQ(chain.resolver.musicURL(makeTrack(MusicSource::wy, "1"), Quality::high, {}),
              "https://a/1");
    EXPECT_TRUE(chain.fallback->calls.empty());
}

TEST(AlternatePlaybackURLResolverTest, AnyPreferredFailureHandsOverAtTheSameQuality) {
    Chain chain(failing("网易云接口错误"), answering("https://b/1"));
    EXPECT_EQ(chain.resolver.musicURL(makeTrack(MusicSource::wy, "1"), Quality::lossless, {}),
              "https://b/1");
    ASSERT_EQ(chain.fallback->calls.size(), 1u);
    EXPECT_EQ(chain.fallback->calls[0].quality, Quality::lossless);
}

TEST(AlternatePlaybackURLResolverTest, BothFailuresAreJoinedUnderTheirLabels) {
    Chain chain(failing("A"), failing("B"));
    EXPECT_EQ(sourceErrorOf([&] { chain.resolver.musicURL(makeTrack(MusicSource::wy, "1"), Quality::high, {}); }),
              "脚本解析：A；备用解析：B");
}

TEST(AlternatePlaybackURLResolverTest, JoinedMessageUsesDescriptionsOfAnyKind) {
    Chain chain(
        [](Quality, const std::stop_token&) -> std::string {
            throw SourceError::network(std::make_exception_ptr(std::runtime_error("reset")));
        },
        [](Quality, const std::stop_token&) -> std::string {
            throw SourceError::credentialRequired("未配置第三方音源凭据，暂不可用");
        });
    EXPECT_EQ(messageOf([&] {
                  chain.resolver.musicURL(makeTrack(MusicSource::wy, "1"), Quality::high, {});
              }),
              "脚本解析：网络失败；备用解析：未配置第三方音源凭据，暂不可用");
}

TEST(AlternatePlaybackURLResolverTest, OfflineWebPathReadsInChinese) {
    struct NoPause : Sleeper {
        void sleep(std::chrono::nanoseconds, const std::stop_token&) override {}
    } noPause;
    std::string closedBase;
    {
        FakeHttpServer gone;
        closedBase = gone.baseURL();
    }
    auto web = std::make_shared<NetEaseWebClient>(
        NetEaseCookieStore(nullptr, nullptr, "/nonexistent",
                           [](const std::string&) { return std::optional<std::string>(); }),
        NetEaseWebClient::Options{.baseURL = closedBase, .sleeper = &noPause});
    AlternatePlaybackURLResolver resolver(
        std::make_shared<NetEasePlaybackResolver>(web),
        std::make_shared<ScriptedResolver>(
            std::set<MusicSource>{MusicSource::wy},
            [](Quality, const std::stop_token&) -> std::string {
                throw SourceError::network(std::make_exception_ptr(
                    HttpError(HttpError::Code::cannotConnectToHost, "curl 7: refused")));
            }),
        "脚本解析", "备用解析");
    EXPECT_EQ(messageOf([&] { resolver.musicURL(makeTrack(MusicSource::wy, "1"), Quality::high, {}); }),
              "脚本解析：无法连接服务器；备用解析：网络失败");
}

TEST(AlternatePlaybackURLResolverTest, CancelledPreferredNeverFallsBack) {
    Chain chain([](Quality, const std::stop_token&) -> std::string { throw CancellationError(); },
                answering("https://b/1"));
    EXPECT_THROW(chain.resolver.musicURL(makeTrack(MusicSource::wy, "1"), Quality::high, {}),
                 CancellationError);
    EXPECT_TRUE(chain.fallback->calls.empty());

    std::stop_source stop;
    Chain cancelledMeanwhile(
        [&](Quality, const std::stop_token&) -> std::string {
            stop.request_stop();
            throw SourceError::source("A");
        },
        answering("https://b/1"));
    EXPECT_THROW(cancelledMeanwhile.resolver.musicURL(makeTrack(MusicSource::wy, "1"),
                                                      Quality::high, stop.get_token()),
                 CancellationError);
    EXPECT_TRUE(cancelledMeanwhile.fallback->calls.empty());
}

TEST(AlternatePlaybackURLResolverTest, CancelledFallbackGivesNoJoinedMessage) {
    Chain chain(failing("A"),
                [](Quality, const std::stop_token&) -> std::string { throw CancellationError(); });
    EXPECT_THROW(chain.resolver.musicURL(makeTrack(MusicSource::wy, "1"), Quality::high, {}),
                 CancellationError);
}

TEST(AlternatePlaybackURLResolverTest, OnlyEligiblePathFailsUnchanged) {
    Chain localOnly(answering("https://a/1"), failing("本地音频路径为空"));
    EXPECT_EQ(messageOf([&] {
                  localOnly.resolver.musicURL(makeTrack(MusicSource::local, ""), Quality::high, {});
              }),
              "本地音频路径为空");
    EXPECT_TRUE(localOnly.preferred->calls.empty());

    Chain preferredOnly(failing("A"), answering("https://b/1"), {MusicSource::wy}, {});
    EXPECT_EQ(messageOf([&] {
                  preferredOnly.resolver.musicURL(makeTrack(MusicSource::wy, "1"), Quality::high,
                                                  {});
              }),
              "A");
}

TEST(AlternatePlaybackURLResolverTest, SourceServedByNeitherPath) {
    Chain chain(answering("https://a/1"), answering("https://b/1"), {MusicSource::wy},
                {MusicSource::wy});
    EXPECT_EQ(messageOf([&] {
                  chain.resolver.musicURL(makeTrack(MusicSource::local, "/x"), Quality::high, {});
              }),
              "当前播放解析器不支持此音源");
    EXPECT_EQ(messageOf([&] {
                  chain.resolver.musicURL(makeTrack(MusicSource::kg, "x"), Quality::high, {});
              }),
              "酷狗音源暂不可用，已收藏的歌曲会保留。");
    EXPECT_FALSE(chain.resolver.supportsPlayback(MusicSource::tx));
    EXPECT_TRUE(chain.resolver.supportsPlayback(MusicSource::wy));
}

TEST(AlternatePlaybackURLResolverTest, RefreshReachesInnerRefreshThroughTheLadders) {
    auto preferred = std::make_shared<ScriptedResolver>(
        std::set{MusicSource::wy}, failing("该音质不可用，实际返回 标准品质 128K"));
    auto fallback =
        std::make_shared<ScriptedResolver>(std::set{MusicSource::wy}, answering("https://b/1"));
    AlternatePlaybackURLResolver resolver(
        std::make_shared<HighestAvailableQualityPlaybackURLResolver>(preferred),
        std::make_shared<HighestAvailableQualityPlaybackURLResolver>(fallback), "脚本解析",
        "备用解析");
    EXPECT_EQ(resolver.refreshMusicURL(makeTrack(MusicSource::wy, "1"), Quality::lossless, {}),
              "https://b/1");
    EXPECT_EQ(preferred->calls.size(), 3u);
    for (const auto& call : preferred->calls) EXPECT_TRUE(call.refreshing);
    ASSERT_EQ(fallback->calls.size(), 1u);
    EXPECT_TRUE(fallback->calls[0].refreshing);
}

TEST(AlternatePlaybackURLResolverTest, ReportPrefersThePreferredPath) {
    Chain chain(answering("https://a/1"), answering("https://b/1"));
    chain.preferred->reported = Quality::lossless;
    chain.fallback->reported = Quality::high;
    EXPECT_EQ(chain.resolver.consumeLastResolvedQuality(), Quality::lossless);
    // The fallback's report was left alone and is read once the preferred has none.
    EXPECT_EQ(chain.resolver.consumeLastResolvedQuality(), Quality::high);
    EXPECT_EQ(chain.resolver.consumeLastResolvedQuality(), std::nullopt);
}

// The shared rule every resolver applies before it is asked for an address.
TEST(RequirePlaybackSupportTest, DistinguishesDisabledFromUnservedSources) {
    testing::PlainResolver neteaseOnly(
        {MusicSource::wy}, [](Quality, const std::stop_token&) { return std::string(); });
    EXPECT_NO_THROW(neteaseOnly.requirePlaybackSupport(MusicSource::wy));
    EXPECT_EQ(messageOf([&] { neteaseOnly.requirePlaybackSupport(MusicSource::local); }),
              "当前播放解析器不支持此音源");
    EXPECT_EQ(messageOf([&] { neteaseOnly.requirePlaybackSupport(MusicSource::kg); }),
              "酷狗音源暂不可用，已收藏的歌曲会保留。");
    const std::string qq = messageOf([&] { neteaseOnly.requirePlaybackSupport(MusicSource::tx); });
    EXPECT_TRUE(qq.starts_with("QQ")) << qq;

    // A resolver that serves a disabled source is not second-guessed.
    testing::PlainResolver everything(
        {MusicSource::wy, MusicSource::tx, MusicSource::kg, MusicSource::local},
        [](Quality, const std::stop_token&) { return std::string(); });
    EXPECT_NO_THROW(everything.requirePlaybackSupport(MusicSource::kg));
}

}  // namespace
}  // namespace velto
