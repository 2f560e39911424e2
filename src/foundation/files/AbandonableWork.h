#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <exception>
#include <functional>
#include <limits>
#include <future>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <stdexcept>
#include <stop_token>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <system_error>

#include "foundation/Cancellation.h"
#include "foundation/KeptThreads.h"

namespace velto {

// Blocking file work that must end for its caller even while the kernel holds a read (a file on
// a stalled network share, which no poll or signal can interrupt). The work runs on a thread of
// its own and the caller waits for its outcome, its stop or the bound, whichever comes first;
// then the caller throws (CancellationError on a stop, TimedOut past the bound) and leaves the
// thread to finish alone, stopped too. At most `capacity` threads so left may run at once, so
// stalled shares cannot gather threads without end: past that, work is refused with Refused.
// Threads whose callers still wait do not count; those are bounded by the callers. A file whose
// read was left behind and still hangs is not read again until that read ends.
//
// Reads left behind are also counted by the place their file lies in (the file system mounted
// there), and one place holds about `perPlace` of them: a further read there waits, within its
// stop and bound, for one of them to end. So a share that stops answering holds a few threads,
// and reads of every other disk go on as before.
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

    // A caller that stops waiting at `patience` (or the bound) leaves the work to go on,
    // unstopped, and hand what it made to `deliver`, on the work's own thread.
    template <class T>
    struct Late {
        std::stop_token patience;
        std::function<void(T)> deliver;
    };

    using Clock = std::chrono::steady_clock;

    AbandonableWork(std::size_t capacity, Clock::duration bound, std::size_t perPlace = 4)
        : counter_(std::make_shared<Counter>(capacity, perPlace)), bound_(bound) {}
    // Threads kept for more work end; work still running or left behind goes on.
    ~AbandonableWork() { counter_->threads->close(); }
    AbandonableWork(const AbandonableWork&) = delete;
    AbandonableWork& operator=(const AbandonableWork&) = delete;

    // Threads whose work ended that wait for more, without waking, so that the reads made at
    // each song change start none.
    static constexpr std::size_t keptThreads = 4;

    // The process-wide limit for reads of the user's files.
    static AbandonableWork& shared();

    // Where a read of `file` goes: the mount point holding it, links followed, and where a link
    // could only be read by asking a file system that may not answer (a share, FUSE), that file
    // system's mount point, which the read goes through first. Relative paths start at the
    // working folder.
    static std::string placeOf(const std::string& file);
    // The same in the mounts of `mountTable`, written as /proc/self/mountinfo.
    static std::string placeOf(const std::string& file, std::string_view mountTable);

    // Threads waiting for more work.
    std::size_t keptIdle() const { return std::size_t(counter_->threads->idle()); }
    // Works started and not yet finished.
    std::size_t running() const { return counter_->running.load(); }
    // Of those, the ones their callers left.
    std::size_t abandoned() const { return counter_->abandoned.load(); }
    // Callers waiting for a read left behind at their file's place to end.
    std::size_t waiting() const { return counter_->waiting.load(); }

    // Every work started from now on first waits for `released`, deaf to stops, as a read of a
    // share that stopped answering does; an empty future ends that. A share is mounted at the
    // folder `share`, when named, as far as places go, and only reads there wait. For tests.
    void holdWorkUntil(std::shared_future<void> released, std::string share = {});

    // placeOf(file), with the share named to holdWorkUntil.
    std::string placeOfRead(const std::string& file);

