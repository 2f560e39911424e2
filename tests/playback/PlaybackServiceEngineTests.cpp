#include "PlaybackServiceFixture.h"

using namespace velto;
using namespace std::chrono_literals;

namespace {

class PlaybackServiceEngine : public PlaybackServiceTest {
  protected:
    void SetUp() override { make(); }

    // Plays the current song until `secondsLeft` remain, letting prefetches finish.
    void playUntilLeft(double secondsLeft) {
        double target = service->duration() - secondsLeft;
        // The player's position standing (at the end of its stream) ends the wait as well.
        for (double before = -1;
             service->elapsed() < target - 0.1 && player.currentTime() > before;) {
            before = player.currentTime();
            mainQueue.advance(200ms);
            settle();
        }
    }
    // Plays `count` songs from `start` and seeks into its last moments, where the next song's
    // item (if any) is already queued behind it.
    void playIntoLastMoments(int count, std::ptrdiff_t start = 0) {
        startPlaying(makeSongs(count), start);
        service->seek(service->duration() - 1.3);
        mainQueue.advance(1s);
        settle();
    }
    std::size_t callsFor(const std::string& musicID) const {
        auto calls = resolver.calls();
        return std::count_if(calls.begin(), calls.end(),
                             [&](const auto& call) { return call.musicID == musicID; });
    }
};

}  // namespace

TEST_F(PlaybackServiceEngine, NextSongIsPreparedNearTheEndAndTakesOverWithoutAGap) {
    resolver.setReportedQuality([](Quality) { return Quality::lossless; });
    startPlaying(makeSongs(3));
    resolver.setReportedQuality([](Quality) { return Quality::standard; });
    playUntilLeft(60);
    EXPECT_EQ(callsFor("wy_s2"), 0u);  // not due yet
    playUntilLeft(29);
    ASSERT_EQ(callsFor("wy_s2"), 1u);
    auto prepared = service->preparedNextItem();
    ASSERT_TRUE(prepared);
    EXPECT_EQ(prepared->uri(), url("s2"));
    EXPECT_EQ(player.items().size(), 2u);
    // A prefetch's quality belongs to the next song, not to the one playing.
    EXPECT_EQ(service->lastActualQuality(), Quality::lossless);

    player.finishCurrentItem();
    settle();
    EXPECT_EQ(currentID(), "wy_s2");
    EXPECT_EQ(player.currentItem(), prepared);
    EXPECT_EQ(callsFor("wy_s2"), 1u);
    EXPECT_EQ(kind(), Kind::playing);
    EXPECT_TRUE(service->lastTransitionTiming()->reusedPreparedItem);
    EXPECT_EQ(service->lastActualQuality(), Quality::standard);
    EXPECT_FALSE(service->preparedNextItem());
    EXPECT_NE(logLines.back().find("prepared=1"), std::string::npos);
}

