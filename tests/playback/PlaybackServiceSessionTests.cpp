#include <QSignalSpy>

#include "PlaybackServiceFixture.h"
#include "playback/PersistedSession.h"

using namespace velto;
using namespace std::chrono_literals;

namespace {

class PlaybackServiceSession : public PlaybackServiceTest {
  protected:
    void SetUp() override { make(); }

    void save(const Track& track, double elapsed, std::chrono::seconds age) {
        defaults.setData("velto.playback.session",
                         PersistedSession{track, elapsed, mainQueue.wallNow() - age}.encode());
    }
    // The current song fails, and the one refresh of its address fails as well.
    void failWithItsRefresh() {
        resolver.failOnce("wy_s1", sourceFailure("版权受限"));
        player.setItemStatus(player.currentItem(), PlayerItem::Status::failed, "连接中断");
        settle();
        mainQueue.advance(400ms);
        settle();
        ASSERT_EQ(service->state(), PlaybackService::State::failed("版权受限"));
    }
    bool restore() {
        bool done = false;
        service->restoreLastSessionIfNeeded([&] { done = true; });
        settle();
        return done;
    }
};

}  // namespace

TEST_F(PlaybackServiceSession, RestoresTheSavedSongPausedAtItsPosition) {
    save(makeSong("s7", "3:00"), 95, 1h);
    EXPECT_TRUE(restore());
    EXPECT_EQ(currentID(), "wy_s7");
    EXPECT_EQ(kind(), Kind::paused);
    EXPECT_FALSE(service->playbackRequested());
    EXPECT_EQ(player.timeControlStatus(), QueuePlayer::TimeControlStatus::paused);
    EXPECT_EQ(currentURL(), url("s7"));
    EXPECT_EQ(player.seekTargets(), std::vector<double>{95});
    EXPECT_EQ(service->elapsed(), 95);
    // The desktop never sees the paused song at its start first.
    ASSERT_FALSE(nowPlaying.elapsedPublished.empty());
    EXPECT_EQ(nowPlaying.elapsedPublished,
              std::vector<double>(nowPlaying.elapsedPublished.size(), 95));

    // The first play continues from there without loading again.
    service->play();
    settle();
    EXPECT_EQ(kind(), Kind::playing);
    EXPECT_EQ(resolver.callCount(), 1u);
    EXPECT_NEAR(player.currentTime(), 95, 0.01);
}

TEST_F(PlaybackServiceSession, AgeSourceAndPlayabilityDecideWhetherToRestore) {
    save(makeSong("s1"), 30, 7 * 24h - 1h);
    restore();
    EXPECT_EQ(currentID(), "wy_s1");

    make();
    save(makeSong("s1"), 30, 7 * 24h);
    restore();
    EXPECT_EQ(currentID(), "");

    save(makeSong("s1", "4:00", MusicSource::kg), 30, 1h);
    restore();
    EXPECT_EQ(currentID(), "");

    save(makeSong("s1", "4:00", MusicSource::wy, R"({"st":-1})"), 30, 1h);
    restore();
    EXPECT_EQ(currentID(), "");

    save(makeSong("/music/a.flac", "4:00", MusicSource::local), 30, -1h);  // saved "in the future"
    restore();
    EXPECT_EQ(currentID(), "local_/music/a.flac");
    EXPECT_EQ(resolver.callCount(), 2u);
}

TEST_F(PlaybackServiceSession, SavedPositionIsKeptInsideTheSong) {
    save(makeSong("s1", "4:00"), 0.8, 1h);
    restore();
    EXPECT_TRUE(player.seekTargets().empty());
    EXPECT_EQ(kind(), Kind::paused);

    make();
    player.removeAllItems();
    save(makeSong("s1", "1:30"), 95, 1h);
    restore();
    EXPECT_EQ(player.seekTargets(), std::vector<double>{89});

    make();
    player.removeAllItems();
    player.clearCalls();
    player.openItemsAutomatically(true, std::nullopt);  // the stream's length stays unknown too
    save(makeSong("s1", std::nullopt), 30, 1h);
    restore();
    EXPECT_TRUE(player.seekTargets().empty());
    EXPECT_EQ(kind(), Kind::paused);
}

