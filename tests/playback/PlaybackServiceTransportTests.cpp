#include <QSignalSpy>

#include <algorithm>
#include <cmath>
#include <limits>

#include "PlaybackServiceFixture.h"
#include "playback/PersistedSession.h"

using namespace velto;
using namespace std::chrono_literals;
using QualityChange = PlaybackService::QualityChange;

namespace {

class PlaybackServiceTransport : public PlaybackServiceTest {
  protected:
    void SetUp() override { make(); }
};

}  // namespace

TEST_F(PlaybackServiceTransport, PlayingAQueueGoesThroughLoadingToPlaying) {
    QSignalSpy queue(service.get(), &PlaybackService::queueChanged);
    service->replaceQueue(makeSongs(3), 1, true);
    EXPECT_EQ(queue.count(), 1);
    EXPECT_EQ(kind(), Kind::loading);
    EXPECT_TRUE(service->playbackRequested());
    EXPECT_EQ(service->duration(), 240);
    settle();
    EXPECT_EQ(kind(), Kind::playing);
    EXPECT_EQ(currentID(), "wy_s2");
    EXPECT_EQ(currentURL(), url("s2"));
    EXPECT_EQ(service->currentTitle(), "title s2");
    EXPECT_EQ(service->currentMediaHost(), "cdn.test");
    EXPECT_EQ(marks,
              (std::vector<std::string>{"load_start:normal", "url_ready:wy_s2", "item_ready:"}));
    const auto& timing = *service->lastTransitionTiming();
    EXPECT_EQ(timing.id, service->recoveryGate().generation);
    EXPECT_TRUE(timing.resolutionMilliseconds && timing.readyMilliseconds &&
                timing.playingMilliseconds);
    ASSERT_FALSE(logLines.empty());
    EXPECT_EQ(logLines.back().rfind("transition=", 0), 0u);
    EXPECT_NE(logLines.back().find("stage=playing"), std::string::npos);
}

TEST_F(PlaybackServiceTransport, PauseFromAnyStateSavesAndStops) {
    startPlaying(makeSongs(2));
    mainQueue.advance(3s);  // the last periodic save was at the start
    auto revision = service->intentRevision();
    auto background = service->backgroundTransitionRevision();
    service->pause();
    EXPECT_EQ(kind(), Kind::paused);
    EXPECT_FALSE(service->playbackRequested());
    EXPECT_EQ(service->intentRevision(), revision + 1);
    EXPECT_EQ(service->backgroundTransitionRevision(), background + 1);
    EXPECT_EQ(player.timeControlStatus(), QueuePlayer::TimeControlStatus::paused);
    auto saved = PersistedSession::decode(*defaults.dataValue("velto.playback.session"));
    ASSERT_TRUE(saved);
    EXPECT_EQ(saved->elapsed, service->elapsed());
    EXPECT_NEAR(saved->elapsed, 3, 0.3);

    // Also while a song is still loading: the load finishes but nothing plays.
    service->next();
    EXPECT_EQ(kind(), Kind::loading);
    service->pause();
    settle();
    EXPECT_EQ(kind(), Kind::paused);
    EXPECT_EQ(player.timeControlStatus(), QueuePlayer::TimeControlStatus::paused);
}

TEST_F(PlaybackServiceTransport, ToggleRetriesAFailureAndOtherwiseFlipsTheWish) {
    resolver.failOnce("wy_s1", sourceFailure("歌曲下架"));
    service->replaceQueue({makeSong("s1")}, 0, true);
    settle();
    EXPECT_EQ(service->state(), PlaybackService::State::failed("歌曲下架"));
    EXPECT_TRUE(service->playbackRequested());

    service->togglePlayback();
    settle();
    EXPECT_TRUE(resolver.calls().back().refreshed);
    EXPECT_EQ(kind(), Kind::playing);

    service->togglePlayback();
    EXPECT_EQ(kind(), Kind::paused);
    service->togglePlayback();
    EXPECT_EQ(resolver.callCount(), 2u);  // the ready item is played, not loaded again
    settle();
    EXPECT_EQ(kind(), Kind::playing);

    // Loading with the wish set: toggling pauses.
    service->next();
    EXPECT_EQ(kind(), Kind::loading);
    service->togglePlayback();
    EXPECT_EQ(kind(), Kind::paused);
}