// A song's length as written may be wrong (an MP3 read by its first frame) or of another cut
// (a trial clip): once the player knows the stream's own, that is the length for views, seeks
// and the next song's fetch alike. A local file's measured length yields only to a longer one:
// the player may be estimating. Whatever is known, no view is shown a length under the
// position heard.
TEST_F(PlaybackServiceEngine, TheStreamsLongerLengthWinsAndNeverSitsUnderThePosition) {
    player.openItemsAutomatically(true, std::nullopt);
    startPlaying({makeSong("s1", "0:05"), makeSong("s2", "50:00"),
                  makeSong("s3", "0:40", MusicSource::local), makeSong("s4")});
    EXPECT_EQ(service->duration(), 5);
    std::vector<std::string> under;
    auto check = [&] {
        if (service->duration() < service->elapsed())
            under.push_back(std::to_string(service->duration()) + " < " +
                            std::to_string(service->elapsed()));
        if (nowPlaying.info && nowPlaying.info->duration.value_or(0) < nowPlaying.info->elapsed)
            under.push_back("published " + std::to_string(nowPlaying.info->elapsed));
    };
    QObject::connect(service.get(), &PlaybackService::elapsedChanged, check);
    QObject::connect(service.get(), &PlaybackService::durationChanged, check);
    std::vector<Track> learned;
    QObject::connect(service.get(), &PlaybackService::songLengthLearned,
                     [&](const Track& track) { learned.push_back(track); });
    auto watch = service->watchTime();
    mainQueue.advance(7s);
    settle();
    EXPECT_GT(service->elapsed(), 6.5);
    EXPECT_EQ(under, std::vector<std::string>{});

    // The player's estimate as it reads on, under the position as well as over it.
    player.currentItem()->setDuration(6.5);
    mainQueue.advance(400ms);
    EXPECT_EQ(service->duration(), service->elapsed());
    player.currentItem()->setDuration(95);
    mainQueue.advance(400ms);
    EXPECT_EQ(service->duration(), 95);
    EXPECT_EQ(under, std::vector<std::string>{});
    service->seek(200);
    settle();
    EXPECT_EQ(service->elapsed(), 95);
    // Past the length written, the end may come any moment: the next song is fetched then.
    EXPECT_EQ(callsFor("wy_s2"), 1u);

    // An estimate under the length written does not shorten it.
    player.openItemsAutomatically(true, 120);
    player.finishCurrentItem();
    settle();
    ASSERT_EQ(currentID(), "wy_s2");
    EXPECT_EQ(service->duration(), 3000);

    player.openItemsAutomatically(true, 5.2);
    player.finishCurrentItem();
    settle();
    ASSERT_EQ(currentID(), "local_s3");
    EXPECT_EQ(service->duration(), 40);
    player.currentItem()->setDuration(61);
    mainQueue.advance(1s);
    EXPECT_EQ(service->duration(), 61);
    EXPECT_EQ(under, std::vector<std::string>{});

    // Played to its end, the local song keeps the longer length it showed; the others' streams
    // said nothing of their songs.
    EXPECT_TRUE(learned.empty());
    player.finishCurrentItem();
    settle();
    ASSERT_EQ(learned.size(), 1u);
    EXPECT_EQ(learned[0].musicID(), "local_s3");
    EXPECT_EQ(learned[0].interval, "1:01");
    EXPECT_EQ(service->queue().tracks()[2].interval, "1:01");
}

TEST_F(PlaybackServiceEngine, APreparedSongIsDroppedWhenTheNextSongChanges) {
    startPlaying(makeSongs(3));
    playUntilLeft(20);
    ASSERT_TRUE(service->preparedNextItem());
    service->setPlaybackMode(Mode::repeatOne);
    EXPECT_FALSE(service->preparedNextItem());
    EXPECT_EQ(player.items().size(), 1u);

    // A user jump to another song resolves that song; the prepared one is not used.
    service->setPlaybackMode(Mode::sequence);
    playUntilLeft(10);
    ASSERT_TRUE(service->preparedNextItem());
    service->previous();
    settle();
    EXPECT_EQ(currentID(), "wy_s3");
    EXPECT_EQ(player.items().size(), 1u);
    EXPECT_EQ(currentURL(), url("s3"));
}

TEST_F(PlaybackServiceEngine, ALoadTakesOverAPrefetchStillUnderWay) {
    startPlaying(makeSongs(3));
    while (executor.pending() == 0) mainQueue.advance(200ms);  // the prefetch of s2 starts
    service->next();
    settle();
    EXPECT_EQ(currentID(), "wy_s2");
    EXPECT_EQ(callsFor("wy_s2"), 1u);
    EXPECT_EQ(kind(), Kind::playing);
}

