#pragma once

#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>

#include "foundation/MainQueue.h"

namespace velto {

// A main queue on a virtual clock. Nothing runs until the test asks: runPending() runs posted
// work, advance() moves the clock and fires due timers in time order.
class ManualMainQueue final : public MainQueue {
public:
    ManualMainQueue();

    void post(std::function<void()> work) override;
    TimerId schedule(Duration delay, std::function<void()> work) override;
    TimerId scheduleRepeating(Duration interval, std::function<void()> work) override;
    void cancel(TimerId id) override;
    Duration uptime() const override;
    std::chrono::system_clock::time_point wallNow() const override;

    // Runs posted work (including work posted by that work) until none is left; returns the count.
    std::size_t runPending();
    // Moves the virtual clock forward by `by`, firing every timer due on the way in order and
    // running posted work after each.
    void advance(Duration by);
    template <class Rep, class Period>
    void advance(std::chrono::duration<Rep, Period> by) {
        advance(toDuration(by));
    }
    // Waits in real time for work posted by other threads, running it, until `done` holds or
    // `limit` passes. Returns whether `done` held. For tests with real worker threads.
    bool runUntil(const std::function<bool()>& done,
                  std::chrono::milliseconds limit = std::chrono::seconds(10));

    // Waits in real time, without running anything, until another thread has posted work or
    // `limit` passes. Returns whether work is waiting.
    bool waitForPosted(std::chrono::milliseconds limit = std::chrono::seconds(10));

    std::size_t pendingTimerCount() const;
    void setWallClock(std::chrono::system_clock::time_point now);

private:
    struct Timer {
        Duration due;
        Duration interval;  // zero for one-shot
        std::function<void()> work;
    };
    bool fireNextDue(Duration limit);

    mutable std::mutex mutex_;
    std::condition_variable posted_;
    std::deque<std::function<void()>> queue_;
    std::map<TimerId, Timer> timers_;
    TimerId nextId_ = 1;
    Duration now_{};
    std::chrono::system_clock::time_point wallStart_;
};

}  // namespace velto
