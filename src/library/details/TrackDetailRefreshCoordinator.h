#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>

#include "foundation/MainQueue.h"
#include "foundation/Task.h"
#include "foundation/WorkerPool.h"
#include "library/details/TrackDetailCachePolicy.h"
#include "library/details/TrackDetailRefreshOutcome.h"
#include "sources/model/SourceRuntime.h"

namespace velto {

class LibraryStore;

// Refreshes stored song details when they are due, with at most one back-end request per song
// key in flight however many callers ask. Main thread only.
class TrackDetailRefreshCoordinator {
  public:
    using Date = std::chrono::system_clock::time_point;
    // Gets the outcome, or the error: the store's read error, a cancellation of the shared
    // fetch that no caller asked for, or TrackDetailRefreshError.
    using Completion = std::function<void(TaskResult<TrackDetailRefreshOutcome>)>;

    // One caller's wait. Cancelling it (from any thread) drops that caller's completion; the
    // fetch goes on for the others and is cancelled when its last waiter leaves.
    class Handle {
      public:
        Handle() = default;
        void cancel();

      private:
        friend class TrackDetailRefreshCoordinator;
        struct Link;
        std::shared_ptr<Link> link_;
    };

    TrackDetailRefreshCoordinator(std::shared_ptr<SourceRuntime> runtime,
                                  TrackDetailCachePolicy policy, WorkerPool& pool,
                                  MainQueue& mainQueue);
    ~TrackDetailRefreshCoordinator();
    TrackDetailRefreshCoordinator(const TrackDetailRefreshCoordinator&) = delete;
    TrackDetailRefreshCoordinator& operator=(const TrackDetailRefreshCoordinator&) = delete;

    // `now` is the caller's clock reading: every comparison uses it, and a fetch this call
    // starts is stamped with it. `done` runs later on the main queue, at most once.
    Handle refresh(const Track& track, std::shared_ptr<LibraryStore> store, bool force, Date now,
                   Completion done);

    const TrackDetailCachePolicy& policy() const { return policy_; }

  private:
    struct State;

    std::shared_ptr<SourceRuntime> runtime_;
    TrackDetailCachePolicy policy_;
    std::shared_ptr<State> state_;
};

}  // namespace velto
