#include "foundation/FreedMemoryReturner.h"

#include <malloc.h>

namespace velto {

FreedMemoryReturner::FreedMemoryReturner(Executor executor, MainQueue& mainQueue,
                                         MainQueue::Duration spacing, std::function<void()> trim)
    : executor_(std::move(executor)), mainQueue_(mainQueue), spacing_(spacing),
      trim_(std::move(trim)) {}

void FreedMemoryReturner::addCollector(std::function<void()> collect) {
    collectors_.push_back(std::move(collect));
}

void FreedMemoryReturner::request() {
    // Set from the ask until the trim starts, a wait for the spacing included.
    if (pending_.exchange(true)) return;
    const auto now = mainQueue_.uptime();
    if (!lastQueued_ || now - *lastQueued_ >= spacing_) return queueTrim();
    mainQueue_.schedule(*lastQueued_ + spacing_ - now, [weak = weak_from_this()] {
        if (auto self = weak.lock()) self->queueTrim();
    });
}

void FreedMemoryReturner::queueTrim() {
    lastQueued_ = mainQueue_.uptime();
    for (const auto& collect : collectors_) collect();
    executor_([self = shared_from_this()] {
        // Cleared first: what is freed while the trim runs is handed back by the next one.
        self->pending_ = false;
        self->trim_();
    });
}

void FreedMemoryReturner::trimHeap() {
    ::malloc_trim(0);
}

}  // namespace velto
