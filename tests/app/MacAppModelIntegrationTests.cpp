// The real graph (GStreamer into a fake sink, both services' clients, the store) against the
// fake services on loopback.
#include <gtest/gtest.h>

#include <functional>

#include "app/MacAppModel.h"
#include "foundation/ManualMainQueue.h"
#include "foundation/files/UserDefaults.h"
#include "foundation/WorkerPool.h"
#include "library/store/LibraryStore.h"
#include "library/online/OnlinePlaylistImportService.h"
#include "library/exchange/PlaylistBackup.h"
#include "platform/gstreamer/GStreamerQueuePlayer.h"
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

    bool waitFor(const std::function<bool()>& done) {
        return mainQueue.runUntil(done, std::chrono::seconds(30));
    }

    // Searches like the panel does, plays the first song and waits until everything is in.
    void searchAndPlayFirst() {
        const auto page = model->runtime()->search("岚屿", MusicSource::wy, 1, {});
        ASSERT_EQ(page.list.size(), 2u);
        ASSERT_EQ(page.list[0].title, services.songs()[0].title);
        model->play(page.list, 0);
        const bool done = waitFor([&] {
            return model->playback().state().kind == PlaybackService::StateKind::playing && model->lyrics() &&
                   model->artwork() && !model->recentTracks().empty() && model->playback().nowPlayingArtwork();
        });
        ASSERT_TRUE(done) << "state " << int(model->playback().state().kind) << " "
                          << model->playback().state().message;
        EXPECT_EQ(model->recentTracks().front().songmid, services.songs()[0].id);
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

// What a newcomer does over the fake services: every scope finds something, a song plays with
// its cover and translated lyrics, becomes a favourite, a playlist imports, the broken song fails.
TEST_F(AppModelIntegrationTest, SearchPlayFavouriteLyricsAndImportOverTheFakeServices) {
    auto& runtime = *model->runtime();
    const auto artists = runtime.searchArtists("岚屿", MusicSource::wy, 1, {});
    ASSERT_EQ(artists.list.size(), 1u);
    EXPECT_EQ(runtime.artistPopularTracks(artists.list[0], {}).size(), 2u);
    const auto albums = runtime.artistAlbums(artists.list[0], 1, {});
    ASSERT_EQ(albums.list.size(), 1u);
    EXPECT_EQ(runtime.albumTracks(albums.list[0], {}).tracks.size(), 2u);
    const auto playlists = runtime.playlistSearch("北坡", MusicSource::wy, 1, {});
    ASSERT_EQ(playlists.list.size(), 2u);
    EXPECT_EQ(runtime.playlistDetail(MusicSource::wy, playlists.list[1].id, 1, {}).list.size(), 2u);
    EXPECT_FALSE(runtime.tipSearch("雾港", {}).empty());
    EXPECT_GT(runtime.hotSearch(MusicSource::wy, {}).size(), 8u);

    searchAndPlayFirst();
    EXPECT_GT(services.requestCount("/api/song/enhance/player/url/v1"), 0u);
    EXPECT_EQ(services.requestCount("/api/163_music"), 0u);
    EXPECT_EQ(model->lyrics()->lines().at(0).text, "钟声落在雾里");
    EXPECT_EQ(model->lyrics()->translatedLines().size(), model->lyrics()->lines().size());

    const Track current = model->recentTracks().front();
    model->collect(current);
    EXPECT_TRUE(waitFor([&] { return model->isFavorite(current); }));

    const auto preview = model->onlinePlaylistImporter()->preview("77", MusicSource::wy, {});
    EXPECT_EQ(preview.tracks.size(), services.playlists()[0].songIDs.size());
    EXPECT_EQ(preview.missingTrackCount + preview.invalidTrackCount + preview.duplicateTrackCount, 0);
    // Into the personal playlist, which already holds the favourite.
    const auto imported = model->library()->importPersonalPlaylist(PlaylistBackup::encode(preview.name, preview.tracks));
    EXPECT_EQ(imported.insertedCount, std::int64_t(preview.tracks.size()) - 1);
    EXPECT_EQ(imported.totalCount, std::int64_t(preview.tracks.size()));

    // One failure is retried after a delay on the virtual clock; the second one stands.
    const auto broken = runtime.search(services.brokenSong().title, MusicSource::wy, 1, {});
    model->play(broken.list, 0);
    bool failed = false;
    for (int step = 0; step < 300 && !failed; ++step) {
        failed = mainQueue.runUntil([&] { return model->playback().state().kind == PlaybackService::StateKind::failed; },
                                    std::chrono::milliseconds(100));
        mainQueue.advance(std::chrono::milliseconds(100));
    }
    EXPECT_TRUE(failed) << model->playback().state().message;
}

TEST_F(AppModelIntegrationTest, FailingNetEaseStreamsFallBackToTheRovozPath) {
    services.failNetEaseStreams(true);
    searchAndPlayFirst();
    EXPECT_GT(services.requestCount("/api/163_music"), 0u);
}

}  // namespace
}  // namespace velto
