#include <gtest/gtest.h>

#include <deque>
#include <functional>
#include <memory>

#include "foundation/FreedMemoryReturner.h"

namespace velto {
namespace {

// Song changes come in bursts (a skip through a list): one trim serves all the asks made while
// it waits, and an ask made while it runs gets a trim of its own after it.
TEST(FreedMemoryReturner, AsksWhileATrimWaitsAreThatTrimAndAnAskDuringItGetsTheNext) {
    std::deque<std::function<void()>> jobs;
    int trims = 0;
    std::shared_ptr<FreedMemoryReturner> returner;
    std::function<void()> duringTrim;
    returner = std::make_shared<FreedMemoryReturner>(
        [&](std::function<void()> job) { jobs.push_back(std::move(job)); },
        [&] {
            ++trims;
            if (duringTrim) std::exchange(duringTrim, nullptr)();
        });

    for (int i = 0; i < 3; ++i) returner->request();
    ASSERT_EQ(jobs.size(), 1u);
    duringTrim = [&] { returner->request(); };
    std::exchange(jobs.front(), nullptr)();
    jobs.pop_front();
    EXPECT_EQ(trims, 1);
    ASSERT_EQ(jobs.size(), 1u);
    returner->request();
    EXPECT_EQ(jobs.size(), 1u);
    std::exchange(jobs.front(), nullptr)();
    jobs.pop_front();
    EXPECT_EQ(trims, 2);

    returner->request();
    EXPECT_EQ(jobs.size(), 1u);
}

}  // namespace
}  // namespace velto
