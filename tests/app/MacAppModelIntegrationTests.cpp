// The real graph (GStreamer into a fake sink, both services' clients, the store) against the
// fake services on loopback.
#include <gtest/gtest.h>

#include "app/MacAppModel.h"
#include "foundation/ManualMainQueue.h"
#include "foundation/UserDefaults.h"
#include "foundation/WorkerPool.h"
#include "library/LibraryStore.h"
#include "platform/GStreamerQueuePlayer.h"
#include "playback/PlaybackService.h"
#include "sources/credentials/InMemoryCredentialStore.h"
#include "sources/model/SourceRuntime.h"
#include "support/FakeMusicServices.h"
#include "support/FakeNowPlayingCenter.h"
#include "support/InMemoryNetEaseKeychain.h"
#include "support/TempDir.h"

namespace velto {
namespace {

class AppModelIntegrationTest : public ::testing::Test {
  protected:
    AppModelIntegrationTest() {
        services.writeResources(dir.path() / "resources");
        AppEnvironment env;
        env.mainQueue = &mainQueue;
        env.workers = &workers;
        env.defaults = std::make_shared<UserDefaults>(dir.path() / "defaults.json");
        env.applicationSupportDir = dir.path() / "data" / "cn.quorvanel.velto.mac";
        env.artworkCacheDir = dir.path() / "cache" / "Artwork";
        env.resourceDir = dir.path() / "resources";
        env.rovozOrigin = services.origin();
        env.neteaseOrigin = services.origin();
        env.credentialFallback = std::make_shared<InMemoryCredentialStore>();
        env.neteaseKeychain = std::make_shared<InMemoryNetEaseKeychain>();
        env.variables = [](const std::string&) -> std::optional<std::string> { return std::nullopt; };
        GStreamerQueuePlayer::Options options;
        options.audioSink = "fakesink sync=true";
        env.player = std::make_shared<GStreamerQueuePlayer>(mainQueue, options);
        env.nowPlaying = nowPlaying;
        env.remoteCommands = nowPlaying;
        env.clock = [] { return std::chrono::system_clock::now(); };
        env.perfMark = [](std::string_view, std::string_view) {};
        model = std::make_unique<MacAppModel>(std::move(env));
    }
    ~AppModelIntegrationTest() override { model.reset(); }

    // Searches like the panel does, plays the first song and waits until everything is in.
    void searchAndPlayFirst() {
        const auto page = model->runtime()->search("雾港", MusicSource::wy, 1, {});
        ASSERT_EQ(page.list.size(), services.songs().size());
        ASSERT_EQ(page.list[0].title, services.songs()[0].title);
        model->play(page.list, 0);
        const bool done = mainQueue.runUntil(
            [&] {
                return model->playback().state().kind == PlaybackService::StateKind::playing &&
                       model->lyrics() && model->artwork() && !model->recentTracks().empty() &&
                       model->playback().nowPlayingArtwork();
            },
            std::chrono::seconds(30));
        ASSERT_TRUE(done) << "state " << int(model->playback().state().kind) << " "
                          << model->playback().state().message;
        EXPECT_EQ(model->recentTracks().front().songmid, services.songs()[0].id);
        EXPECT_EQ(model->lyrics()->lines().at(0).text, "钟声落在雾里");
        ASSERT_TRUE(nowPlaying->info);
        EXPECT_EQ(nowPlaying->info->artUrl, model->artwork()->fileURL);
    }

    TempDir dir;
    FakeMusicServices services;
    ManualMainQueue mainQueue;
    WorkerPool workers{3};
    std::shared_ptr<FakeNowPlayingCenter> nowPlaying = std::make_shared<FakeNowPlayingCenter>();
    std::unique_ptr<MacAppModel> model;
};

TEST_F(AppModelIntegrationTest, SearchPlayRecordLyricsAndCoverOverTheNetEasePath) {
    searchAndPlayFirst();
    EXPECT_GT(services.requestCount("/api/song/enhance/player/url/v1"), 0u);
    EXPECT_EQ(services.requestCount("/api/163_music"), 0u);
}

TEST_F(AppModelIntegrationTest, FailingNetEaseStreamsFallBackToTheRovozPath) {
    services.failNetEaseStreams(true);
    searchAndPlayFirst();
    EXPECT_GT(services.requestCount("/api/163_music"), 0u);
}

}  // namespace
}  // namespace velto