TEST_F(PlaybackServiceEngine, EndOfSongFollowsTheMode) {
    service->setPlaybackMode(Mode::repeatOne);
    startPlaying(makeSongs(2));
    player.finishCurrentItem();
    settle();
    EXPECT_EQ(currentID(), "wy_s1");
    EXPECT_EQ(kind(), Kind::playing);
    EXPECT_EQ(callsFor("wy_s1"), 2u);

    service->setPlaybackMode(Mode::sequence);
    startPlaying(makeSongs(2), 1);
    player.finishCurrentItem();
    settle();
    EXPECT_EQ(currentID(), "wy_s1");
    EXPECT_EQ(kind(), Kind::playing);

    service->setPlaybackMode(Mode::playInOrder);
    startPlaying(makeSongs(2), 1);
    player.finishCurrentItem();
    settle();
    EXPECT_EQ(currentID(), "wy_s2");
    EXPECT_EQ(kind(), Kind::paused);
    EXPECT_FALSE(service->playbackRequested());
}

// A song's end carries on with what the person asked for last. A pause sent in its last moments
// comes before the player's report of that end, whether or not the player already went on to
// the next song; the next song then waits, paused.
TEST_F(PlaybackServiceEngine, APauseInASongsLastMomentsHoldsThroughItsEnd) {
    for (auto mode : PlaybackService::allPlaybackModes) {
        for (int count : {1, 3}) {
            for (bool movedOnFirst : {false, true}) {
                SCOPED_TRACE(testing::Message()
                             << "mode " << PlaybackService::rawValue(mode) << ", songs " << count
                             << ", moved on first " << movedOnFirst);
                service->setPlaybackMode(mode);
                playIntoLastMoments(count);
                const bool wraps = mode != Mode::playInOrder;
                const auto next = mode == Mode::repeatOne ? service->queue().current()
                                                          : service->queue().peekNext(wraps);
                const auto expected = next ? next->musicID() : currentID();
                if (next && mode != Mode::repeatOne) {
                    ASSERT_TRUE(service->preparedNextItem());
                }
                const auto prepared = service->preparedNextItem();

                if (movedOnFirst) player.finishCurrentItem();
                service->pause();
                if (!movedOnFirst) player.finishCurrentItem();
                settle();
                mainQueue.advance(1s);
                settle();
                EXPECT_EQ(currentID(), expected);
                EXPECT_EQ(kind(), Kind::paused);
                EXPECT_FALSE(service->playbackRequested());
                EXPECT_FALSE(player.wantsToPlay());
                if (prepared) {
                    EXPECT_EQ(player.currentItem(), prepared);
                }

                // Play then starts that song where it waits.
                service->play();
                settle();
                EXPECT_EQ(currentID(), expected);
                EXPECT_EQ(kind(), Kind::playing);
            }
        }
    }
}

// Whatever moves on by itself near a song's end yields to what the person asks for after it: a
// pause stays paused and a play plays, on the song the move leads to.
TEST_F(PlaybackServiceEngine, WhatMovesOnNearTheEndYieldsToAPauseOrPlayAfterIt) {
    auto breakStream = [this] {
        player.setItemStatus(player.currentItem(), PlayerItem::Status::failed, "连接中断");
        settle();
    };
    struct Move {
        const char* name;
        std::function<void()> start;
        const char* song;  // where it leads
        Mode mode = Mode::sequence;
        std::ptrdiff_t from = 0;
    };
    const std::vector<Move> moves{
        {"the end, the player already on the next song", [&] { player.finishCurrentItem(); },
         "wy_s2"},
        {"a broken stream's recovery", breakStream, "wy_s1"},
        {"the skip after a stream broken for good",
         [&] {
             breakStream();
             mainQueue.advance(400ms);
             settle();
             breakStream();
         },
         "wy_s1"},
        {"the skip past a next song that cannot load",
         [&] {
             player.setItemStatus(service->preparedNextItem(), PlayerItem::Status::failed);
             resolver.failOnce("wy_s2", sourceFailure("无版权"));
             settle();
             player.finishCurrentItem();
             settle();
         },
         "wy_s2"},
        {"a retry", [&] { service->retryCurrent(); }, "wy_s1"},
        {"next, the player already on the next song",
         [&] {
             player.finishCurrentItem();
             service->next();
         },
         "wy_s2"},
        {"previous, the player already on the next song",
         [&] {
             player.finishCurrentItem();
             service->previous();
         },
         "wy_s3"},
        {"the end of a queue that stops there, the player past it",
         [&] { player.finishCurrentItem(); }, "wy_s3", Mode::playInOrder, 2},
    };
    for (const auto& move : moves) {
        for (bool playAfter : {false, true}) {
            SCOPED_TRACE(testing::Message()
                         << move.name << (playAfter ? ", pause, play" : ", pause"));
            service->setPlaybackMode(move.mode);
            playIntoLastMoments(3, move.from);
            move.start();
            service->pause();
            if (playAfter) service->play();
            settle();
            mainQueue.advance(1s);  // past the recovery's and the skip's delays
            settle();
            EXPECT_EQ(currentID(), move.song);
            EXPECT_EQ(service->playbackRequested(), playAfter);
            EXPECT_EQ(player.wantsToPlay(), playAfter);
            EXPECT_EQ(kind(), playAfter ? Kind::playing : Kind::paused);
        }
    }
}

