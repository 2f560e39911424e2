#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <exception>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <stdexcept>
#include <stop_token>
#include <string>
#include <thread>

#include "foundation/Cancellation.h"

namespace velto {

// Blocking file work that must end for its caller even while the kernel holds a read (a file on
// a stalled network share, which no poll or signal can interrupt). The work runs on a thread of
// its own and the caller waits for its outcome, its stop or the bound, whichever comes first;
// then the caller throws (CancellationError on a stop, TimedOut past the bound) and leaves the
// thread to finish alone, stopped too. At most `capacity` threads so left may run at once, so a
// stalled share cannot gather threads without end: past that, work is refused with Refused.
// Threads whose callers still wait do not count; those are bounded by the callers. A file whose
// read was left behind and still hangs is not read again until that read ends.
class AbandonableWork {
  public:
    // The work was not done, though its file is not known to be unreadable: try again later.
    class Busy : public std::runtime_error {
      public:
        using std::runtime_error::runtime_error;
    };
    class Refused : public Busy {
      public:
        Refused() : Busy("too many file reads held up") {}
    };
    class TimedOut : public Busy {
      public:
        TimedOut() : Busy("file read held up past its time") {}
    };

    using Clock = std::chrono::steady_clock;

    AbandonableWork(std::size_t capacity, Clock::duration bound)
        : counter_(std::make_shared<Counter>(capacity)), bound_(bound) {}

    // The process-wide limit for reads of the user's files.
    static AbandonableWork& shared();

    // Threads started and not yet finished.
    std::size_t running() const { return counter_->running.load(); }
    // Of those, the ones their callers left.
    std::size_t abandoned() const { return counter_->abandoned.load(); }

    // Every work started from now on first waits for `released`, deaf to stops, as a read of a
    // share that stopped answering does; an empty future ends that. For tests.
    void holdWorkUntil(std::shared_future<void> released) {
        std::lock_guard lock(holdMutex_);
        hold_ = std::move(released);
    }

    // `file` names what the work reads, when it reads one file.
    template <class T>
    T run(std::stop_token stop, std::function<T(std::stop_token)> work, std::string file = {}) {
        throwIfCancelled(stop);
        auto counter = counter_;
        if (counter->abandoned.load() >= counter->capacity) throw Refused();
        if (!file.empty()) {
            std::lock_guard lock(counter->mutex);
            if (counter->held.contains(file)) throw Busy("file still held up by an earlier read");
        }
        const Clock::time_point now = Clock::now();
        const Clock::time_point deadline =
            bound_ < Clock::time_point::max() - now ? now + bound_ : Clock::time_point::max();
        auto own = std::make_shared<std::stop_source>();
        std::stop_callback forward(stop, [own] { own->request_stop(); });
        auto outcome = std::make_shared<Outcome<T>>();
        std::shared_future<void> hold;
        {
            std::lock_guard lock(holdMutex_);
            hold = hold_;
        }
        counter->running.fetch_add(1);
        try {
            std::thread([counter, outcome, token = own->get_token(), hold, file,
                         work = std::move(work)] {
                if (hold.valid()) hold.wait();
                std::optional<T> value;
                std::exception_ptr error;
                try {
                    value.emplace(work(token));
                } catch (...) {
                    error = std::current_exception();
                }
                {
                    std::lock_guard lock(outcome->mutex);
                    outcome->value = std::move(value);
                    outcome->error = error;
                    outcome->done = true;
                    if (outcome->abandoned) counter->release(file);
                }
                outcome->changed.notify_all();
                counter->running.fetch_sub(1);
            }).detach();
        } catch (...) {
            counter->running.fetch_sub(1);
            throw;
        }
        std::unique_lock lock(outcome->mutex);
        if (!outcome->changed.wait_until(lock, own->get_token(), deadline,
                                         [&] { return outcome->done; })) {
            outcome->abandoned = true;
            counter->leave(file);
            lock.unlock();
            // The work sees a stop too, so a read that can end does end.
            own->request_stop();
            if (stop.stop_requested()) throw CancellationError();
            throw TimedOut();
        }
        if (outcome->error) std::rethrow_exception(outcome->error);
        return std::move(*outcome->value);
    }

  private:
    struct Counter {
        explicit Counter(std::size_t capacity) : capacity(capacity) {}
        const std::size_t capacity;
        std::atomic<std::size_t> running{0};
        std::atomic<std::size_t> abandoned{0};
        std::mutex mutex;
        std::multiset<std::string> held;  // files of the works left behind

        void leave(const std::string& file) {
            abandoned.fetch_add(1);
            if (file.empty()) return;
            std::lock_guard lock(mutex);
            held.insert(file);
        }
        void release(const std::string& file) {
            abandoned.fetch_sub(1);
            if (file.empty()) return;
            std::lock_guard lock(mutex);
            held.erase(held.find(file));
        }
    };
    template <class T>
    struct Outcome {
        std::mutex mutex;
        std::condition_variable_any changed;
        std::optional<T> value;
        std::exception_ptr error;
        bool done = false;
        bool abandoned = false;
    };

    std::shared_ptr<Counter> counter_;
    const Clock::duration bound_;
    std::mutex holdMutex_;
    std::shared_future<void> hold_;
};

}  // namespace velto
