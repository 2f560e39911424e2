#include <gtest/gtest.h>

#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "foundation/FreedMemoryReturner.h"

namespace velto {
namespace {

// Song changes come in bursts (a skip through a list): one trim serves all the asks made while
// it waits, and an ask made while it runs gets a trim of its own after it. The collectors run
// at the ask that queues a trim, before it, so the trim hands back what they freed.
TEST(FreedMemoryReturner, AsksWhileATrimWaitsAreThatTrimAndAnAskDuringItGetsTheNext) {
    std::deque<std::function<void()>> jobs;
    std::vector<std::string> steps;
    std::shared_ptr<FreedMemoryReturner> returner;
    std::function<void()> duringTrim;
    returner = std::make_shared<FreedMemoryReturner>(
        [&](std::function<void()> job) { jobs.push_back(std::move(job)); },
        [&] {
            steps.push_back("trim");
            if (duringTrim) std::exchange(duringTrim, nullptr)();
        });
    returner->addCollector([&] { steps.push_back("panel"); });
    returner->addCollector([&] { steps.push_back("notch"); });
    const auto runJob = [&] {
        std::exchange(jobs.front(), nullptr)();
        jobs.pop_front();
    };

    for (int i = 0; i < 3; ++i) returner->request();
    ASSERT_EQ(jobs.size(), 1u);
    EXPECT_EQ(steps, (std::vector<std::string>{"panel", "notch"}));
    duringTrim = [&] { returner->request(); };
    runJob();
    EXPECT_EQ(steps, (std::vector<std::string>{"panel", "notch", "trim", "panel", "notch"}));
    ASSERT_EQ(jobs.size(), 1u);
    returner->request();
    EXPECT_EQ(jobs.size(), 1u);
    runJob();
    EXPECT_EQ(steps.size(), 6u);
    EXPECT_EQ(steps.back(), "trim");

    returner->request();
    EXPECT_EQ(jobs.size(), 1u);
    EXPECT_EQ(steps.size(), 8u);
}

}  // namespace
}  // namespace velto
