#include <gtest/gtest.h>

#include <QSignalSpy>

#include "foundation/ManualMainQueue.h"
#include "playback/SleepTimer.h"

using namespace velto;
using namespace std::chrono_literals;

namespace {

// The clock that counts suspended time: the queue's virtual time plus what a test "sleeps".
struct Clocks {
    ManualMainQueue queue;
    MainQueue::Duration suspended{};
    BootClock::Now boot() {
        return [this] { return queue.uptime() + suspended; };
    }
};

}  // namespace

TEST(SleepTimer, CountsDownAndRunsTheActionOnceAtTheDeadline) {
    Clocks clocks;
    auto& queue = clocks.queue;
    SleepTimer timer(queue, nullptr, clocks.boot());
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
    Clocks clocks;
    auto& queue = clocks.queue;
    SleepTimer timer(queue, nullptr, clocks.boot());
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
    Clocks clocks;
    auto& queue = clocks.queue;
    SleepTimer timer(queue, nullptr, clocks.boot());
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

// The main queue's clock stops while the machine is suspended; the deadline's does not.
TEST(SleepTimer, TimeSpentSuspendedCounts) {
    Clocks clocks;
    SleepTimer timer(clocks.queue, nullptr, clocks.boot());
    int paused = 0;
    timer.start(30, [&] { ++paused; });
    clocks.queue.advance(5min);
    clocks.suspended += 20min;
    clocks.queue.advance(1s);
    EXPECT_EQ(timer.remainingText(), "剩 4 分 59 秒");
    clocks.suspended += 1h;
    clocks.queue.advance(1s);
    EXPECT_EQ(paused, 1);
    EXPECT_FALSE(timer.isActive());
}
