#pragma once

#include <exception>
#include <functional>
#include <memory>
#include <optional>
#include <stop_token>
#include <type_traits>
#include <utility>
#include <variant>

#include "foundation/Cancellation.h"
#include "foundation/MainQueue.h"
#include "foundation/WorkerPool.h"

namespace velto {

// The outcome of a task: a value or the error it threw.
template <class T>
class TaskResult {
public:
    explicit TaskResult(T value) : state_(std::move(value)) {}
    explicit TaskResult(std::exception_ptr error) : state_(std::move(error)) {}

    bool ok() const { return state_.index() == 0; }
    // The value, or the task's error thrown again.
    T& value() {
        if (!ok()) std::rethrow_exception(std::get<1>(state_));
        return std::get<0>(state_);
    }
    std::exception_ptr error() const { return ok() ? nullptr : std::get<1>(state_); }

private:
    std::variant<T, std::exception_ptr> state_;
};

struct Unit {};

// A handle on running work; cancelling requests a stop, and the work's blocking calls throw.
class TaskHandle {
public:
    TaskHandle() = default;
    explicit TaskHandle(std::shared_ptr<std::stop_source> source) : source_(std::move(source)) {}

    void cancel() {
        if (source_) source_->request_stop();
    }
    bool isCancelled() const { return source_ && source_->stop_requested(); }
    bool valid() const { return source_ != nullptr; }
    std::stop_token token() const { return source_ ? source_->get_token() : std::stop_token(); }

private:
    std::shared_ptr<std::stop_source> source_;
};

// Runs `work(stop_token)` on the pool and hands its result to `done` on the main queue.
// A cancelled task delivers nothing: cancellations are never shown.
template <class Work, class Done>
TaskHandle runTask(WorkerPool& pool, MainQueue& mainQueue, Work work, Done done) {
    using Raw = std::invoke_result_t<Work, std::stop_token>;
    using Value = std::conditional_t<std::is_void_v<Raw>, Unit, Raw>;
    auto source = std::make_shared<std::stop_source>();
    pool.submit([source, &mainQueue, work = std::move(work), done = std::move(done)]() mutable {
        auto token = source->get_token();
        std::optional<TaskResult<Value>> result;
        try {
            if constexpr (std::is_void_v<Raw>) {
                work(token);
                result.emplace(Unit{});
            } else {
                result.emplace(work(token));
            }
        } catch (...) {
            result.emplace(std::current_exception());
        }
        mainQueue.post([source, done = std::move(done), result = std::move(*result)]() mutable {
            if (source->stop_requested() || isCancellation(result.error())) return;
            done(result);
        });
    });
    return TaskHandle(source);
}

}  // namespace velto
