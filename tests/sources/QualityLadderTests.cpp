#include <gtest/gtest.h>

#include <memory>

#include "ScriptedResolver.h"
#include "foundation/Cancellation.h"
#include "sources/resolving/HighestAvailableQualityPlaybackURLResolver.h"
#include "sources/resolving/PlaybackFallbackPolicy.h"
#include "sources/model/SourceError.h"
#include "support/SourceErrorOf.h"

namespace velto {
namespace {

using testing::makeTrack;
using testing::messageOf;
using testing::ScriptedResolver;

const std::string deliveredHigh = "该音质不可用，实际返回 高品质 320K";
const std::string deliveredStandard = "该音质不可用，实际返回 标准品质 128K";

std::vector<Quality> qualitiesOf(const ScriptedResolver& resolver) {
    std::vector<Quality> result;
    for (const auto& call : resolver.calls) result.push_back(call.quality);
    return result;
}

TEST(PlaybackFallbackPolicyTest, AcceptsOnlyQualityAndRestrictionMessages) {
    for (const std::string& message :
         {deliveredHigh, std::string("服务不支持 hI-rEs 输出"), std::string("不支持HIRES"),
          std::string("该歌曲不支持此音质"), std::string("歌曲无版权"),
          std::string("此歌曲需要会员才能播放"), std::string("播放解析未返回可用链接"),
          std::string("仅返回试听片段")})
        EXPECT_TRUE(PlaybackFallbackPolicy::allowsFallback(message)) << message;
    for (const std::string message : {"接口不支持该请求", "网络失败", ""})
        EXPECT_FALSE(PlaybackFallbackPolicy::allowsFallback(message)) << message;
}

// A ladder over a resolver of wy songs that answers by `script`.
class QualityLadderTest : public ::testing::Test {
  protected:
    void over(ScriptedResolver::Script script) {
        inner = std::make_shared<ScriptedResolver>(std::set{MusicSource::wy}, std::move(script));
        ladder.emplace(inner);
    }
    std::string resolve(Quality quality, std::stop_token stop = {}) {
        return ladder->musicURL(makeTrack(MusicSource::wy, "1"), quality, std::move(stop));
    }

    std::shared_ptr<ScriptedResolver> inner;
    std::optional<HighestAvailableQualityPlaybackURLResolver> ladder;
};

TEST_F(QualityLadderTest, StepsDownToTheDeliveredQuality) {
    over([](Quality quality, const std::stop_token&) -> std::string {
        if (quality > Quality::high) throw SourceError::source(deliveredHigh);
        return "https://cdn/high.mp3";
    });
    EXPECT_EQ(resolve(Quality::lossless), "https://cdn/high.mp3");
    EXPECT_EQ(qualitiesOf(*inner), (std::vector{Quality::lossless, Quality::high}));
}

TEST_F(QualityLadderTest, NetworkFailureOnTheLastRungEndsAfterFiveCalls) {
    over([](Quality quality, const std::stop_token&) -> std::string {
        if (quality == Quality::standard) {
            throw SourceError::network(std::make_exception_ptr(std::runtime_error("down")));
        }
        throw SourceError::source(deliveredStandard);
    });
    sourceErrorOf([&] { resolve(Quality::master); }, SourceError::Kind::network);
    EXPECT_EQ(qualitiesOf(*inner), Qualities::descendingOrder);
}

TEST_F(QualityLadderTest, ExhaustedLadderThrowsTheStandardRungsError) {
    over([](Quality quality, const std::stop_token&) -> std::string {
        throw SourceError::source("无版权 " + std::string(rawValue(quality)));
    });
    EXPECT_EQ(sourceErrorOf([&] { resolve(Quality::high); }), "无版权 128k");
    EXPECT_EQ(inner->calls.size(), 2u);
}

TEST_F(QualityLadderTest, UnacceptedMessagesAndForeignErrorsEndAtOnceUnchanged) {
    const std::vector<std::pair<std::function<void()>, std::string>> cases = {
        {[] { throw SourceError::source("RoVOz 播放链接失效（HTTP 403）"); },
         "RoVOz 播放链接失效（HTTP 403）"},
        {[] { throw SourceError::credentialRequired("未配置第三方音源凭据，暂不可用"); },
         "未配置第三方音源凭据，暂不可用"},
        {[] { throw std::runtime_error("网易云接口无版权"); }, "网易云接口无版权"},
    };
    for (const auto& [thrower, message] : cases) {
        over([&](Quality, const std::stop_token&) -> std::string {
            thrower();
            return "";
        });
        EXPECT_EQ(messageOf([&] { resolve(Quality::master); }), message);
        EXPECT_EQ(inner->calls.size(), 1u) << message;
    }
}

TEST_F(QualityLadderTest, CancellationStopsTheWalk) {
    std::stop_source stop;
    over([&](Quality, const std::stop_token&) -> std::string {
        stop.request_stop();
        throw SourceError::source(deliveredHigh);
    });
    EXPECT_THROW(resolve(Quality::master, stop.get_token()), CancellationError);
    EXPECT_EQ(inner->calls.size(), 1u);
}

TEST_F(QualityLadderTest, RefreshReachesTheInnerRefreshAtEveryRung) {
    over([](Quality quality, const std::stop_token&) -> std::string {
        if (quality != Quality::standard) throw SourceError::source(deliveredStandard);
        return "https://cdn/s.mp3";
    });
    ladder->refreshMusicURL(makeTrack(MusicSource::wy, "1"), Quality::lossless, {});
    ASSERT_EQ(inner->calls.size(), 3u);
    for (const auto& call : inner->calls) EXPECT_TRUE(call.refreshing);
}

TEST_F(QualityLadderTest, UnsupportedSourceFailsBeforeAnyCall) {
    over([](Quality, const std::stop_token&) -> std::string { return "https://cdn/x"; });
    EXPECT_EQ(sourceErrorOf([&] {
                  ladder->musicURL(makeTrack(MusicSource::local, "/a.mp3"), Quality::high, {});
              }, std::nullopt),
              "当前播放解析器不支持此音源");
    EXPECT_TRUE(inner->calls.empty());
}

TEST_F(QualityLadderTest, ReportsWhatTheInnerResolverReportsOnlyOnce) {
    over([](Quality, const std::stop_token&) -> std::string { return "https://cdn/x"; });
    inner->reported = Quality::lossless;
    EXPECT_EQ(ladder->consumeLastResolvedQuality(), Quality::lossless);
    EXPECT_EQ(ladder->consumeLastResolvedQuality(), std::nullopt);

    auto plain = std::make_shared<testing::PlainResolver>(
        std::set{MusicSource::wy},
        [](Quality, const std::stop_token&) -> std::string { return "https://cdn/x"; });
    HighestAvailableQualityPlaybackURLResolver plainLadder(plain);
    EXPECT_EQ(plainLadder.refreshMusicURL(makeTrack(MusicSource::wy, "1"), Quality::high, {}),
              "https://cdn/x");
    EXPECT_EQ(plainLadder.consumeLastResolvedQuality(), std::nullopt);
}

}  // namespace
}  // namespace velto
