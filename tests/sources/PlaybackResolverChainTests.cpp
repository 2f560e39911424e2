// The chain the player is given: the NetEase web path first, the RoVOz path (and local files)
// as fallback, each inside a quality ladder.
#include <gtest/gtest.h>

#include "ScriptedResolver.h"

#include <fstream>

#include "platform/HttpClient.h"
#include "sources/resolving/AlternatePlaybackURLResolver.h"
#include "sources/resolving/HighestAvailableQualityPlaybackURLResolver.h"
#include "sources/resolving/NetEasePlaybackResolver.h"
#include "sources/netease/NetEaseWebClient.h"
#include "sources/resolving/PlaybackURLCache.h"
#include "sources/resolving/PlaybackURLResolver.h"
#include "sources/model/SourceError.h"
#include "support/FakeHttpServer.h"
#include "support/LoopbackPlaybackHTTPClient.h"
#include "support/RangeIgnoringAnswer.h"
#include "support/ScriptedChkszNetEase.h"
#include "support/TempDir.h"
#include "support/SourceErrorOf.h"

namespace velto {
namespace {

constexpr const char* urlPath = "/api/song/enhance/player/url/v1";

class PlaybackResolverChainTest : public ::testing::Test {
  protected:
    FakeHttpServer server;
    TempDir dir;
    HttpSession session;
    std::shared_ptr<ScriptedChkszNetEase> rovozNetEase = std::make_shared<ScriptedChkszNetEase>();
    std::shared_ptr<PlaybackURLCache> cache = std::make_shared<PlaybackURLCache>(1200);
    AlternatePlaybackURLResolver chain{
        std::make_shared<HighestAvailableQualityPlaybackURLResolver>(
            std::make_shared<NetEasePlaybackResolver>(std::make_shared<NetEaseWebClient>(
                NetEaseCookieStore(nullptr, nullptr, dir.path(),
                                   [](const std::string&) { return std::optional<std::string>(); }),
                NetEaseWebClient::Options{.baseURL = server.baseURL()}))),
        std::make_shared<HighestAvailableQualityPlaybackURLResolver>(
            std::make_shared<PlaybackURLResolver>(
                std::make_shared<LoopbackPlaybackHTTPClient>(session), nullptr, nullptr, cache,
                nullptr, rovozNetEase)),
        "脚本解析", "备用解析"};

    void SetUp() override {
        server.get("/s.mp3", [](const httplib::Request&, httplib::Response& response) {
            answerIgnoringRange(response, 206, "audio/mpeg", "ID");
        });
        rovozNetEase->answer(server.url("/s.mp3"));
    }
};

TEST_F(PlaybackResolverChainTest, WebPathStepsDownAndReportsWhatItDelivered) {
    server.get(urlPath, [](const httplib::Request&, httplib::Response& response) {
        // Only the standard stream exists; asking for more answers it all the same.
        nlohmann::json element = {
            {"url", "http://m.example/x.mp3"}, {"level", "standard"}, {"br", 128000}};
        response.set_content(nlohmann::json{{"code", 200}, {"data", {element}}}.dump(),
                             "application/json");
    });
    EXPECT_EQ(chain.musicURL(testing::makeTrack(MusicSource::wy, "7"), Quality::lossless, {}),
              "https://m.example/x.mp3");
    EXPECT_EQ(chain.consumeLastResolvedQuality(), Quality::standard);
    EXPECT_TRUE(rovozNetEase->asked().empty());
}

TEST_F(PlaybackResolverChainTest, WebFailureFallsBackToTheProbedServiceAddress) {
    server.get(urlPath,
               [](const httplib::Request&, httplib::Response& response) { response.status = 500; });
    const std::string expected = "https://127.0.0.1:" + std::to_string(server.port()) + "/s.mp3";
    EXPECT_EQ(chain.musicURL(testing::makeTrack(MusicSource::wy, "7"), Quality::high, {}), expected);
    EXPECT_EQ(rovozNetEase->asked(), std::vector{Quality::high});
    // The service path reports no delivered quality.
    EXPECT_EQ(chain.consumeLastResolvedQuality(), std::nullopt);
}

TEST_F(PlaybackResolverChainTest, LocalSongsReachOnlyTheFallback) {
    const auto file = dir.path() / "a.mp3";
    std::ofstream(file) << "ID3";
    EXPECT_EQ(chain.musicURL(testing::makeTrack(MusicSource::local, file.string()), Quality::master, {}),
              "file://" + file.string());
    EXPECT_EQ(sourceErrorOf([&] {
                  chain.musicURL(testing::makeTrack(MusicSource::local, (dir.path() / "b.mp3").string()),
                                 Quality::high, {});
              }, std::nullopt),
              "本地音频文件不存在或已移动: b.mp3");
    EXPECT_EQ(server.requestCount(), 0u);
}

}  // namespace
}  // namespace velto
