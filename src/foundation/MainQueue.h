#pragma once

#include <chrono>
#include <cstdint>
#include <functional>

namespace velto {

// The main thread's run loop as the services see it: posted work and timers all run on the
// main thread, one at a time. Tests drive a virtual clock (ManualMainQueue); the program uses
// the Qt event loop (QtMainQueue).
class MainQueue {
public:
    using Duration = std::chrono::nanoseconds;
    using TimerId = std::uint64_t;

    virtual ~MainQueue() = default;

    // Runs `work` on the main thread soon. Safe to call from any thread.
    virtual void post(std::function<void()> work) = 0;

    // One-shot and repeating timers. Safe to call from any thread; the id is valid at once.
    virtual TimerId schedule(Duration delay, std::function<void()> work) = 0;
    virtual TimerId scheduleRepeating(Duration interval, std::function<void()> work) = 0;
    // Cancelling an unknown or fired one-shot timer does nothing.
    virtual void cancel(TimerId id) = 0;

    // Monotonic time since an arbitrary start (the system uptime, or virtual time in tests).
    virtual Duration uptime() const = 0;
    // Wall-clock time (virtual in tests).
    virtual std::chrono::system_clock::time_point wallNow() const = 0;

    double uptimeSeconds() const {
        return std::chrono::duration<double>(uptime()).count();
    }
};

template <class Rep, class Period>
constexpr MainQueue::Duration toDuration(std::chrono::duration<Rep, Period> d) {
    return std::chrono::duration_cast<MainQueue::Duration>(d);
}

inline MainQueue::Duration seconds(double value) {
    return std::chrono::duration_cast<MainQueue::Duration>(std::chrono::duration<double>(value));
}

}  // namespace velto
