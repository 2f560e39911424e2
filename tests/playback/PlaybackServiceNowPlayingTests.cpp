#include "PlaybackServiceFixture.h"

using namespace velto;
using namespace std::chrono_literals;

namespace {

using PlaybackState = NowPlayingCenter::PlaybackState;

class PlaybackServiceNowPlaying : public PlaybackServiceTest {
  protected:
    void SetUp() override { make(); }

    const NowPlayingCenter::Info& info() const { return *nowPlaying.info; }
};

TEST_F(PlaybackServiceNowPlaying, StateAndSongFollowTheTransport) {
    // Nothing to play: the display is cleared and shows nothing playing.
    service->play();
    settle();
    EXPECT_FALSE(nowPlaying.info);
    EXPECT_GE(nowPlaying.clears, 1);
    EXPECT_EQ(nowPlaying.state(), PlaybackState::stopped);

    player.openItemsAutomatically(false);
    service->replaceQueue(makeSongs(2), 0, true);
    EXPECT_EQ(nowPlaying.state(), PlaybackState::playing);  // on its way, as asked
    // ... but waiting: its position stands until its sound begins.
    ASSERT_TRUE(nowPlaying.info);
    EXPECT_TRUE(info().waiting);
    settle();
    EXPECT_TRUE(info().waiting);
    // Its data come after the wait was told: the desktop hears the sound begin then, not at the
    // clock's next tick.
    ASSERT_TRUE(player.currentItem());
    player.makeReady(player.currentItem(), 240);
    player.openItemsAutomatically(true, 240);
    settle();
    EXPECT_EQ(nowPlaying.state(), PlaybackState::playing);
    ASSERT_TRUE(nowPlaying.info);
    EXPECT_FALSE(info().waiting);
    EXPECT_EQ(info().trackId, "wy_s1");
    EXPECT_EQ(info().title, "title s1");
    EXPECT_EQ(info().artist, "artist s1");
    EXPECT_EQ(info().album, "album s1");
    EXPECT_EQ(info().duration, 240);
    EXPECT_EQ(info().rate, 1.0);
    EXPECT_FALSE(info().artUrl);

    for (int i = 0; i < 51; ++i) mainQueue.advance(200ms);
    // The position is given again with each save of the place along the song (every 5 s).
    EXPECT_NEAR(info().elapsed, 10, 0.3);
    service->setPlaybackRate(1.5);
    mainQueue.advance(200ms);
    EXPECT_EQ(info().rate, 1.5);

    service->pause();
    EXPECT_EQ(nowPlaying.state(), PlaybackState::paused);
    EXPECT_EQ(info().elapsed, service->elapsed());
    // A seek while paused shows the new position at once.
    service->seek(42);
    settle();
    EXPECT_EQ(info().elapsed, 42);

    service->next();
    settle();
    EXPECT_EQ(nowPlaying.state(), PlaybackState::playing);
    EXPECT_EQ(info().trackId, "wy_s2");
    EXPECT_EQ(info().elapsed, 0);

    // One that will not load with another behind it is left for that one by itself: the
    // desktop is shown a wait, never a stop.
    resolver.failAlways("wy_s1", sourceFailure("歌曲下架"));
    nowPlaying.states.clear();
    service->replaceQueue(makeSongs(2), 0, true);
    settle();
    EXPECT_EQ(kind(), Kind::failed);
    EXPECT_TRUE(info().waiting);
    mainQueue.advance(150ms);
    settle();
    EXPECT_EQ(currentID(), "wy_s2");
    EXPECT_EQ(kind(), Kind::playing);
    EXPECT_EQ(
        std::count(nowPlaying.states.begin(), nowPlaying.states.end(), PlaybackState::stopped), 0);
    // A pause in that moment stops the move: the failure shows.
    service->replaceQueue(makeSongs(2), 0, true);
    settle();
    service->pause();
    mainQueue.advance(150ms);
    settle();
    EXPECT_EQ(currentID(), "wy_s1");
    EXPECT_NE(nowPlaying.state(), PlaybackState::playing);
    EXPECT_FALSE(info().waiting);

    // A song that will not load is still shown, but not as playing or paused.
    resolver.failAlways("wy_s1", sourceFailure("歌曲下架"));
    service->replaceQueue({makeSong("s1")}, 0, true);
    settle();
    EXPECT_EQ(kind(), Kind::failed);
    EXPECT_EQ(nowPlaying.state(), PlaybackState::stopped);
    EXPECT_EQ(info().trackId, "wy_s1");
}

TEST_F(PlaybackServiceNowPlaying, ARestoredSongShowsPausedWhileItLoads) {
    service->replaceQueue(makeSongs(1), 0, false);
    EXPECT_EQ(kind(), Kind::loading);
    EXPECT_EQ(nowPlaying.state(), PlaybackState::paused);
    settle();
    EXPECT_EQ(nowPlaying.state(), PlaybackState::paused);
    EXPECT_EQ(info().duration, 240);
}

TEST_F(PlaybackServiceNowPlaying, CoverComesFromTheRecordUnlessOneIsHandedIn) {
    auto song =
        makeSong("s1", "4:00", MusicSource::wy, R"({"id":1,"picUrl":"https://img.test/1.jpg"})");
    auto untimed = makeSong("s2", std::nullopt, MusicSource::wy, R"({"picUrl":""})");
    startPlaying({song, untimed});
    EXPECT_EQ(info().artUrl, "https://img.test/1.jpg");

    service->updateNowPlayingArtwork("https://img.test/big.jpg");
    EXPECT_EQ(service->nowPlayingArtwork(), "https://img.test/big.jpg");
    EXPECT_EQ(info().artUrl, "https://img.test/big.jpg");
    service->updateNowPlayingArtwork("/音乐/封面 1.jpg");
    EXPECT_EQ(info().artUrl, "file:///%E9%9F%B3%E4%B9%90/%E5%B0%81%E9%9D%A2%201.jpg");
    service->updateNowPlayingArtwork(std::nullopt);
    EXPECT_EQ(info().artUrl, "https://img.test/1.jpg");

    auto renamed = song;
    renamed.artist = "新歌手";
    service->updateTrackMetadata(renamed);
    EXPECT_EQ(info().artist, "新歌手");

    // An empty address is no cover, and an unknown length is not announced as 0.
    service->next();
    EXPECT_FALSE(info().artUrl);
    EXPECT_FALSE(info().duration);
}

TEST_F(PlaybackServiceNowPlaying, RemoteCommandsReachTheTransport) {
    auto& commands = nowPlaying.handlers;
    ASSERT_TRUE(commands.play && commands.pause && commands.togglePlayPause && commands.nextTrack &&
                commands.previousTrack && commands.changePlaybackPosition);
    startPlaying(makeSongs(3));

    commands.togglePlayPause();
    EXPECT_EQ(kind(), Kind::paused);
    EXPECT_FALSE(service->playbackRequested());
    commands.togglePlayPause();
    settle();
    EXPECT_EQ(kind(), Kind::playing);
    commands.pause();
    EXPECT_EQ(kind(), Kind::paused);
    commands.play();
    settle();
    EXPECT_EQ(kind(), Kind::playing);

    commands.changePlaybackPosition(500);
    settle();
    EXPECT_EQ(player.seekTargets().back(), 240);  // not past the song's length
    EXPECT_EQ(service->elapsed(), 240);
    commands.changePlaybackPosition(-3);
    settle();
    EXPECT_EQ(player.seekTargets().back(), 0);
    commands.changePlaybackPosition(61.5);
    settle();
    EXPECT_NEAR(player.currentTime(), 61.5, 0.01);

    commands.nextTrack();
    settle();
    EXPECT_EQ(currentID(), "wy_s2");
    commands.previousTrack();
    settle();
    EXPECT_EQ(currentID(), "wy_s1");
    EXPECT_EQ(kind(), Kind::playing);

    // A command that arrives after the service is gone has nothing left to call.
    service.reset();
    EXPECT_FALSE(commands.play || commands.togglePlayPause || commands.changePlaybackPosition);
}

}  // namespace
