#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "foundation/ManualMainQueue.h"
#include "foundation/Task.h"

using namespace velto;
using namespace std::chrono_literals;

TEST(ManualMainQueue, TimersFireInTimeOrderOnTheVirtualClock) {
    ManualMainQueue queue;
    std::vector<std::string> fired;
    queue.schedule(300ms, [&] { fired.push_back("late"); });
    queue.schedule(100ms, [&] { fired.push_back("early"); });
    auto cancelled = queue.schedule(200ms, [&] { fired.push_back("cancelled"); });
    queue.cancel(cancelled);

    queue.advance(150ms);
    EXPECT_EQ(fired, std::vector<std::string>{"early"});
    EXPECT_EQ(queue.uptime(), toDuration(150ms));
    queue.advance(1s);
    EXPECT_EQ(fired, (std::vector<std::string>{"early", "late"}));
    EXPECT_EQ(queue.pendingTimerCount(), 0u);
}

TEST(ManualMainQueue, RepeatingTimerFiresOncePerIntervalUntilCancelled) {
    ManualMainQueue queue;
    int ticks = 0;
    MainQueue::TimerId id = queue.scheduleRepeating(200ms, [&] { ++ticks; });
    queue.advance(1s);
    EXPECT_EQ(ticks, 5);
    queue.cancel(id);
    queue.advance(1s);
    EXPECT_EQ(ticks, 5);
}

TEST(ManualMainQueue, WorkScheduledByATimerAtTheSameInstantRunsWithinTheSameAdvance) {
    ManualMainQueue queue;
    std::vector<double> at;
    queue.schedule(100ms, [&] {
        at.push_back(queue.uptimeSeconds());
        queue.schedule(50ms, [&] { at.push_back(queue.uptimeSeconds()); });
        queue.post([&] { at.push_back(-1); });
    });
    queue.advance(200ms);
    ASSERT_EQ(at.size(), 3u);
    EXPECT_DOUBLE_EQ(at[0], 0.1);
    EXPECT_EQ(at[1], -1);
    EXPECT_DOUBLE_EQ(at[2], 0.15);
}

TEST(ManualMainQueue, WallClockMovesWithVirtualTime) {
    ManualMainQueue queue;
    auto start = queue.wallNow();
    queue.advance(5s);
    EXPECT_EQ(queue.wallNow() - start, std::chrono::seconds(5));
}

TEST(Task, DeliversValueAndErrorOnTheMainQueue) {
    ManualMainQueue queue;
    WorkerPool pool(2);
    std::thread::id mainThread = std::this_thread::get_id();
    std::optional<int> value;
    std::string error;
    bool onMain = false;
    runTask(pool, queue, [](std::stop_token) { return 42; }, [&](TaskResult<int>& r) {
        onMain = std::this_thread::get_id() == mainThread;
        value = r.value();
    });
    runTask(pool, queue, [](std::stop_token) -> int { throw std::runtime_error("失败"); },
            [&](TaskResult<int>& r) {
                try {
                    r.value();
                } catch (const std::exception& e) {
                    error = e.what();
                }
            });
    ASSERT_TRUE(queue.runUntil([&] { return value && !error.empty(); }));
    EXPECT_EQ(*value, 42);
    EXPECT_TRUE(onMain);
    EXPECT_EQ(error, "失败");
}

TEST(Task, CancelledTaskStopsItsBlockingWaitAndDeliversNothing) {
    ManualMainQueue queue;
    WorkerPool pool(1);
    std::atomic<bool> started{false}, threwCancellation{false}, finished{false};
    bool delivered = false;
    auto handle = runTask(
        pool, queue,
        [&](std::stop_token stop) {
            started = true;
            try {
                sleepFor(std::chrono::minutes(5), stop);
            } catch (const CancellationError&) {
                threwCancellation = true;
                finished = true;
                throw;
            }
            finished = true;
        },
        [&](TaskResult<Unit>&) { delivered = true; });
    while (!started) std::this_thread::yield();
    auto before = std::chrono::steady_clock::now();
    handle.cancel();
    while (!finished) std::this_thread::yield();
    EXPECT_LT(std::chrono::steady_clock::now() - before, 1s);
    EXPECT_TRUE(threwCancellation);
    // Let the (dropped) delivery pass through the queue.
    queue.runUntil([] { return false; }, 50ms);
    EXPECT_FALSE(delivered);
}
