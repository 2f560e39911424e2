#include "foundation/FreedMemoryReturner.h"

#include <malloc.h>

namespace velto {

FreedMemoryReturner::FreedMemoryReturner(Executor executor, std::function<void()> trim)
    : executor_(std::move(executor)), trim_(std::move(trim)) {}

void FreedMemoryReturner::addCollector(std::function<void()> collect) {
    collectors_.push_back(std::move(collect));
}

void FreedMemoryReturner::request() {
    if (pending_.exchange(true)) return;
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
