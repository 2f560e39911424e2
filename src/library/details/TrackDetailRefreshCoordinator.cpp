#include "library/details/TrackDetailRefreshCoordinator.h"

#include <variant>

#include "foundation/Cancellation.h"
#include "foundation/Log.h"
#include "library/store/LibraryStore.h"
#include "library/details/TrackDetailRefreshError.h"
#include "sources/model/SourceError.h"

namespace velto {

namespace {

using Outcome = TrackDetailRefreshOutcome;
using Result = TaskResult<Outcome>;
// What the shared fetch hands back: the fetched song or its error, cancellations included,
// so that runTask, which drops cancellations, still delivers it.
using FetchResult = std::variant<Track, std::exception_ptr>;

// A cancelled transfer can also reach us as a network error wrapping the cancellation.
bool isCancellationError(const std::exception_ptr& error) {
    if (isCancellation(error)) return true;
    try {
        std::rethrow_exception(error);
    } catch (const SourceError& sourceError) {
        return sourceError.kind() == SourceError::Kind::network &&
               isCancellation(sourceError.underlying());
    } catch (...) {
        return false;
    }
}

}  // namespace

struct TrackDetailRefreshCoordinator::Handle::Link {
    std::atomic<bool> cancelled{false};
    std::weak_ptr<State> state;
    std::string key;
    std::uint64_t waiterId = 0;
};

struct TrackDetailRefreshCoordinator::State {
    struct Waiter {
        Track track;  // the caller's own, handed back when the fetch fails
        Completion done;
        std::shared_ptr<Handle::Link> link;
    };
    struct Pending {
        std::uint64_t id = 0;
        TaskHandle task;
        std::map<std::uint64_t, Waiter> waiters;
    };

    State(WorkerPool& pool, MainQueue& mainQueue) : pool(pool), mainQueue(mainQueue) {}

    WorkerPool& pool;
    MainQueue& mainQueue;
    std::map<std::string, Pending> pending;
    std::uint64_t nextId = 1;

    static void deliver(const Waiter& waiter, const Result& result) {
        if (waiter.link->cancelled.load()) return;
        waiter.done(result);
    }

    void cancelWaiter(const std::string& key, std::uint64_t waiterId) {
        auto entry = pending.find(key);
        if (entry == pending.end()) return;
        if (entry->second.waiters.erase(waiterId) == 0) return;
        if (!entry->second.waiters.empty()) return;
        // Nobody waits any more: the fetch is abandoned and its result, whatever it is, dropped.
        entry->second.task.cancel();
        pending.erase(entry);
    }

