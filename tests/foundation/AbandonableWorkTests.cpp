#include <gtest/gtest.h>

#include <future>
#include <thread>

#include "foundation/AbandonableWork.h"

using namespace velto;

namespace {

// Work that asks its caller to stop, then hangs like a read of a stalled share until released.
std::function<int(std::stop_token)> hangingRead(std::stop_source& caller,
                                                std::shared_future<void> released,
                                                std::promise<bool>& sawStop) {
    return [&caller, released, &sawStop](std::stop_token stop) {
        caller.request_stop();
        released.wait();
        sawStop.set_value(stop.stop_requested());
        return 0;
    };
}

void waitUntilIdle(const AbandonableWork& work) {
    while (work.running() > 0) std::this_thread::yield();
}

}  // namespace

TEST(AbandonableWork, AStopFreesTheCallerOfAHeldReadAtOnce) {
    AbandonableWork work(4);
    for (int round = 0; round < 200; ++round) {
        std::stop_source caller;
        std::promise<void> release;
        std::promise<bool> sawStop;
        EXPECT_THROW(work.run(caller.get_token(), hangingRead(caller, release.get_future().share(), sawStop)),
                     CancellationError);
        release.set_value();
        // The abandoned work sees the stop too, so reads that can end do end.
        EXPECT_TRUE(sawStop.get_future().get());
        waitUntilIdle(work);
    }
}

TEST(AbandonableWork, HeldReadsAreCappedAndOutcomesReachTheCaller) {
    AbandonableWork work(2);
    std::promise<void> release;
    const auto released = release.get_future().share();
    std::promise<bool> sawStop[2];
    for (auto& saw : sawStop) {
        std::stop_source caller;
        EXPECT_THROW(work.run(caller.get_token(), hangingRead(caller, released, saw)),
                     CancellationError);
    }
    const auto value = [](std::stop_token) { return 7; };
    EXPECT_THROW(work.run<int>({}, value), AbandonableWork::Refused);
    release.set_value();
    waitUntilIdle(work);
    EXPECT_EQ(work.run<int>({}, value), 7);
    EXPECT_THROW(work.run<int>({}, [](std::stop_token) -> int { throw std::runtime_error("x"); }),
                 std::runtime_error);
    std::stop_source stopped;
    stopped.request_stop();
    EXPECT_THROW(work.run<int>(stopped.get_token(), value), CancellationError);
}
