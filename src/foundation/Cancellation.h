#pragma once

#include <chrono>
#include <stdexcept>
#include <stop_token>

namespace velto {

// Thrown by blocking calls whose task was cancelled. Never shown to the user.
class CancellationError : public std::runtime_error {
public:
    CancellationError() : std::runtime_error("cancelled") {}
};

inline void throwIfCancelled(const std::stop_token& stop) {
    if (stop.stop_requested()) throw CancellationError();
}

// True when the exception is a cancellation (callers drop such results silently).
bool isCancellation(const std::exception_ptr& error);

// Waits for `duration`, or throws CancellationError as soon as `stop` is requested.
void sleepFor(std::chrono::nanoseconds duration, const std::stop_token& stop);

// A wait that tests can replace so that back-off delays take no real time.
class Sleeper {
public:
    virtual ~Sleeper() = default;
    virtual void sleep(std::chrono::nanoseconds duration, const std::stop_token& stop) = 0;
    static Sleeper& real();
};

}  // namespace velto