TEST_F(PlaybackServiceSession, NeverReplacesAQueueOrUndoesWhatTheUserDid) {
    startPlaying(makeSongs(2));
    save(makeSong("s9"), 30, 1h);
    EXPECT_TRUE(restore());
    EXPECT_EQ(currentID(), "wy_s1");
    EXPECT_EQ(kind(), Kind::playing);

    // Play pressed while the saved song loads: no seek, no pause afterwards.
    make();
    player.removeAllItems();
    player.clearCalls();
    service->restoreLastSessionIfNeeded();
    service->play();
    settle();
    EXPECT_TRUE(player.seekTargets().empty());
    EXPECT_EQ(kind(), Kind::playing);

    // A new queue while the saved song loads wins as well.
    make();
    player.removeAllItems();
    service->restoreLastSessionIfNeeded();
    service->replaceQueue(makeSongs(2), 1, true);
    settle();
    EXPECT_EQ(currentID(), "wy_s2");
    EXPECT_EQ(kind(), Kind::playing);
    EXPECT_TRUE(player.seekTargets().empty());
}

// A song the restore could not load keeps the session's place, shown and saved, through tries
// that fail as well; the retry that loads it plays from there. Once heard, a song that fails is
// tried again from its start.
TEST_F(PlaybackServiceSession, ARestoreThatCannotLoadShowsTheFailureAndItsRetryGoesOnFromItsPlace) {
    auto savedElapsed = [&] {
        return PersistedSession::decode(*defaults.dataValue("velto.playback.session"))->elapsed;
    };
    save(makeSong("s1", "3:00"), 95, 1h);
    resolver.failAlways("wy_s1", sourceFailure("版权受限"));
    EXPECT_TRUE(restore());
    EXPECT_EQ(service->state(), PlaybackService::State::failed("版权受限"));
    EXPECT_EQ(service->failureMessage(), QString("版权受限"));
    EXPECT_EQ(service->elapsed(), 95);

    service->play();  // the desktop's play, which tries the song again too
    settle();
    EXPECT_EQ(service->state(), PlaybackService::State::failed("版权受限"));
    EXPECT_EQ(service->elapsed(), 95);
    EXPECT_EQ(savedElapsed(), 95);

    resolver.clearFailures();
    service->retryCurrent();
    settle();
    EXPECT_EQ(kind(), Kind::playing);
    EXPECT_EQ(player.seekTargets(), std::vector<double>{95});
    EXPECT_NEAR(player.currentTime(), 95, 0.01);
    EXPECT_EQ(service->elapsed(), 95);
    EXPECT_EQ(savedElapsed(), 95);

    mainQueue.advance(2s);
    ASSERT_NO_FATAL_FAILURE(failWithItsRefresh());
    player.clearCalls();
    service->retryCurrent();
    settle();
    EXPECT_EQ(kind(), Kind::playing);
    EXPECT_TRUE(player.seekTargets().empty());
    EXPECT_NEAR(player.currentTime(), 0, 0.01);
}

TEST_F(PlaybackServiceSession, AStreamFailingWhileTheRestoreSeeksStaysFailed) {
    save(makeSong("s1", "3:00"), 95, 1h);
    player.holdSeeks(true);
    bool done = false;
    service->restoreLastSessionIfNeeded([&] { done = true; });
    settle();
    ASSERT_EQ(player.pendingSeekCount(), 1u);
    ASSERT_NO_FATAL_FAILURE(failWithItsRefresh());
    player.completeSeeks(true);
    settle();
    EXPECT_TRUE(done);
    EXPECT_EQ(service->state(), PlaybackService::State::failed("版权受限"));
}

