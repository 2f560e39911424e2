#include <gtest/gtest.h>

#include <QSignalSpy>

#include "foundation/ManualMainQueue.h"
#include "playback/SleepTimer.h"

using namespace velto;
using namespace std::chrono_literals;

TEST(SleepTimer, CountsDownAndRunsTheActionOnceAtTheDeadline) {
    ManualMainQueue queue;
    SleepTimer timer(queue);
    int paused = 0;
    EXPECT_FALSE(timer.remainingText());
    timer.start(15, [&] { ++paused; });
    EXPECT_EQ(timer.remainingText(), "剩 15 分 00 秒");
    queue.advance(15min - 307s);
    EXPECT_EQ(timer.remainingText(), "剩 5 分 07 秒");
    queue.advance(307s - 42s);
    EXPECT_EQ(timer.remainingText(), "剩 42 秒");
    queue.advance(42s);
    EXPECT_EQ(paused, 1);
    EXPECT_FALSE(timer.isActive());
    EXPECT_FALSE(timer.remainingText());
    queue.advance(10min);
    EXPECT_EQ(paused, 1);
    EXPECT_EQ(queue.pendingTimerCount(), 0u);
}

TEST(SleepTimer, RestartReplacesTheRunningTimerAndStopCancelsIt) {
    ManualMainQueue queue;
    SleepTimer timer(queue);
    int first = 0, second = 0;
    timer.start(1, [&] { ++first; });
    queue.advance(30s);
    timer.start(1, [&] { ++second; });
    queue.advance(45s);
    EXPECT_EQ(first, 0);
    EXPECT_EQ(second, 0);
    queue.advance(15s);
    EXPECT_EQ(second, 1);

    timer.start(1, [&] { ++first; });
    timer.stop();
    queue.advance(2min);
    EXPECT_EQ(first, 0);
}

TEST(SleepTimer, AnnouncesRemainingTextChangesButNotEqualWrites) {
    ManualMainQueue queue;
    SleepTimer timer(queue);
    QSignalSpy text(&timer, &SleepTimer::remainingTextChanged);
    QSignalSpy active(&timer, &SleepTimer::activeChanged);
    timer.start(1, [] {});
    EXPECT_EQ(active.count(), 1);
    queue.advance(3s);
    EXPECT_EQ(text.count(), 4);  // start + one per second
    timer.stop();
    timer.stop();
    EXPECT_EQ(active.count(), 2);
    EXPECT_EQ(text.count(), 5);
}
