#include "foundation/ManualMainQueue.h"

namespace velto {

ManualMainQueue::ManualMainQueue()
    : wallStart_(std::chrono::system_clock::time_point(std::chrono::seconds(1'700'000'000))) {}

void ManualMainQueue::post(std::function<void()> work) {
    {
        std::lock_guard lock(mutex_);
        queue_.push_back(std::move(work));
    }
    posted_.notify_all();
}

MainQueue::TimerId ManualMainQueue::schedule(Duration delay, std::function<void()> work) {
    std::lock_guard lock(mutex_);
    TimerId id = nextId_++;
    timers_[id] = Timer{now_ + std::max(delay, Duration::zero()), Duration::zero(), std::move(work)};
    return id;
}

MainQueue::TimerId ManualMainQueue::scheduleRepeating(Duration interval,
                                                      std::function<void()> work) {
    std::lock_guard lock(mutex_);
    TimerId id = nextId_++;
    // A zero interval would fire forever at one instant.
    interval = std::max(interval, Duration(1));
    timers_[id] = Timer{now_ + interval, interval, std::move(work)};
    return id;
}

void ManualMainQueue::cancel(TimerId id) {
    std::lock_guard lock(mutex_);
    timers_.erase(id);
}

MainQueue::Duration ManualMainQueue::uptime() const {
    std::lock_guard lock(mutex_);
    return now_;
}

std::chrono::system_clock::time_point ManualMainQueue::wallNow() const {
    std::lock_guard lock(mutex_);
    return wallStart_ + std::chrono::duration_cast<std::chrono::system_clock::duration>(now_);
}

void ManualMainQueue::setWallClock(std::chrono::system_clock::time_point now) {
    std::lock_guard lock(mutex_);
    wallStart_ = now - std::chrono::duration_cast<std::chrono::system_clock::duration>(now_);
}

std::size_t ManualMainQueue::runPending() {
    std::size_t count = 0;
    for (;;) {
        std::function<void()> work;
        {
            std::lock_guard lock(mutex_);
            if (queue_.empty()) return count;
            work = std::move(queue_.front());
            queue_.pop_front();
        }
        work();
        ++count;
    }
}

bool ManualMainQueue::fireNextDue(Duration limit) {
    std::function<void()> work;
    {
        std::lock_guard lock(mutex_);
        auto next = timers_.end();
        for (auto it = timers_.begin(); it != timers_.end(); ++it) {
            if (it->second.due <= limit && (next == timers_.end() || it->second.due < next->second.due))
                next = it;
        }
        if (next == timers_.end()) return false;
        now_ = std::max(now_, next->second.due);
        if (next->second.interval > Duration::zero()) {
            next->second.due += next->second.interval;
            work = next->second.work;  // copy: the timer stays
        } else {
            work = std::move(next->second.work);
            timers_.erase(next);
        }
    }
    work();
    return true;
}

void ManualMainQueue::advance(Duration by) {
    runPending();
    Duration target;
    {
        std::lock_guard lock(mutex_);
        target = now_ + by;
    }
    while (fireNextDue(target)) runPending();
    {
        std::lock_guard lock(mutex_);
        now_ = std::max(now_, target);
    }
    runPending();
}

bool ManualMainQueue::runUntil(const std::function<bool()>& done, std::chrono::milliseconds limit) {
    auto deadline = std::chrono::steady_clock::now() + limit;
    for (;;) {
        runPending();
        if (done()) return true;
        std::unique_lock lock(mutex_);
        if (!posted_.wait_until(lock, deadline, [&] { return !queue_.empty(); })) {
            lock.unlock();
            runPending();
            return done();
        }
    }
}

bool ManualMainQueue::waitForPosted(std::chrono::milliseconds limit) {
    std::unique_lock lock(mutex_);
    return posted_.wait_for(lock, limit, [this] { return !queue_.empty(); });
}

std::size_t ManualMainQueue::pendingTimerCount() const {
    std::lock_guard lock(mutex_);
    return timers_.size();
}

}  // namespace velto