// Saves along a song only replace the file; a song's first save and a pause go to the disk.
TEST_F(PlaybackServiceSession, SessionIsSavedAtMostEveryFiveSecondsWhilePlaying) {
    using enum Durability;
    startPlaying(makeSongs(2));
    defaults.flush();
    defaultsWrites.clear();
    mainQueue.advance(1s);
    auto first = PersistedSession::decode(*defaults.dataValue("velto.playback.session"));
    ASSERT_TRUE(first);
    mainQueue.advance(3s);
    EXPECT_EQ(PersistedSession::decode(*defaults.dataValue("velto.playback.session"))->elapsed,
              first->elapsed);
    mainQueue.advance(3s);
    auto later = PersistedSession::decode(*defaults.dataValue("velto.playback.session"));
    EXPECT_GT(later->elapsed, first->elapsed + 4);
    EXPECT_EQ(later->track, makeSongs(1)[0]);
    defaults.flush();
    EXPECT_EQ(defaultsWrites, std::vector{deferred});  // the song's start was saved at once

    service->next();
    settle();
    defaults.flush();
    EXPECT_EQ(defaultsWrites.back(), forced);
    EXPECT_EQ(PersistedSession::decode(*defaults.dataValue("velto.playback.session"))->track,
              makeSongs(2)[1]);
    defaultsWrites.clear();
    mainQueue.advance(12s);
    // A pause between the clock's ticks saves the place where the song stopped, not the tick's.
    mainQueue.advance(1500ms);
    const double stoppedAt = player.currentTime();
    service->pause();
    defaults.flush();
    EXPECT_EQ(defaultsWrites, (std::vector{deferred, deferred, forced}));
    EXPECT_DOUBLE_EQ(
        PersistedSession::decode(*defaults.dataValue("velto.playback.session"))->elapsed,
        stoppedAt);
    EXPECT_DOUBLE_EQ(service->elapsed(), stoppedAt);
}

// A restart restores where playback was when the program ended, not the last save along the
// song; and a song started again (a loop of one) is saved from its new start, not at the end of
// the pass before.
TEST_F(PlaybackServiceSession, TheSessionIsSavedAtEachSongChangeAndWhenTheServiceEnds) {
    auto saved = [&] {
        return PersistedSession::decode(*defaults.dataValue("velto.playback.session"));
    };
    service->setPlaybackMode(Mode::repeatOne);
    startPlaying(makeSongs(2));
    mainQueue.advance(238s);
    settle();
    ASSERT_GT(saved()->elapsed, 230);
    player.finishCurrentItem();
    settle();
    ASSERT_EQ(currentID(), "wy_s1");
    EXPECT_EQ(saved()->elapsed, 0);
    mainQueue.advance(3500ms);
    const double playingAt = player.currentTime();
    ASSERT_GT(playingAt, 3);
    service.reset();
    EXPECT_DOUBLE_EQ(saved()->elapsed, playingAt);
    EXPECT_EQ(saved()->track, makeSongs(1)[0]);
}

TEST_F(PlaybackServiceSession, SavingGoesOnAfterTheClockIsSetBack) {
    startPlaying(makeSongs(1));
    mainQueue.advance(1s);
    auto first = PersistedSession::decode(*defaults.dataValue("velto.playback.session"));
    ASSERT_TRUE(first);
    mainQueue.setWallClock(mainQueue.wallNow() - 1h);
    mainQueue.advance(7s);
    auto later = PersistedSession::decode(*defaults.dataValue("velto.playback.session"));
    EXPECT_GT(later->elapsed, first->elapsed + 4);
    EXPECT_LT(later->savedAt, first->savedAt);
    mainQueue.advance(1900ms);  // and still at most every five seconds
    EXPECT_EQ(PersistedSession::decode(*defaults.dataValue("velto.playback.session"))->elapsed,
              later->elapsed);
}

// A song whose record cannot be written is not saved, nor tried again before the saves' next
// turn: the clock wakes for it no oftener than for any other.
TEST_F(PlaybackServiceSession, ASongThatCannotBeSavedWakesTheClockNoOftener) {
    auto song = makeSong("s1");
    song.title = "\xff";  // not UTF-8
    startPlaying({song});
    QSignalSpy ticks(service.get(), &PlaybackService::elapsedChanged);
    mainQueue.advance(9s);
    EXPECT_EQ(ticks.count(), 1);  // the turn 5 s in
    EXPECT_FALSE(defaults.dataValue("velto.playback.session"));
}

TEST_F(PlaybackServiceSession, ReplaceQueueKeepsEverythingWhenTheChosenSongCannotPlay) {
    startPlaying(makeSongs(2));
    QSignalSpy queue(service.get(), &PlaybackService::queueChanged);
    auto songs = makeSongs(3);
    songs[1].payload = R"({"privilege":{"st":-200}})";
    bool done = false;
    service->replaceQueue(songs, 1, true, "p1", {}, [&] { done = true; });
    EXPECT_TRUE(done);
    EXPECT_EQ(queue.count(), 0);
    EXPECT_EQ(service->queue().tracks().size(), 2u);
    EXPECT_FALSE(service->activePlaylistID());
    EXPECT_EQ(kind(), Kind::playing);

    service->replaceQueue(songs, std::nullopt, false, "p1");
    EXPECT_EQ(queue.count(), 1);
    EXPECT_EQ(service->queue().tracks().size(), 2u);  // the unplayable one left out
    EXPECT_EQ(service->activePlaylistID(), "p1");
}

