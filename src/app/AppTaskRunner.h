#pragma once

#include <exception>
#include <functional>
#include <memory>
#include <optional>
#include <stop_token>
#include <type_traits>
#include <utility>

#include "foundation/Cancellation.h"
#include "foundation/MainQueue.h"
#include "foundation/Task.h"
#include "foundation/WorkerPool.h"

namespace velto {

// Runs the application models' blocking calls off the main thread and brings each outcome back
// through the main queue to a receiver that may be gone by then. Unlike runTask, a cancelled
// call is delivered (as a CancellationError) so that the newest load can clear its flag.
class AppTaskRunner {
  public:
    using Executor = std::function<void(std::function<void()>)>;

    AppTaskRunner(MainQueue& mainQueue, Executor executor)
        : mainQueue_(&mainQueue), executor_(std::move(executor)) {}
    AppTaskRunner(MainQueue& mainQueue, WorkerPool& pool)
        : AppTaskRunner(mainQueue, [&pool](std::function<void()> job) { pool.submit(std::move(job)); }) {}

    MainQueue& mainQueue() const { return *mainQueue_; }

    // Runs work(stop) on the executor, then done(result) on the main thread while `alive` lasts.
    // A stop requested at any time before delivery turns the outcome into a CancellationError,
    // even when the work itself succeeded.
    template <class Work, class Done>
    void run(std::weak_ptr<void> alive, std::stop_token stop, Work work, Done done) const {
        using Raw = std::invoke_result_t<Work, std::stop_token>;
        using Value = std::conditional_t<std::is_void_v<Raw>, Unit, Raw>;
        MainQueue* mainQueue = mainQueue_;
        executor_([mainQueue, alive = std::move(alive), stop, work = std::move(work),
                   done = std::move(done)]() mutable {
            std::optional<TaskResult<Value>> result;
            try {
                throwIfCancelled(stop);
                if constexpr (std::is_void_v<Raw>) {
                    work(stop);
                    result.emplace(Unit{});
                } else {
                    result.emplace(work(stop));
                }
            } catch (...) {
                result.emplace(std::current_exception());
            }
            mainQueue->post([alive = std::move(alive), stop, done = std::move(done),
                             result = std::move(*result)]() mutable {
                if (alive.expired()) return;
                if (stop.stop_requested() && result.ok()) {
                    TaskResult<Value> cancelled(std::make_exception_ptr(CancellationError()));
                    done(cancelled);
                    return;
                }
                done(result);
            });
        });
    }

  private:
    MainQueue* mainQueue_;
    Executor executor_;
};

}  // namespace velto
