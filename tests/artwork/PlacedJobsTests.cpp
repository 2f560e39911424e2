#include <gtest/gtest.h>

#include <algorithm>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "artwork/PlacedJobs.h"
#include "support/Eventually.h"

using namespace velto;

namespace {

// Jobs that note their start and then wait until let go.
class Gate {
public:
    std::function<void()> job(std::string name) {
        return [this, name = std::move(name)] {
            std::unique_lock lock(mutex_);
            started_.push_back(name);
            changed_.notify_all();
            changed_.wait(lock, [&] { return open_ || letGo_.contains(name); });
        };
    }
    void letGo(const std::string& name) {
        std::lock_guard lock(mutex_);
        letGo_.insert(name);
        changed_.notify_all();
    }
    void open() {
        std::lock_guard lock(mutex_);
        open_ = true;
        changed_.notify_all();
    }
    std::vector<std::string> started() {
        std::lock_guard lock(mutex_);
        return started_;
    }
    bool startedCount(std::size_t count) {
        return eventually([&] { return started().size() >= count; });
    }
    bool has(const std::string& name) {
        auto all = started();
        return std::find(all.begin(), all.end(), name) != all.end();
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<std::string> started_;
    std::set<std::string> letGo_;
    bool open_ = false;
};

// Places take turns: a place with many jobs queued does not go before one with a single job
// asked after them; the jobs of one place start in the order asked.
TEST(PlacedJobs, PlacesTakeTurns) {
    Gate gate;
    WorkerPool pool{1};
    auto jobs = std::make_shared<PlacedJobs>(pool, LoadRoom(1, {}, {"a", "b"}));
    jobs->add("a", gate.job("a1"));
    ASSERT_TRUE(gate.startedCount(1));
    jobs->add("a", gate.job("a2"));
    jobs->add("a", gate.job("a3"));
    jobs->add("b", gate.job("b1"));
    jobs->add("b", gate.job("b2"));
    gate.open();
    ASSERT_TRUE(gate.startedCount(5));
    EXPECT_EQ(gate.started(), (std::vector<std::string>{"a1", "b1", "a2", "b2", "a3"}));
}

// Jobs of places that do not answer wait in their own queues: the home disk's and the network's
// jobs start past them, and an answer of a place lets its queued jobs start at once.
TEST(PlacedJobs, HungPlacesHoldOnlyTheirOwnJobs) {
    Gate gate;
    WorkerPool pool{4};
    auto jobs = std::make_shared<PlacedJobs>(pool, LoadRoom(4, {"/home", "network"}));
    for (const std::string share : {"/mnt/a", "/mnt/b"})
        for (int i = 0; i < 3; ++i) jobs->add(share, gate.job(share + std::to_string(i)));
    ASSERT_TRUE(gate.startedCount(2));
    jobs->add("/home", gate.job("home"));
    jobs->add("network", gate.job("network"));
    ASSERT_TRUE(gate.startedCount(4));
    EXPECT_TRUE(gate.has("home"));
    EXPECT_TRUE(gate.has("network"));
    gate.letGo("home");
    gate.letGo("network");
    // The pool has room again, but the shares wait on an answer.
    jobs->add("network", gate.job("network again"));
    ASSERT_TRUE(gate.startedCount(5));
    EXPECT_TRUE(gate.has("network again"));
    EXPECT_EQ(gate.started().size(), 5u);
    jobs->answered("/mnt/a");
    ASSERT_TRUE(gate.startedCount(6));
    EXPECT_TRUE(gate.has("/mnt/a1"));
    gate.open();
    ASSERT_TRUE(gate.startedCount(9));
}

}  // namespace
