#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <thread>

#include "foundation/AbandonableWork.h"

using namespace velto;

namespace {

constexpr auto unbounded = std::chrono::hours(1);

void waitUntilIdle(const AbandonableWork& work) {
    const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (work.running() > 0 && std::chrono::steady_clock::now() < limit) std::this_thread::yield();
    ASSERT_EQ(work.running(), 0u);
}

}  // namespace

TEST(AbandonableWork, AStopFreesTheCallerOfAHeldReadAndHeldReadsAreCapped) {
    for (int round = 0; round < 100; ++round) {
        AbandonableWork work(2, unbounded);
        std::promise<void> release;
        const auto released = release.get_future().share();
        std::atomic<int> sawStop = 0;
        // Reads held like those of a stalled share: each asks its caller to stop, then waits.
        for (int held = 0; held < 2; ++held) {
            std::stop_source caller;
            auto read = [&caller, released, &sawStop](std::stop_token stop) {
                caller.request_stop();
                released.wait();
                sawStop += stop.stop_requested();
                return 0;
            };
            EXPECT_THROW(work.run<int>(caller.get_token(), read), CancellationError);
        }
        EXPECT_EQ(work.abandoned(), 2u);
        const auto value = [](std::stop_token) { return 7; };
        EXPECT_THROW(work.run<int>({}, value), AbandonableWork::Refused);
        release.set_value();
        waitUntilIdle(work);
        // The abandoned reads saw the stop too, so reads that can end do end.
        EXPECT_EQ(sawStop, 2);
        EXPECT_EQ(work.run<int>({}, value), 7);
    }
}

// Past its bound a held read is left behind as if stopped; only reads left behind fill the
// cap, so reads whose callers still wait never turn a healthy one away, and a file left behind
// is not read again while it hangs.
TEST(AbandonableWork, PastItsBoundACallerLeavesAndOnlyReadsLeftBehindAreCapped) {
    std::promise<void> release;
    const auto released = release.get_future().share();
    AbandonableWork work(1, unbounded);
    std::promise<void> started;
    auto waiting = std::async(std::launch::async, [&] {
        return work.run<int>({}, [&](std::stop_token) {
            started.set_value();
            released.wait();
            return 1;
        });
    });
    started.get_future().wait();
    EXPECT_EQ(work.run<int>({}, [](std::stop_token) { return 2; }), 2);

    AbandonableWork bounded(2, std::chrono::seconds(0));
    std::atomic<int> sawStop = 0;
    auto held = [&](std::stop_token stop) {
        released.wait();
        sawStop += stop.stop_requested();
        return 3;
    };
    const auto quick = [](std::stop_token) { return 4; };
    EXPECT_THROW(bounded.run<int>({}, held, "a"), AbandonableWork::TimedOut);
    // A file whose read was left behind hanging is not read again meanwhile.
    EXPECT_THROW(bounded.run<int>({}, quick, "a"), AbandonableWork::Busy);
    EXPECT_EQ(bounded.running(), 1u);
    EXPECT_THROW(bounded.run<int>({}, held, "b"), AbandonableWork::TimedOut);
    EXPECT_EQ(bounded.abandoned(), 2u);
    EXPECT_THROW(bounded.run<int>({}, quick, "c"), AbandonableWork::Refused);

    release.set_value();
    EXPECT_EQ(waiting.get(), 1);
    waitUntilIdle(bounded);
    EXPECT_EQ(sawStop, 2);
    EXPECT_EQ(bounded.abandoned(), 0u);
}