TEST_F(PlaybackServiceSession, ShuffleStartsAtARandomSongOnlyWhenThereIsAChoice) {
    service->setPlaybackMode(Mode::shuffle);
    randomCalls.clear();
    randomAnswer = 3;
    service->replaceQueue(makeSongs(5), std::nullopt, false);
    ASSERT_FALSE(randomCalls.empty());
    EXPECT_EQ(randomCalls.front(), std::make_pair(std::ptrdiff_t(0), std::ptrdiff_t(5)));
    EXPECT_EQ(currentID(), "wy_s4");

    randomCalls.clear();
    service->replaceQueue(makeSongs(1), std::nullopt, false);
    EXPECT_TRUE(randomCalls.empty());
    EXPECT_EQ(currentID(), "wy_s1");
}

TEST_F(PlaybackServiceSession, PlaylistAdditionsFollowTheModeAndThePlaylist) {
    service->replaceQueue(makeSongs(3), 0, false, "mine");
    settle();
    QSignalSpy queue(service.get(), &PlaybackService::queueChanged);

    service->onTrackAddedToPlaylist(makeSong("x"), "other");
    service->onTrackAddedToPlaylist(makeSong("s2"), "mine");
    service->onTrackAddedToPlaylist(makeSong("k", "4:00", MusicSource::kg), "mine");
    EXPECT_EQ(queue.count(), 0);

    service->onTrackAddedToPlaylist(makeSong("x"), "mine");
    EXPECT_EQ(queue.count(), 1);
    EXPECT_EQ(service->queue().tracks().back().musicID(), "wy_x");
    service->onTrackAddedToPlaylist(makeSong("x"), "mine");
    EXPECT_EQ(service->queue().tracks().size(), 4u);

    service->setPlaybackMode(Mode::shuffle);
    service->onTrackAddedToPlaylist(makeSong("y"), "mine");
    EXPECT_EQ(service->queue().peekNext(true)->musicID(), "wy_y");
}

TEST_F(PlaybackServiceSession, PlaylistRemovalsSpareThePlayingSong) {
    auto songs = makeSongs(3);
    songs.push_back(makeSong("s2"));
    service->replaceQueue(songs, 1, false, "mine");
    settle();
    service->onTrackRemovedFromPlaylist(makeSong("s2"), "mine");
    EXPECT_EQ(service->queue().tracks().size(), 4u);

    service->onTrackRemovedFromPlaylist(makeSong("s3"), "other");
    EXPECT_EQ(service->queue().tracks().size(), 4u);

    service->replaceQueue(songs, 0, false, "mine");
    settle();
    service->onTrackRemovedFromPlaylist(makeSong("s2"), "mine");
    auto left = service->queue().tracks();
    ASSERT_EQ(left.size(), 3u);
    EXPECT_EQ(left[1].musicID(), "wy_s3");
    EXPECT_EQ(left[2].musicID(), "wy_s2");
}

TEST_F(PlaybackServiceSession, RefreshedDetailsReachTheQueue) {
    service->replaceQueue(makeSongs(2), 0, false);
    QSignalSpy queue(service.get(), &PlaybackService::queueChanged);
    auto renamed = makeSong("s1");
    renamed.title = "新标题";
    service->updateTrackMetadata(renamed);
    EXPECT_EQ(queue.count(), 1);
    EXPECT_EQ(service->currentTitle(), QString("新标题"));
}

TEST_F(PlaybackServiceSession, PropertiesReadThroughQtMatchTheService) {
    startPlaying(makeSongs(3), 2);
    EXPECT_EQ(service->property("state").toInt(), int(Kind::playing));
    EXPECT_EQ(service->property("currentMusicID").toString(), QString("wy_s3"));
    EXPECT_EQ(service->property("queueCount").toInt(), 3);
    EXPECT_EQ(service->property("preferredQuality").toString(), QString("master"));
    EXPECT_TRUE(service->property("lastActualQuality").toString().isEmpty());
    EXPECT_TRUE(service->property("playbackRequested").toBool());
    EXPECT_EQ(service->property("playbackMode").toString(), QString("listLoop"));
}