    // `file` names what the work reads, when it reads one file.
    template <class T>
    T run(std::stop_token stop, std::function<T(std::stop_token)> work, std::string file = {},
          Late<T> late = {}) {
        throwIfCancelled(stop);
        auto counter = counter_;
        if (counter->abandoned.load() >= counter->capacity) throw Refused();
        const std::string place = file.empty() ? std::string() : placeOfRead(file);
        const Clock::time_point now = Clock::now();
        const Clock::time_point deadline =
            bound_ < Clock::time_point::max() - now ? now + bound_ : Clock::time_point::max();
        // Ends the caller's wait: its stop, its patience.
        auto waited = std::make_shared<std::stop_source>();
        // Ends the work: the caller's stop, and its leaving unless the work is to go on.
        auto own = std::make_shared<std::stop_source>();
        std::stop_callback forward(stop, [own, waited] {
            own->request_stop();
            waited->request_stop();
        });
        std::stop_callback patience(late.patience, [waited] { waited->request_stop(); });
        if (!file.empty()) {
            std::unique_lock lock(counter->mutex);
            if (counter->held.contains(file)) throw Busy("file still held up by an earlier read");
            if (!counter->hasRoom(place)) {
                // Within the caller's own time: past its patience nothing is left to go on.
                counter->waiting.fetch_add(1);
                const bool room = counter->room.wait_until(
                    lock, waited->get_token(), deadline, [&] { return counter->hasRoom(place); });
                counter->waiting.fetch_sub(1);
                if (!room && stop.stop_requested()) throw CancellationError();
                if (!room) throw TimedOut();
            }
        }
        auto outcome = std::make_shared<Outcome<T>>();
        outcome->late = std::move(late.deliver);
        std::shared_future<void> hold;
        {
            std::lock_guard lock(holdMutex_);
            if (sharePoint_.empty() || (!place.empty() && place == sharePoint_)) hold = hold_;
        }
        counter->running.fetch_add(1);
        try {
            const bool started = counter->threads->run([counter, outcome, token = own->get_token(),
                                                        hold, file, place, work = std::move(work)] {
                if (hold.valid()) hold.wait();
                std::optional<T> value;
                std::exception_ptr error;
                try {
                    value.emplace(work(token));
                } catch (...) {
                    error = std::current_exception();
                }
                std::function<void(T)> late;
                {
                    std::lock_guard lock(outcome->mutex);
                    if (outcome->abandoned) {
                        counter->release(file, place);
                        late = std::move(outcome->late);
                    }
                    if (!late) {
                        outcome->value = std::move(value);
                        outcome->error = error;
                    }
                    outcome->done = true;
                }
                outcome->changed.notify_all();
                if (late && value && !token.stop_requested()) {
                    try {
                        late(std::move(*value));
                    } catch (...) {
                        // What comes late is taken or not; nobody waits for it.
                    }
                }
                counter->running.fetch_sub(1);
            });
            if (!started)
                throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again));
        } catch (...) {
            counter->running.fetch_sub(1);
            throw;
        }
        std::unique_lock lock(outcome->mutex);
        if (!outcome->changed.wait_until(lock, waited->get_token(), deadline,
                                         [&] { return outcome->done; })) {
            outcome->abandoned = true;
            counter->leave(file, place);
            const bool goesOn = outcome->late && !stop.stop_requested();
            if (!goesOn) outcome->late = nullptr;
            lock.unlock();
            // The work sees a stop too, so a read that can end does end.
            if (!goesOn) own->request_stop();
            if (stop.stop_requested()) throw CancellationError();
            throw TimedOut();
        }
        outcome->late = nullptr;
        if (outcome->error) std::rethrow_exception(outcome->error);
        return std::move(*outcome->value);
    }

  private:
    struct Counter {
        Counter(std::size_t capacity, std::size_t perPlace)
            : capacity(capacity), perPlace(perPlace) {}
        const std::size_t capacity;
        const std::size_t perPlace;
        std::atomic<std::size_t> running{0};
        std::atomic<std::size_t> abandoned{0};
        std::atomic<std::size_t> waiting{0};
        std::mutex mutex;
        std::condition_variable_any room;
        std::multiset<std::string> held;             // files of the works left behind
        std::map<std::string, std::size_t> heldAt;  // and their places
        // No cap: work that hangs must not hold up the next.
        std::shared_ptr<KeptThreads> threads = std::make_shared<KeptThreads>(
            nullptr, std::numeric_limits<int>::max(), int(keptThreads));

        bool hasRoom(const std::string& place) const {
            auto found = heldAt.find(place);
            return found == heldAt.end() || found->second < perPlace;
        }
        void leave(const std::string& file, const std::string& place) {
            abandoned.fetch_add(1);
            if (file.empty()) return;
            std::lock_guard lock(mutex);
            held.insert(file);
            ++heldAt[place];
        }
        void release(const std::string& file, const std::string& place) {
            abandoned.fetch_sub(1);
            if (file.empty()) return;
            {
                std::lock_guard lock(mutex);
                held.erase(held.find(file));
                if (auto found = heldAt.find(place); found != heldAt.end() && --found->second == 0)
                    heldAt.erase(found);
            }
            room.notify_all();
        }
    };
    template <class T>
    struct Outcome {
        std::mutex mutex;
        std::condition_variable_any changed;
        std::optional<T> value;
        std::exception_ptr error;
        std::function<void(T)> late;
        bool done = false;
        bool abandoned = false;
    };

    std::shared_ptr<Counter> counter_;
    const Clock::duration bound_;
    std::mutex holdMutex_;
    std::shared_future<void> hold_;
    std::string share_;
    std::string sharePoint_;
};

}  // namespace velto
