#include "foundation/Cancellation.h"

#include <condition_variable>
#include <mutex>

namespace velto {

bool isCancellation(const std::exception_ptr& error) {
    if (!error) return false;
    try {
        std::rethrow_exception(error);
    } catch (const CancellationError&) {
        return true;
    } catch (...) {
        return false;
    }
}

void sleepFor(std::chrono::nanoseconds duration, const std::stop_token& stop) {
    throwIfCancelled(stop);
    std::mutex mutex;
    std::condition_variable_any cv;
    std::unique_lock lock(mutex);
    cv.wait_for(lock, stop, duration, [] { return false; });
    throwIfCancelled(stop);
}

namespace {
class RealSleeper final : public Sleeper {
public:
    void sleep(std::chrono::nanoseconds duration, const std::stop_token& stop) override {
        sleepFor(duration, stop);
    }
};
}  // namespace

Sleeper& Sleeper::real() {
    static RealSleeper sleeper;
    return sleeper;
}

}  // namespace velto
