#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <thread>

#include "foundation/AbandonableWork.h"

using namespace velto;

TEST(AbandonableWork, AStopFreesTheCallerOfAHeldReadAndHeldReadsAreCapped) {
    for (int round = 0; round < 100; ++round) {
        AbandonableWork work(2);
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
        const auto value = [](std::stop_token) { return 7; };
        EXPECT_THROW(work.run<int>({}, value), AbandonableWork::Refused);
        release.set_value();
        while (work.running() > 0) std::this_thread::yield();
        // The abandoned reads saw the stop too, so reads that can end do end.
        EXPECT_EQ(sawStop, 2);
        EXPECT_EQ(work.run<int>({}, value), 7);
    }
}
