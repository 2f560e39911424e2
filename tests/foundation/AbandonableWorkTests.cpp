#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <future>
#include <thread>

#include "foundation/files/AbandonableWork.h"
#include "support/TempDir.h"

using namespace velto;

namespace {

constexpr auto unbounded = std::chrono::hours(1);

// Whether `condition` holds within a bound that no passing run comes near.
bool eventually(const std::function<bool()>& condition) {
    const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!condition()) {
        if (std::chrono::steady_clock::now() >= limit) return false;
        std::this_thread::yield();
    }
    return true;
}

void waitUntilIdle(const AbandonableWork& work) {
    ASSERT_TRUE(eventually([&] { return work.running() == 0; }));
}

// What held reads wait for, like a share that stopped answering. It opens when it goes, and a
// read held longer than a caller should ever wait goes on, so that a caller that fails to leave
// fails its check instead of hanging the run.
void hold(const std::shared_future<void>& released) {
    released.wait_for(std::chrono::seconds(5));
}

class Share {
  public:
    ~Share() { answer(); }
    void answer() {
        if (answered_) return;
        answered_ = true;
        promise_.set_value();
    }
    // A read holds on a copy, which outlives the share.
    std::shared_future<void> released() const { return released_; }

  private:
    std::promise<void> promise_;
    std::shared_future<void> released_ = promise_.get_future().share();
    bool answered_ = false;
};

}  // namespace

TEST(AbandonableWork, AStopFreesTheCallerOfAHeldReadAndHeldReadsAreCapped) {
    for (int round = 0; round < 100; ++round) {
        AbandonableWork work(2, unbounded);
        Share share;
        std::atomic<int> sawStop = 0;
        // Reads held like those of a stalled share: each asks its caller to stop, then waits.
        for (int held = 0; held < 2; ++held) {
            std::stop_source caller;
            auto read = [&caller, released = share.released(), &sawStop](std::stop_token stop) {
                caller.request_stop();
                hold(released);
                sawStop += stop.stop_requested();
                return 0;
            };
            EXPECT_THROW(work.run<int>(caller.get_token(), read), CancellationError);
        }
        EXPECT_EQ(work.abandoned(), 2u);
        const auto value = [](std::stop_token) { return 7; };
        EXPECT_THROW(work.run<int>({}, value), AbandonableWork::Refused);
        share.answer();
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
    Share share;
    AbandonableWork work(1, unbounded);
    std::promise<void> started;
    auto waiting = std::async(std::launch::async, [&] {
        return work.run<int>({}, [&started, released = share.released()](std::stop_token) {
            started.set_value();
            hold(released);
            return 1;
        });
    });
    started.get_future().wait();
    EXPECT_EQ(work.run<int>({}, [](std::stop_token) { return 2; }), 2);

    AbandonableWork bounded(2, std::chrono::seconds(0));
    std::atomic<int> sawStop = 0;
    auto held = [&sawStop, released = share.released()](std::stop_token stop) {
        hold(released);
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

    share.answer();
    EXPECT_EQ(waiting.get(), 1);
    waitUntilIdle(bounded);
    EXPECT_EQ(sawStop, 2);
    EXPECT_EQ(bounded.abandoned(), 0u);
}

// Reads left behind on a share that stopped answering hold a few threads there; the callers
// that come after wait their turn, within their stop, and files elsewhere read as ever.
TEST(AbandonableWork, ReadsHeldOnOneStalledPlaceLeaveOtherPlacesFree) {
    Share share;
    AbandonableWork work(8, unbounded, 2);
    // Its own mount on every Linux, and never read here: the reads are held by the share.
    const std::string stalled = "/proc/velto-stalled-share/";
    TempDir dir;
    const std::string healthy = (dir.path() / "song.mp3").string();
    EXPECT_EQ(AbandonableWork::placeOf(stalled + "a.mp3"), "/proc");
    EXPECT_NE(AbandonableWork::placeOf(healthy), "/proc");

    for (int i = 0; i < 12; ++i) {
        std::stop_source caller;
        auto read = [&caller, released = share.released()](std::stop_token) {
            caller.request_stop();
            hold(released);
            return 0;
        };
        auto asked = std::async(std::launch::async, [&] {
            return work.run<int>(caller.get_token(), read, stalled + std::to_string(i) + ".mp3");
        });
        // The caller leaves as soon as its read is held, or while it waits its turn.
        ASSERT_TRUE(eventually([&] {
            return caller.stop_requested() || work.waiting() == 1 ||
                   asked.wait_for(std::chrono::seconds(0)) == std::future_status::ready;
        }));
        caller.request_stop();
        EXPECT_THROW(asked.get(), CancellationError) << "read " << i;
    }
    EXPECT_EQ(work.running(), 2u);
    const auto quick = [](std::stop_token) { return 7; };
    EXPECT_EQ(work.run<int>({}, quick, healthy), 7);

    share.answer();
    waitUntilIdle(work);
    EXPECT_EQ(work.run<int>({}, quick, stalled + "0.mp3"), 7);
}