TEST_F(PlaybackServiceEngine, AStallThatOutlastsTheTimeoutIsRecoveredOnce) {
    startPlaying(makeSongs(2));
    mainQueue.advance(30s);
    player.stall();
    settle();
    EXPECT_EQ(kind(), Kind::loading);
    mainQueue.advance(19s);
    player.resume();
    settle();
    EXPECT_EQ(kind(), Kind::playing);
    mainQueue.advance(5s);
    EXPECT_EQ(resolver.callCount(), 1u);  // the cancelled time-out did nothing

    player.stall();
    settle();
    mainQueue.advance(20s);
    mainQueue.advance(400ms);
    settle();
    ASSERT_EQ(resolver.callCount(), 2u);
    EXPECT_TRUE(resolver.calls().back().refreshed);
    EXPECT_EQ(currentID(), "wy_s1");
    EXPECT_EQ(kind(), Kind::playing);
    EXPECT_NEAR(player.currentTime(), 35, 0.5);  // resumed where it stalled
}

// An item that never opens sends no stall; every way into a load must still end, after its one
// recovery, in a failure the user reads instead of an endless spinner. A song's end into a
// prepared next song that never opens (its share hangs) waits as a Next into it does.
TEST_F(PlaybackServiceEngine, ALoadThatNeverOpensEndsInTheTimeOutFailure) {
    enum class Way { play, pauseThenNext, endIntoPrepared };
    for (Way way : {Way::play, Way::pauseThenNext, Way::endIntoPrepared}) {
        SCOPED_TRACE(static_cast<int>(way));
        player.openItemsAutomatically(way == Way::endIntoPrepared);
        if (way == Way::endIntoPrepared) {
            playIntoLastMoments(2);
            ASSERT_TRUE(service->preparedNextItem());
            player.openItemsAutomatically(false);
            player.finishCurrentItem();
            settle();
            EXPECT_EQ(currentID(), "wy_s2");
        } else {
            startPlaying(makeSongs(2));
        }
        if (way == Way::pauseThenNext) {
            service->pause();
            service->next();
            settle();
        }
        EXPECT_EQ(kind(), Kind::loading);
        mainQueue.advance(20s);
        settle();
        EXPECT_TRUE(service->recoveryGate().recoveryConsumed);
        mainQueue.advance(400ms);  // the recovery's new item never opens either
        settle();
        mainQueue.advance(20s);
        settle();
        EXPECT_EQ(service->state(), PlaybackService::State::failed("缓冲超时，请检查网络后重试"));
        service->pause();
    }
}