TEST_F(PlaybackServiceTransport, NextOnTheLastSongFollowsTheMode) {
    for (auto mode : {Mode::sequence, Mode::repeatOne}) {
        service->setPlaybackMode(mode);
        startPlaying(makeSongs(3), 2);
        service->next();
        settle();
        EXPECT_EQ(currentID(), "wy_s1") << int(mode);
        EXPECT_EQ(kind(), Kind::playing);
    }

    service->setPlaybackMode(Mode::shuffle);
    startPlaying(makeSongs(3), 0);
    std::set<std::string> heard{currentID()};
    for (int i = 0; i < 3; ++i) {
        service->next();
        settle();
        EXPECT_EQ(kind(), Kind::playing);
        heard.insert(currentID());
    }
    EXPECT_EQ(heard.size(), 3u);

    service->setPlaybackMode(Mode::playInOrder);
    startPlaying(makeSongs(3), 2);
    defaults.remove("velto.playback.session");
    service->next();
    EXPECT_EQ(kind(), Kind::paused);
    EXPECT_FALSE(service->playbackRequested());
    EXPECT_EQ(currentID(), "wy_s3");
    EXPECT_TRUE(defaults.dataValue("velto.playback.session"));
}

TEST_F(PlaybackServiceTransport, PreviousOnTheFirstSongWrapsOrRestarts) {
    startPlaying(makeSongs(3), 0);
    service->previous();
    settle();
    EXPECT_EQ(currentID(), "wy_s3");

    service->setPlaybackMode(Mode::playInOrder);
    startPlaying(makeSongs(3), 0);
    mainQueue.advance(10s);
    auto calls = resolver.callCount();
    service->previous();
    settle();
    EXPECT_EQ(currentID(), "wy_s1");
    EXPECT_EQ(resolver.callCount(), calls);
    EXPECT_EQ(player.seekTargets().back(), 0);
    EXPECT_EQ(service->elapsed(), 0);
    EXPECT_EQ(kind(), Kind::playing);  // plays on

    // With history, previous goes back to the song heard before.
    service->next();
    settle();
    service->previous();
    settle();
    EXPECT_EQ(currentID(), "wy_s1");
}

TEST_F(PlaybackServiceTransport, SeekIsClampedToTheKnownLength) {
    startPlaying(makeSongs(2));
    bool done = false;
    service->seek(500, [&] { done = true; });
    settle();
    EXPECT_TRUE(done);
    EXPECT_EQ(service->elapsed(), 240);
    service->seek(-3);
    settle();
    EXPECT_EQ(service->elapsed(), 0);
    service->seek(95.0004);
    settle();
    EXPECT_DOUBLE_EQ(service->elapsed(), 57000.0 / 600.0);
    service->seek(std::nan(""));
    settle();
    EXPECT_EQ(service->elapsed(), 0);
    EXPECT_EQ(player.seekTargets().back(), 0);
    EXPECT_EQ(kind(), Kind::playing);
}

TEST_F(PlaybackServiceTransport, ALateSeekOfAnOldSongLeavesTheNewOneAlone) {
    startPlaying(makeSongs(2));
    service->seek(100);
    service->next();  // before the seek completes
    settle();
    EXPECT_EQ(currentID(), "wy_s2");
    EXPECT_EQ(service->elapsed(), 0);
}

