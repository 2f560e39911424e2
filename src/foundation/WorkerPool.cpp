#include "foundation/WorkerPool.h"

#include <algorithm>

#include "foundation/Log.h"

namespace velto {

WorkerPool::WorkerPool(std::size_t threads) {
    threads = std::max<std::size_t>(threads, 1);
    threads_.reserve(threads);
    for (std::size_t i = 0; i < threads; ++i)
        threads_.emplace_back([this](std::stop_token stop) { run(stop); });
}

WorkerPool::~WorkerPool() {
    for (auto& thread : threads_) thread.request_stop();
    wake_.notify_all();
    threads_.clear();  // joins
}

void WorkerPool::submit(std::function<void()> job) {
    {
        std::lock_guard lock(mutex_);
        jobs_.push_back(std::move(job));
    }
    wake_.notify_one();
}

WorkerPool& WorkerPool::shared() {
    static WorkerPool pool;
    return pool;
}

std::size_t WorkerPool::defaultThreadCount() {
    // Most jobs wait on the network, so more threads than cores pay off.
    return std::clamp<std::size_t>(std::thread::hardware_concurrency() * 2, 4, 16);
}

void WorkerPool::run(std::stop_token stop) {
    for (;;) {
        std::function<void()> job;
        {
            std::unique_lock lock(mutex_);
            if (!wake_.wait(lock, stop, [this] { return !jobs_.empty(); })) return;
            job = std::move(jobs_.front());
            jobs_.pop_front();
        }
        try {
            job();
        } catch (const std::exception& error) {
            Log::error("worker", std::string("job escaped with an error: ") + error.what());
        } catch (...) {
            Log::error("worker", "job escaped with an unknown error");
        }
    }
}

}  // namespace velto
