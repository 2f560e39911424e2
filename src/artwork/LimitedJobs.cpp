#include "artwork/LimitedJobs.h"

#include <algorithm>

namespace velto {

LimitedJobs::LimitedJobs(WorkerPool& pool, std::size_t width)
    : pool_(pool), width_(std::max<std::size_t>(width, 1)) {}

void LimitedJobs::add(std::function<void()> job) {
    {
        std::lock_guard lock(mutex_);
        jobs_.push_back(std::move(job));
        if (running_ == width_) return;
        ++running_;
    }
    pool_.submit([self = shared_from_this()] { self->drain(); });
}

void LimitedJobs::drain() {
    for (;;) {
        std::function<void()> job;
        {
            std::lock_guard lock(mutex_);
            if (jobs_.empty()) {
                --running_;
                return;
            }
            job = std::move(jobs_.front());
            jobs_.pop_front();
        }
        try {
            job();
        } catch (...) {
            // Jobs report through their own results.
        }
    }
}

}  // namespace velto
