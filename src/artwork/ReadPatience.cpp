#include "artwork/ReadPatience.h"

namespace velto {

ReadPatience::ReadPatience(MainQueue& queue, double deadline)
    : queue_(queue), deadline_(seconds(deadline)) {}

void ReadPatience::start() {
    std::lock_guard lock(mutex_);
    timer_ = queue_.schedule(deadline_, [self = shared_from_this()] { self->check(); });
}

void ReadPatience::end() {
    std::lock_guard lock(mutex_);
    ended_ = true;
    queue_.cancel(timer_);
}

void ReadPatience::answered() {
    if (noting_.exchange(true)) return;
    queue_.post([self = shared_from_this()] {
        self->noting_ = false;
        self->lastAnswer_ = self->queue_.uptime();
    });
}

void ReadPatience::check() {
    std::lock_guard lock(mutex_);
    if (ended_) return;
    const MainQueue::Duration now = queue_.uptime();
    if (lastAnswer_ && now - *lastAnswer_ < deadline_) {
        timer_ = queue_.schedule(*lastAnswer_ + deadline_ - now,
                                 [self = shared_from_this()] { self->check(); });
        return;
    }
    out_.request_stop();
}

}  // namespace velto