    void finish(const std::string& key, std::uint64_t requestId, const FetchResult& result,
                LibraryStore& store, const Track& requested, Date fetchedAt, Date retryAfter) {
        auto entry = pending.find(key);
        if (entry == pending.end() || entry->second.id != requestId) return;
        auto waiters = std::move(entry->second.waiters);
        pending.erase(entry);

        auto recordFailure = [&] {
            try {
                store.recordTrackDetailFailure(requested, retryAfter);
            } catch (const std::exception& error) {
                Log::error("library", std::string("detail failure not recorded: ") + error.what());
            }
        };

        if (const auto* error = std::get_if<std::exception_ptr>(&result)) {
            if (isCancellationError(*error)) {
                for (const auto& [id, waiter] : waiters)
                    deliver(waiter, Result(std::make_exception_ptr(CancellationError())));
                return;
            }
            recordFailure();
            for (const auto& [id, waiter] : waiters)
                deliver(waiter, Result(Outcome::failedWithExistingData(waiter.track)));
            return;
        }

        const Track& fetched = std::get<Track>(result);
        const auto received = fetched.musicID();
        if (received != key) {
            recordFailure();
            for (const auto& [id, waiter] : waiters)
                deliver(waiter, Result(std::make_exception_ptr(
                                    TrackDetailRefreshError::identityMismatch(key, received))));
            return;
        }
        try {
            store.recordTrackDetailSuccess(fetched, key, fetchedAt,
                                           TrackDetailCachePolicy::currentVersion);
        } catch (const std::exception& error) {
            Log::error("library", std::string("details not stored: ") + error.what());
        }
        for (const auto& [id, waiter] : waiters)
            deliver(waiter, Result(Outcome::refreshed(fetched)));
    }
};

void TrackDetailRefreshCoordinator::Handle::cancel() {
    if (!link_ || link_->cancelled.exchange(true)) return;
    auto state = link_->state.lock();
    if (!state) return;
    state->mainQueue.post([link = link_] {
        if (auto alive = link->state.lock()) alive->cancelWaiter(link->key, link->waiterId);
    });
}

TrackDetailRefreshCoordinator::TrackDetailRefreshCoordinator(std::shared_ptr<SourceRuntime> runtime,
                                                             TrackDetailCachePolicy policy,
                                                             WorkerPool& pool, MainQueue& mainQueue)
    : runtime_(std::move(runtime)),
      policy_(policy),
      state_(std::make_shared<State>(pool, mainQueue)) {}

TrackDetailRefreshCoordinator::~TrackDetailRefreshCoordinator() {
    for (auto& [key, entry] : state_->pending) entry.task.cancel();
}

TrackDetailRefreshCoordinator::Handle TrackDetailRefreshCoordinator::refresh(
    const Track& track, std::shared_ptr<LibraryStore> store, bool force, Date now,
    Completion done) {
    Handle handle;
    handle.link_ = std::make_shared<Handle::Link>();
    handle.link_->state = state_;
    State::Waiter waiter{track, std::move(done), handle.link_};

    auto answerLater = [&](Result result) {
        state_->mainQueue.post([waiter = std::move(waiter), result = std::move(result)]() mutable {
            State::deliver(waiter, std::move(result));
        });
        return handle;
    };

    // Songs of a switched-off source keep what they have, even when forced.
    if (!isEnabled(track.source)) return answerLater(Result(Outcome::cached(track)));
    DetailRefreshDecision decision;
    try {
        decision = store->detailRefreshDecision(track, now, policy_, force);
    } catch (...) {
        return answerLater(Result(std::current_exception()));
    }
    switch (decision.kind) {
        case DetailRefreshDecision::Kind::cached:
            return answerLater(Result(Outcome::cached(track)));
        case DetailRefreshDecision::Kind::retryDeferred:
            return answerLater(Result(Outcome::retryDeferred(track, decision.until)));
        case DetailRefreshDecision::Kind::refresh:
            break;
    }

    const std::string key = track.musicID();
    handle.link_->key = key;
    handle.link_->waiterId = state_->nextId++;
    auto existing = state_->pending.find(key);
    if (existing != state_->pending.end()) {
        // Joins the fetch in flight, whatever this caller's `now` or `force`.
        existing->second.waiters.emplace(handle.link_->waiterId, std::move(waiter));
        return handle;
    }

    const std::uint64_t requestId = state_->nextId++;
    const Date retryAfter = TrackDetailCachePolicy::after(now, policy_.failureRetryDelay);
    std::weak_ptr<State> weakState = state_;
    auto task = runTask(
        state_->pool, state_->mainQueue,
        [runtime = runtime_, track](std::stop_token stop) -> FetchResult {
            try {
                Track fetched = runtime->trackDetail(track, stop);
                if (stop.stop_requested()) return std::make_exception_ptr(CancellationError());
                return fetched;
            } catch (...) {
                return std::current_exception();
            }
        },
        [weakState, key, requestId, store, track, now,
         retryAfter](TaskResult<FetchResult>& result) {
            auto state = weakState.lock();
            if (!state) return;
            state->finish(key, requestId, result.value(), *store, track, now, retryAfter);
        });
    State::Pending entry{requestId, task, {}};
    entry.waiters.emplace(handle.link_->waiterId, std::move(waiter));
    state_->pending.emplace(key, std::move(entry));
    return handle;
}

}  // namespace velto