TEST_F(PlaybackServiceEngine, OneRecoveryPerLoadThenTheFailureShowsAndSkips) {
    startPlaying(makeSongs(2));
    auto generation = service->recoveryGate().generation;
    player.setItemStatus(player.currentItem(), PlayerItem::Status::failed, "解码失败");
    settle();
    EXPECT_EQ(kind(), Kind::loading);
    EXPECT_TRUE(service->recoveryGate().recoveryConsumed);
    mainQueue.advance(399ms);
    EXPECT_EQ(resolver.callCount(), 1u);
    mainQueue.advance(1ms);
    settle();
    EXPECT_EQ(resolver.callCount(), 2u);
    EXPECT_EQ(kind(), Kind::playing);
    EXPECT_EQ(service->recoveryGate().generation, generation);

    player.setItemStatus(player.currentItem(), PlayerItem::Status::failed, "解码失败");
    settle();
    EXPECT_EQ(service->state(), PlaybackService::State::failed("解码失败"));
    mainQueue.advance(150ms);
    settle();
    EXPECT_EQ(currentID(), "wy_s2");
    EXPECT_EQ(kind(), Kind::playing);
    EXPECT_FALSE(service->recoveryGate().recoveryConsumed);  // a new load, a new chance
}

TEST_F(PlaybackServiceEngine, UnplayableSongsAreSkippedAtMostThreeTimesInARow) {
    for (int i = 1; i <= 5; ++i)
        resolver.failAlways("wy_s" + std::to_string(i), sourceFailure("无版权"));
    service->replaceQueue(makeSongs(5), 0, true);
    for (int i = 0; i < 10; ++i) {
        settle();
        mainQueue.advance(150ms);
    }
    EXPECT_EQ(resolver.callCount(), 4u);
    EXPECT_EQ(currentID(), "wy_s4");
    EXPECT_EQ(service->state(), PlaybackService::State::failed("无版权"));
    EXPECT_EQ(service->consecutiveAutoplayFailures(), 4);

    // A pause during the skip delay keeps the failed song.
    resolver.clearFailures();
    resolver.failOnce("wy_s4", sourceFailure("无版权"));
    service->retryCurrent();
    settle();
    service->pause();
    mainQueue.advance(1s);
    settle();
    EXPECT_EQ(currentID(), "wy_s4");

    // A single song is never skipped away from, and a load without autoplay never skips.
    service->replaceQueue({makeSong("s1")}, 0, true);
    resolver.failAlways("wy_s1", sourceFailure("无版权"));
    service->retryCurrent();
    settle();
    mainQueue.advance(1s);
    EXPECT_EQ(kind(), Kind::failed);
    resolver.failAlways("wy_s2", sourceFailure("无版权"));
    service->replaceQueue(makeSongs(3), 1, false);
    settle();
    mainQueue.advance(1s);
    settle();
    EXPECT_EQ(currentID(), "wy_s2");
}

TEST_F(PlaybackServiceEngine, APreparedSongThatCannotOpenIsLoadedAfreshAtItsTurn) {
    startPlaying(makeSongs(3));
    playUntilLeft(20);
    auto prepared = service->preparedNextItem();
    ASSERT_TRUE(prepared);
    player.setItemStatus(prepared, PlayerItem::Status::failed, "无法打开");
    settle();
    EXPECT_FALSE(service->preparedNextItem());
    playUntilLeft(5);
    EXPECT_EQ(callsFor("wy_s2"), 1u);  // not prefetched over and over

    player.finishCurrentItem();
    settle();
    EXPECT_EQ(currentID(), "wy_s2");
    EXPECT_EQ(callsFor("wy_s2"), 2u);
    EXPECT_EQ(kind(), Kind::playing);
    EXPECT_EQ(currentURL(), url("s2"));
}

TEST_F(PlaybackServiceEngine, AResolutionOutlivingTheServiceTouchesNothingOfIt) {
    service->replaceQueue(makeSongs(2), 0, true);  // the current song's address
    service.reset();
    ASSERT_EQ(executor.pending(), 1u);
    executor.runAll();
    mainQueue.runPending();
    EXPECT_EQ(resolver.callCount(), 0u);  // cancelled: the resolver is not asked

    make();
    startPlaying(makeSongs(2));
    while (executor.pending() == 0) mainQueue.advance(200ms);  // the next song's prefetch
    service.reset();
    executor.runAll();
    mainQueue.runPending();
    EXPECT_EQ(player.items().size(), 1u);
}
