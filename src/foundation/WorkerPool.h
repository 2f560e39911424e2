#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace velto {

// A fixed set of threads for blocking work (network, disk, decoding).
class WorkerPool {
public:
    explicit WorkerPool(std::size_t threads = defaultThreadCount());
    ~WorkerPool();
    WorkerPool(const WorkerPool&) = delete;
    WorkerPool& operator=(const WorkerPool&) = delete;

    void submit(std::function<void()> job);
    std::size_t threadCount() const { return threads_.size(); }

    // The process-wide pool.
    static WorkerPool& shared();
    static std::size_t defaultThreadCount();

private:
    void run(std::stop_token stop);

    std::mutex mutex_;
    std::condition_variable_any wake_;
    std::deque<std::function<void()>> jobs_;
    std::vector<std::jthread> threads_;
};

}  // namespace velto
