#include <gtest/gtest.h>

#include "ScriptedResolver.h"

#include "foundation/Cancellation.h"
#include "sources/resolving/NetEasePlaybackResolver.h"
#include "sources/netease/NetEaseWebClient.h"
#include "sources/model/SourceError.h"
#include "support/FakeHttpServer.h"
#include "support/TempDir.h"

namespace velto {
namespace {

constexpr const char* urlPath = "/api/song/enhance/player/url/v1";

class NetEasePlaybackResolverTest : public ::testing::Test {
  protected:
    FakeHttpServer server;
    TempDir resources;
    std::shared_ptr<NetEaseWebClient> client = std::make_shared<NetEaseWebClient>(
        NetEaseCookieStore(nullptr, nullptr, resources.path(),
                           [](const std::string&) { return std::optional<std::string>(); }),
        NetEaseWebClient::Options{.baseURL = server.baseURL()});
    NetEasePlaybackResolver resolver{client};

    // The service delivers `level` at `bitrate` whatever it was asked for.
    void deliver(const std::string& level, std::int64_t bitrate) {
        server.get(urlPath, [=](const httplib::Request&, httplib::Response& response) {
            nlohmann::json element = {{"id", 1001},    {"url", "http://m.example/x.mp3"},
                                      {"br", bitrate}, {"level", level},
                                      {"size", 1000},  {"type", "mp3"},
                                      {"code", 200}};
            response.set_content(nlohmann::json{{"code", 200}, {"data", {element}}}.dump(),
                                 "application/json");
        });
    }

    std::string failureOf(Quality wished) {
        try {
            resolver.musicURL(testing::makeTrack(), wished, {});
        } catch (const SourceError& error) {
            return error.message();
        }
        ADD_FAILURE() << "expected a failure";
        return {};
    }
};

TEST_F(NetEasePlaybackResolverTest, AsksForTheLevelOfTheWishedQuality) {
    deliver("jymaster", 0);
    const std::vector<std::tuple<Quality, std::string, std::string>> table = {
        {Quality::standard, "standard", "mp3"},
        {Quality::high, "exhigh", "mp3"},
        {Quality::lossless, "lossless", "flac"},
        {Quality::hiRes, "hires", "flac"},
        {Quality::master, "jymaster", "flac"}};
    for (const auto& [quality, level, encodeType] : table) {
        EXPECT_EQ(resolver.musicURL(testing::makeTrack(), quality, {}), "https://m.example/x.mp3");
        const auto request = server.requests().back();
        EXPECT_EQ(request.param("ids"), "[1001]");
        EXPECT_EQ(request.param("level"), level);
        EXPECT_EQ(request.param("encodeType"), encodeType);
    }
}

TEST_F(NetEasePlaybackResolverTest, LowerDeliveryIsRefusedWithItsLabel) {
    deliver("exhigh", 320000);
    EXPECT_EQ(failureOf(Quality::lossless), "该音质不可用，实际返回 高品质 320K");
    EXPECT_EQ(resolver.consumeLastResolvedQuality(), std::nullopt);
    deliver("standard", 128000);
    EXPECT_EQ(failureOf(Quality::high), "该音质不可用，实际返回 标准品质 128K");
    deliver("lossless", 0);
    EXPECT_EQ(failureOf(Quality::hiRes), "该音质不可用，实际返回 无损 FLAC");
    deliver("hires", 0);
    EXPECT_EQ(failureOf(Quality::master), "该音质不可用，实际返回 Hi-Res");
}

TEST_F(NetEasePlaybackResolverTest, HigherDeliveryIsReportedOnce) {
    deliver("LOSSLESS", 0);
    EXPECT_EQ(resolver.musicURL(testing::makeTrack(), Quality::high, {}), "https://m.example/x.mp3");
    EXPECT_EQ(resolver.consumeLastResolvedQuality(), Quality::lossless);
    EXPECT_EQ(resolver.consumeLastResolvedQuality(), std::nullopt);

    deliver("standard", 128000);
    resolver.refreshMusicURL(testing::makeTrack(), Quality::standard, {});
    EXPECT_EQ(resolver.consumeLastResolvedQuality(), Quality::standard);
    EXPECT_EQ(server.requestCount(), 2u);
}

TEST(NetEaseDeliveredQualityTest, LevelAndBitrateRules) {
    auto quality = NetEasePlaybackResolver::deliveredQuality;
    EXPECT_EQ(quality("sky", 0), Quality::master);
    EXPECT_EQ(quality("Vivid", 0), Quality::master);
    EXPECT_EQ(quality("other", 2'000'000), Quality::master);
    EXPECT_EQ(quality("other", 1'999'999), Quality::hiRes);
    EXPECT_EQ(quality("other", 1'500'000), Quality::hiRes);
    EXPECT_EQ(quality("other", 1'499'999), Quality::lossless);
    EXPECT_EQ(quality("other", 700'000), Quality::lossless);
    EXPECT_EQ(quality("other", 300'000), Quality::high);
    EXPECT_EQ(quality("other", 299'999), Quality::standard);
    EXPECT_EQ(quality("exhigh", 0), Quality::high);
    EXPECT_EQ(quality("", 0), Quality::standard);
}

TEST_F(NetEasePlaybackResolverTest, OtherSourcesFailBeforeAnyRequest) {
    for (auto source : {MusicSource::local, MusicSource::kg, MusicSource::tx}) {
        try {
            resolver.musicURL(testing::makeTrack(source), Quality::high, {});
            ADD_FAILURE() << "expected a failure";
        } catch (const SourceError& error) {
            EXPECT_EQ(error.message(), "当前解析器只支持网易云音源");
        }
        EXPECT_FALSE(resolver.supportsPlayback(source));
    }
    EXPECT_TRUE(resolver.supportsPlayback(MusicSource::wy));
    EXPECT_EQ(server.requestCount(), 0u);
}

TEST_F(NetEasePlaybackResolverTest, ClientFailuresAndCancellationPassUnchanged) {
    server.get(urlPath, [](const httplib::Request&, httplib::Response& response) {
        response.set_content(R"({"code":200,"data":[]})", "application/json");
    });
    EXPECT_THROW(resolver.musicURL(testing::makeTrack(), Quality::high, {}), NetEaseWebClient::Failure);

    std::stop_source stop;
    stop.request_stop();
    EXPECT_THROW(resolver.musicURL(testing::makeTrack(), Quality::high, stop.get_token()), CancellationError);
    EXPECT_EQ(resolver.consumeLastResolvedQuality(), std::nullopt);
}

}  // namespace
}  // namespace velto
