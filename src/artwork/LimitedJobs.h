#pragma once

#include <cstddef>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>

#include "foundation/WorkerPool.h"

namespace velto {

// Jobs on the shared pool, at most `width` of them running at once, started in the order
// asked. Width 1 is a serial queue: a deletion asked after a write never finds that write still
// to come, and no trim meets a file half written. Jobs report through their own results; what
// one throws is dropped.
class LimitedJobs : public std::enable_shared_from_this<LimitedJobs> {
public:
    LimitedJobs(WorkerPool& pool, std::size_t width);

    void add(std::function<void()> job);

private:
    void drain();

    WorkerPool& pool_;
    const std::size_t width_;
    std::mutex mutex_;
    std::deque<std::function<void()>> jobs_;
    std::size_t running_ = 0;
};

}  // namespace velto
