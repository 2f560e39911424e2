#include <gtest/gtest.h>

#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "foundation/FreedMemoryReturner.h"
#include "foundation/ManualMainQueue.h"

namespace velto {
namespace {

// Song changes come in bursts (a skip through a list) and short songs come every second: one
// trim serves all the asks made until it starts, and trims are kept apart (here a minute), an
// ask made sooner (even while the last one runs) waiting for the rest of that time. The collectors run
// as a trim is queued, before it, so the trim hands back what they freed.
TEST(FreedMemoryReturner, AsksUntilATrimStartsAreThatTrimAndTrimsAreKeptApart) {
    ManualMainQueue queue;
    std::deque<std::function<void()>> jobs;
    std::vector<std::string> steps;
    std::shared_ptr<FreedMemoryReturner> returner;
    std::function<void()> duringTrim;
    returner = std::make_shared<FreedMemoryReturner>(
        [&](std::function<void()> job) { jobs.push_back(std::move(job)); }, queue,
        std::chrono::seconds(60), [&] {
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
    queue.advance(std::chrono::seconds(5));
    duringTrim = [&] { returner->request(); };
    runJob();
    EXPECT_EQ(steps, (std::vector<std::string>{"panel", "notch", "trim"}));
    returner->request();
    queue.advance(std::chrono::seconds(54));
    EXPECT_TRUE(jobs.empty());
    EXPECT_EQ(steps.size(), 3u);
    queue.advance(std::chrono::seconds(1));
    ASSERT_EQ(jobs.size(), 1u);
    EXPECT_EQ(steps, (std::vector<std::string>{"panel", "notch", "trim", "panel", "notch"}));
    runJob();

    // After a quiet minute an ask is trimmed at once; the returner may go while a trim waits.
    queue.advance(std::chrono::seconds(90));
    returner->request();
    EXPECT_EQ(jobs.size(), 1u);
    runJob();
    returner->request();
    returner.reset();
    queue.advance(std::chrono::seconds(60));
    EXPECT_TRUE(jobs.empty());
    EXPECT_EQ(steps.size(), 9u);
}

}  // namespace
}  // namespace velto