// Unwatched, the position moves only when the place is saved along the song, every five
// seconds; while a view watches without a next change, five times a second, and a watch brings
// it up to date at once. Paused, no clock runs at all.
TEST_F(PlaybackServiceTransport, TheClockRunsFineOnlyWhileWatched) {
    startPlaying(makeSongs(1));
    const std::size_t playingTimers = mainQueue.pendingTimerCount();
    QSignalSpy ticks(service.get(), &PlaybackService::elapsedChanged);
    mainQueue.advance(4900ms);
    EXPECT_EQ(ticks.count(), 0);
    mainQueue.advance(200ms);
    EXPECT_EQ(ticks.count(), 1);
    {
        auto watch = service->watchTime();
        auto second = service->watchTime();
        EXPECT_NEAR(service->elapsed(), player.currentTime(), 1e-9);
        ticks.clear();
        mainQueue.advance(1s);
        EXPECT_EQ(ticks.count(), 5);
        watch.reset();
        ticks.clear();
        mainQueue.advance(1s);
        EXPECT_EQ(ticks.count(), 5);  // one watch is left
    }
    EXPECT_FALSE(service->timeWatched());
    ticks.clear();
    mainQueue.advance(9s);  // the saves 5 s after the last, and 5 s after that
    EXPECT_EQ(ticks.count(), 2);
    EXPECT_EQ(mainQueue.pendingTimerCount(), playingTimers);
    service->pause();
    auto watch = service->watchTime();
    EXPECT_EQ(mainQueue.pendingTimerCount(), playingTimers - 1);
}

// Watched, the clock ticks just after the earliest change a view shows next, together with
// the changes due within the fine interval after it, and never more than the coarse interval
// apart. A seek, a resume and a new rate plan from where playback then is.
TEST_F(PlaybackServiceTransport, AWatchedClockTicksJustAfterWhatTheViewsShowChanges) {
    startPlaying(makeSongs(1));
    std::vector<long> ticks;  // the position at each tick, in ms
    QObject::connect(service.get(), &PlaybackService::elapsedChanged,
                     [&] { ticks.push_back(std::lround(service->elapsed() * 1000)); });
    auto wholeSeconds = service->watchTime([](double at) { return std::floor(at) + 1; });
    const std::vector<double> lines{2.9, 5.5};
    auto lyrics = service->watchTime([&](double at) {
        auto next = std::upper_bound(lines.begin(), lines.end(), at);
        return next == lines.end() ? std::numeric_limits<double>::infinity() : *next;
    });
    mainQueue.advance(7500ms);
    // The line at 2.9 waits for the second at 3, 0.1 s on; the one at 5.5 has a tick of its own.
    EXPECT_EQ(ticks, (std::vector<long>{1010, 2010, 3010, 4010, 5010, 5510, 6010, 7010}));

    ticks.clear();
    wholeSeconds.reset();  // only lyrics without a next line: the clock's slowest pace
    mainQueue.advance(2s);
    EXPECT_EQ(ticks, (std::vector<long>{8500, 9500}));

    wholeSeconds = service->watchTime([](double at) { return std::floor(at) + 1; });
    service->seek(20.7);
    settle();
    ticks.clear();
    mainQueue.advance(1s);
    EXPECT_EQ(ticks, (std::vector<long>{21010}));
    mainQueue.advance(500ms);
    service->pause();  // at 22.2
    mainQueue.advance(3s);
    service->play();
    settle();
    ticks.clear();
    mainQueue.advance(1s);
    EXPECT_EQ(ticks, (std::vector<long>{23010}));  // not a whole interval after the resume

    service->setPlaybackRate(2);
    ticks.clear();
    mainQueue.advance(1s);
    EXPECT_EQ(ticks.size(), 2u);  // a second of the song every half second
    for (long tick : ticks) EXPECT_LE(tick % 1000, 20) << tick;
}

TEST_F(PlaybackServiceTransport, RateIsAppliedAtOnceOnlyWhilePlaying) {
    startPlaying(makeSongs(1));
    service->setPlaybackRate(1.5f);
    EXPECT_EQ(player.rate(), 1.5);
    service->pause();
    service->setPlaybackRate(4);
    EXPECT_EQ(player.rate(), 1.5);
    service->play();
    settle();
    EXPECT_EQ(player.rate(), 2.0);
}

TEST_F(PlaybackServiceTransport, RetryReloadsFromAFreshAddress) {
    service->retryCurrent();
    EXPECT_EQ(resolver.callCount(), 0u);
    startPlaying(makeSongs(2));
    service->retryCurrent();
    settle();
    ASSERT_EQ(resolver.callCount(), 2u);
    EXPECT_TRUE(resolver.calls().back().refreshed);
    EXPECT_EQ(marks[marks.size() - 3], "load_start:refresh");
    EXPECT_EQ(kind(), Kind::playing);
}

