#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <stop_token>
#include <thread>

#include "foundation/Cancellation.h"

namespace velto {

// Blocking file work that a stop must end even while the kernel holds a read (a file on a stalled
// network share, which no poll or signal can interrupt). The work runs on a thread of its own and
// the caller waits for its outcome or for the stop, whichever comes first; on a stop the caller
// throws CancellationError at once and leaves the thread to finish alone, with the same stop.
// At most `capacity` threads run at a time, abandoned ones included, so a stalled share cannot
// gather threads without end: past it, work is refused with Refused.
class AbandonableWork {
  public:
    class Refused : public std::runtime_error {
      public:
        Refused() : std::runtime_error("too many file reads held up") {}
    };

    explicit AbandonableWork(std::size_t capacity) : counter_(std::make_shared<Counter>(capacity)) {}

    // The process-wide limit for reads of the user's files.
    static AbandonableWork& shared();

    // Threads started and not yet finished.
    std::size_t running() const { return counter_->running.load(); }

    template <class T>
    T run(std::stop_token stop, std::function<T(std::stop_token)> work) {
        throwIfCancelled(stop);
        auto counter = counter_;
        if (counter->running.fetch_add(1) >= counter->capacity) {
            counter->running.fetch_sub(1);
            throw Refused();
        }
        auto outcome = std::make_shared<Outcome<T>>();
        try {
            std::thread([counter, outcome, stop, work = std::move(work)] {
                std::optional<T> value;
                std::exception_ptr error;
                try {
                    value.emplace(work(stop));
                } catch (...) {
                    error = std::current_exception();
                }
                {
                    std::lock_guard lock(outcome->mutex);
                    outcome->value = std::move(value);
                    outcome->error = error;
                    outcome->done = true;
                }
                outcome->changed.notify_all();
                counter->running.fetch_sub(1);
            }).detach();
        } catch (...) {
            counter->running.fetch_sub(1);
            throw;
        }
        std::unique_lock lock(outcome->mutex);
        if (!outcome->changed.wait(lock, stop, [&] { return outcome->done; }))
            throw CancellationError();
        if (outcome->error) std::rethrow_exception(outcome->error);
        return std::move(*outcome->value);
    }

  private:
    struct Counter {
        explicit Counter(std::size_t capacity) : capacity(capacity) {}
        const std::size_t capacity;
        std::atomic<std::size_t> running{0};
    };
    template <class T>
    struct Outcome {
        std::mutex mutex;
        std::condition_variable_any changed;
        std::optional<T> value;
        std::exception_ptr error;
        bool done = false;
    };

    std::shared_ptr<Counter> counter_;
};

}  // namespace velto
