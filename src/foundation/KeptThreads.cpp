#include "foundation/KeptThreads.h"

#include <thread>
#include <utility>

namespace velto {

KeptThreads::KeptThreads(StartThread startThread, int most, int mostIdle)
    : startThread_(startThread ? std::move(startThread)
                               : StartThread([](std::function<void()> work) {
                                     std::thread(std::move(work)).detach();
                                 })),
      most_(most < 1 ? 1 : most), mostIdle_(mostIdle) {}

bool KeptThreads::run(std::function<void()> work) {
    std::unique_lock lock(mutex_);
    if (closed_) return false;
    // Transfers already given out take idle threads first.
    const bool start = idle_ <= static_cast<int>(jobs_.size()) && threads_ < most_;
    jobs_.push_back(std::move(work));
    if (!start) {
        ready_.notify_one();
        return true;
    }
    ++threads_;
    lock.unlock();
    try {
        startThread_([self = shared_from_this()] { self->loop(); });
    } catch (...) {
        lock.lock();
        --threads_;
        if (threads_ > 0) return true;  // one of those running takes it in turn
        jobs_.pop_back();
        return false;
    }
    return true;
}

int KeptThreads::threads() const {
    std::lock_guard lock(mutex_);
    return threads_;
}

int KeptThreads::idle() const {
    std::lock_guard lock(mutex_);
    return idle_;
}

void KeptThreads::close() {
    std::lock_guard lock(mutex_);
    closed_ = true;
    jobs_.clear();
    ready_.notify_all();
}

void KeptThreads::loop() {
    std::unique_lock lock(mutex_);
    for (;;) {
        // Work already given out is a waiting thread's to take.
        if (idle_ - static_cast<int>(jobs_.size()) >= mostIdle_) break;
        ++idle_;
        ready_.wait(lock, [&] { return closed_ || !jobs_.empty(); });
        --idle_;
        if (closed_) break;
        auto work = std::move(jobs_.front());
        jobs_.pop_front();
        lock.unlock();
        work();
        work = nullptr;  // what it holds is let go of before the next waits
        lock.lock();
    }
    --threads_;
}

}  // namespace velto