// Every move the user makes gives a run of unplayable songs its full number of skips again.
TEST_F(PlaybackServiceTransport, UserMovesResetTheAutoplayFailureCount) {
    std::vector<std::pair<const char*, std::function<void()>>> moves{
        {"next", [this] { service->next(); }},
        {"previous", [this] { service->previous(); }},
        {"replaceQueue", [this] { service->replaceQueue(makeSongs(3), 1, true); }}};
    for (auto& [label, move] : moves) {
        for (int i = 1; i <= 3; ++i)
            resolver.failAlways("wy_s" + std::to_string(i), sourceFailure("无版权"));
        service->replaceQueue(makeSongs(3), 0, true);
        settle();
        ASSERT_EQ(service->consecutiveAutoplayFailures(), 1) << label;
        move();
        EXPECT_EQ(service->consecutiveAutoplayFailures(), 0) << label;
        resolver.clearFailures();
        settle();
    }
}

// play() on a song whose stream broke for good asks for a new address, not the cached one.
TEST_F(PlaybackServiceTransport, PlayAfterAFailedItemReloadsFromAFreshAddress) {
    startPlaying(makeSongs(1));
    for (int i = 0; i < 2; ++i) {  // the first failure is recovered once
        player.setItemStatus(player.currentItem(), PlayerItem::Status::failed, "连接中断");
        settle();
        mainQueue.advance(400ms);
        settle();
    }
    ASSERT_EQ(service->state(), PlaybackService::State::failed("连接中断"));
    const auto calls = resolver.callCount();
    service->play();
    settle();
    ASSERT_EQ(resolver.callCount(), calls + 1);
    EXPECT_TRUE(resolver.calls().back().refreshed);
    EXPECT_EQ(marks[marks.size() - 3], "load_start:refresh");
    EXPECT_EQ(kind(), Kind::playing);
}

// --- Preferred quality ---------------------------------------------------------------------------

class PlaybackServiceQuality : public PlaybackServiceTransport {
  protected:
    std::optional<QualityChange> change;
    void choose(Quality quality) {
        change.reset();
        service->setPreferredQuality(quality, [this](QualityChange c) { change = c; });
    }
};

TEST_F(PlaybackServiceQuality, SameOrNoSongReloadsNothing) {
    choose(Quality::master);
    EXPECT_EQ(change, QualityChange::unchanged());
    choose(Quality::lossless);
    EXPECT_EQ(change, QualityChange::deferred());
    EXPECT_EQ(service->preferredQuality(), Quality::lossless);
    EXPECT_EQ(defaults.stringValue("preferredPlaybackQuality"), "flac");
    EXPECT_EQ(resolver.callCount(), 0u);
}

TEST_F(PlaybackServiceQuality, ReloadResumesWhereTheSongWas) {
    startPlaying(makeSongs(2));
    mainQueue.advance(95s);
    auto generation = service->recoveryGate().generation;
    choose(Quality::high);
    EXPECT_EQ(kind(), Kind::loading);
    EXPECT_EQ(service->recoveryGate().generation, generation + 1);
    settle();
    EXPECT_EQ(change, QualityChange::reloaded(Quality::high));
    EXPECT_EQ(currentURL(), url("s1", Quality::high));
    EXPECT_EQ(player.items().size(), 1u);
    EXPECT_NEAR(service->elapsed(), 95, 0.01);
    EXPECT_NEAR(player.currentTime(), 95, 0.01);
    EXPECT_EQ(kind(), Kind::playing);

    service->pause();
    choose(Quality::lossless);
    settle();
    EXPECT_EQ(change, QualityChange::reloaded(Quality::lossless));
    EXPECT_EQ(kind(), Kind::paused);
    EXPECT_NEAR(service->elapsed(), 95, 0.01);
    EXPECT_FALSE(service->playbackRequested());
}

