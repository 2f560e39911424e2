#include <gtest/gtest.h>

#include <memory>

#include "ScriptedResolver.h"
#include "foundation/Cancellation.h"
#include "sources/resolving/HighestAvailableQualityPlaybackURLResolver.h"
#include "sources/resolving/PlaybackFallbackPolicy.h"
#include "sources/model/SourceError.h"

namespace velto {
namespace {

using testing::makeTrack;
using testing::ScriptedResolver;

const std::string deliveredHigh = "该音质不可用，实际返回 高品质 320K";
const std::string deliveredStandard = "该音质不可用，实际返回 标准品质 128K";

std::vector<Quality> qualitiesOf(const ScriptedResolver& resolver) {
    std::vector<Quality> result;
    for (const auto& call : resolver.calls) result.push_back(call.quality);
    return result;
}

TEST(PlaybackFallbackPolicyTest, AcceptsOnlyQualityAndRestrictionMessages) {
    EXPECT_TRUE(PlaybackFallbackPolicy::allowsFallback(deliveredHigh));
    EXPECT_TRUE(PlaybackFallbackPolicy::allowsFallback("服务不支持 hI-rEs 输出"));
    EXPECT_TRUE(PlaybackFallbackPolicy::allowsFallback("不支持HIRES"));
    EXPECT_TRUE(PlaybackFallbackPolicy::allowsFallback("该歌曲不支持此音质"));
    EXPECT_TRUE(PlaybackFallbackPolicy::allowsFallback("歌曲无版权"));
    EXPECT_TRUE(PlaybackFallbackPolicy::allowsFallback("此歌曲需要会员才能播放"));
    EXPECT_TRUE(PlaybackFallbackPolicy::allowsFallback("播放解析未返回可用链接"));
    EXPECT_TRUE(PlaybackFallbackPolicy::allowsFallback("仅返回试听片段"));

    EXPECT_FALSE(PlaybackFallbackPolicy::allowsFallback("接口不支持该请求"));
    EXPECT_FALSE(PlaybackFallbackPolicy::allowsFallback("网络失败"));
    EXPECT_FALSE(PlaybackFallbackPolicy::allowsFallback(""));
}

TEST(QualityLadderTest, StepsDownToTheDeliveredQuality) {
    auto inner = std::make_shared<ScriptedResolver>(
        std::set{MusicSource::wy}, [](Quality quality, const std::stop_token&) -> std::string {
            if (quality > Quality::high) throw SourceError::source(deliveredHigh);
            return "https://cdn/high.mp3";
        });
    HighestAvailableQualityPlaybackURLResolver ladder(inner);
    EXPECT_EQ(ladder.musicURL(makeTrack(MusicSource::wy, "1"), Quality::lossless, {}),
              "https://cdn/high.mp3");
    EXPECT_EQ(qualitiesOf(*inner), (std::vector{Quality::lossless, Quality::high}));
}

TEST(QualityLadderTest, NetworkFailureOnTheLastRungEndsAfterFiveCalls) {
    auto inner = std::make_shared<ScriptedResolver>(
        std::set{MusicSource::wy}, [](Quality quality, const std::stop_token&) -> std::string {
            if (quality == Quality::standard) {
                throw SourceError::network(std::make_exception_ptr(std::runtime_error("down")));
            }
            throw SourceError::source(deliveredStandard);
        });
    HighestAvailableQualityPlaybackURLResolver ladder(inner);
    try {
        ladder.musicURL(makeTrack(MusicSource::wy, "1"), Quality::master, {});
        FAIL() << "expected a failure";
    } catch (const SourceError& error) {
        EXPECT_EQ(error.kind(), SourceError::Kind::network);
    }
    EXPECT_EQ(qualitiesOf(*inner), Qualities::descendingOrder);
}

TEST(QualityLadderTest, ExhaustedLadderThrowsTheStandardRungsError) {
    auto inner = std::make_shared<ScriptedResolver>(
        std::set{MusicSource::wy}, [](Quality quality, const std::stop_token&) -> std::string {
            throw SourceError::source("无版权 " + std::string(rawValue(quality)));
        });
    HighestAvailableQualityPlaybackURLResolver ladder(inner);
    try {
        ladder.musicURL(makeTrack(MusicSource::wy, "1"), Quality::high, {});
        FAIL() << "expected a failure";
    } catch (const SourceError& error) {
        EXPECT_EQ(error.message(), "无版权 128k");
    }
    EXPECT_EQ(inner->calls.size(), 2u);
}

TEST(QualityLadderTest, UnacceptedMessagesAndForeignErrorsEndAtOnceUnchanged) {
    const std::vector<std::pair<std::function<void()>, std::string>> cases = {
        {[] { throw SourceError::source("RoVOz 播放链接失效（HTTP 403）"); },
         "RoVOz 播放链接失效（HTTP 403）"},
        {[] { throw SourceError::credentialRequired("未配置第三方音源凭据，暂不可用"); },
         "未配置第三方音源凭据，暂不可用"},
        {[] { throw std::runtime_error("网易云接口无版权"); }, "网易云接口无版权"},
    };
    for (const auto& [thrower, message] : cases) {
        auto inner = std::make_shared<ScriptedResolver>(
            std::set{MusicSource::wy}, [&](Quality, const std::stop_token&) -> std::string {
                thrower();
                return "";
            });
        HighestAvailableQualityPlaybackURLResolver ladder(inner);
        try {
            ladder.musicURL(makeTrack(MusicSource::wy, "1"), Quality::master, {});
            ADD_FAILURE() << "expected a failure";
        } catch (const std::exception& error) {
            EXPECT_EQ(error.what(), message);
        }
        EXPECT_EQ(inner->calls.size(), 1u);
    }
}

TEST(QualityLadderTest, CancellationStopsTheWalk) {
    std::stop_source stop;
    auto inner = std::make_shared<ScriptedResolver>(
        std::set{MusicSource::wy}, [&](Quality, const std::stop_token&) -> std::string {
            stop.request_stop();
            throw SourceError::source(deliveredHigh);
        });
    HighestAvailableQualityPlaybackURLResolver ladder(inner);
    EXPECT_THROW(
        ladder.musicURL(makeTrack(MusicSource::wy, "1"), Quality::master, stop.get_token()),
        CancellationError);
    EXPECT_EQ(inner->calls.size(), 1u);
}

TEST(QualityLadderTest, RefreshReachesTheInnerRefreshAtEveryRung) {
    auto inner = std::make_shared<ScriptedResolver>(
        std::set{MusicSource::wy}, [](Quality quality, const std::stop_token&) -> std::string {
            if (quality != Quality::standard) throw SourceError::source(deliveredStandard);
            return "https://cdn/s.mp3";
        });
    HighestAvailableQualityPlaybackURLResolver ladder(inner);
    ladder.refreshMusicURL(makeTrack(MusicSource::wy, "1"), Quality::lossless, {});
    ASSERT_EQ(inner->calls.size(), 3u);
    for (const auto& call : inner->calls) EXPECT_TRUE(call.refreshing);
}

TEST(QualityLadderTest, UnsupportedSourceFailsBeforeAnyCall) {
    auto inner = std::make_shared<ScriptedResolver>(
        std::set{MusicSource::wy},
        [](Quality, const std::stop_token&) -> std::string { return "https://cdn/x"; });
    HighestAvailableQualityPlaybackURLResolver ladder(inner);
    try {
        ladder.musicURL(makeTrack(MusicSource::local, "/a.mp3"), Quality::high, {});
        FAIL() << "expected a failure";
    } catch (const SourceError& error) {
        EXPECT_EQ(error.message(), "当前播放解析器不支持此音源");
    }
    EXPECT_TRUE(inner->calls.empty());
}

TEST(QualityLadderTest, ReportsWhatTheInnerResolverReportsOnlyOnce) {
    auto inner = std::make_shared<ScriptedResolver>(
        std::set{MusicSource::wy},
        [](Quality, const std::stop_token&) -> std::string { return "https://cdn/x"; });
    inner->reported = Quality::lossless;
    HighestAvailableQualityPlaybackURLResolver ladder(inner);
    EXPECT_EQ(ladder.consumeLastResolvedQuality(), Quality::lossless);
    EXPECT_EQ(ladder.consumeLastResolvedQuality(), std::nullopt);

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