TEST_F(PlaybackServiceQuality, FailedReloadKeepsTheOldStreamAndTheNewPreference) {
    startPlaying(makeSongs(2));
    resolver.failOnce("wy_s1", sourceFailure("音质不可用"));
    choose(Quality::standard);
    settle();
    EXPECT_EQ(change, QualityChange::failed("音质不可用"));
    EXPECT_EQ(currentURL(), url("s1"));
    EXPECT_EQ(kind(), Kind::playing);
    EXPECT_EQ(service->preferredQuality(), Quality::standard);

    // Paused while the request ran: the state follows the pause.
    resolver.failOnce("wy_s1", std::make_exception_ptr(std::runtime_error("")));
    choose(Quality::high);
    service->pause();
    settle();
    EXPECT_EQ(change, QualityChange::failed("无法切换音质"));
    EXPECT_EQ(kind(), Kind::paused);
}

TEST_F(PlaybackServiceQuality, ReloadOvertakenByNextIsDeferred) {
    startPlaying(makeSongs(2));
    choose(Quality::high);
    service->next();
    settle();
    EXPECT_EQ(change, QualityChange::deferred());
    EXPECT_EQ(currentID(), "wy_s2");
    EXPECT_EQ(currentURL(), url("s2", Quality::high));
    EXPECT_EQ(kind(), Kind::playing);
}

TEST_F(PlaybackServiceQuality, FailedReloadOfASongStillResolvingDoesNotStayLoading) {
    service->replaceQueue(makeSongs(2), 0, true);
    EXPECT_EQ(kind(), Kind::loading);
    resolver.failOnce("wy_s1", sourceFailure("音质不可用"));
    choose(Quality::high);
    settle();
    EXPECT_EQ(change, QualityChange::failed("音质不可用"));
    EXPECT_EQ(service->state(), PlaybackService::State::failed("音质不可用"));
}

TEST_F(PlaybackServiceQuality, OnlyTheCurrentLoadRecordsTheDeliveredQuality) {
    resolver.setReportedQuality(
        [](Quality asked) { return asked == Quality::master ? Quality::lossless : asked; });
    startPlaying(makeSongs(2));
    EXPECT_EQ(service->lastActualQuality(), Quality::lossless);
    EXPECT_EQ(defaults.stringValue("lastPlayedQuality"), "flac");

    // A reload overtaken by another one reports nothing of its own.
    choose(Quality::standard);
    executor.runAll();  // its answer waits on the main queue
    choose(Quality::high);
    settle();
    EXPECT_EQ(change, QualityChange::reloaded(Quality::high));
    EXPECT_EQ(service->lastActualQuality(), Quality::high);
    EXPECT_EQ(defaults.stringValue("lastPlayedQuality"), "320k");
}

TEST_F(PlaybackServiceQuality, TheSongEndingWhileAReloadWaitsMovesOn) {
    startPlaying(makeSongs(2));
    mainQueue.advance(239s);
    resolver.failOnce("wy_s1", sourceFailure("音质不可用"));
    choose(Quality::high);
    player.finishCurrentItem();
    settle();
    EXPECT_EQ(change, QualityChange::deferred());
    EXPECT_EQ(currentID(), "wy_s2");
    EXPECT_EQ(currentURL(), url("s2", Quality::high));
    EXPECT_EQ(kind(), Kind::playing);
}

TEST_F(PlaybackServiceQuality, AStreamBreakingWhileAReloadFailsIsStillRecovered) {
    startPlaying(makeSongs(2));
    mainQueue.advance(60s);
    resolver.failOnce("wy_s1", sourceFailure("音质不可用"));
    choose(Quality::high);
    player.setItemStatus(player.currentItem(), PlayerItem::Status::failed, "连接中断");
    settle();
    EXPECT_EQ(change, QualityChange::failed("音质不可用"));
    EXPECT_EQ(kind(), Kind::loading);
    mainQueue.advance(400ms);
    settle();
    EXPECT_EQ(currentID(), "wy_s1");
    EXPECT_EQ(currentURL(), url("s1", Quality::high));
    EXPECT_TRUE(resolver.calls().back().refreshed);
    EXPECT_EQ(kind(), Kind::playing);
}
