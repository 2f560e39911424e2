#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "foundation/MainQueue.h"

namespace velto {

// Hands the allocator's free pages back to the system. glibc keeps what a thread frees in that
// thread's arena, and the player's streaming threads are new with every song: over a day of
// short songs the resident set would grow by tens of MB while the heap in use stays flat.
// Asked at each song change; while a trim waits or runs, further asks are the same trim.
// Trims are at least `spacing` apart: the pages a trim hands back are mostly the ones the next
// song touches again, so a trim at every change of short songs spends its CPU on pages faulted
// straight back in, while one every half minute keeps the resident set as flat.
class FreedMemoryReturner : public std::enable_shared_from_this<FreedMemoryReturner> {
public:
    using Executor = std::function<void(std::function<void()>)>;

    static constexpr MainQueue::Duration defaultSpacing = std::chrono::seconds(30);

    // `trim` runs on `executor` (a worker: a trim walks every arena under its lock); a trim due
    // later waits on `mainQueue`'s timer. Asked on the main thread.
    FreedMemoryReturner(Executor executor, MainQueue& mainQueue,
                        MainQueue::Duration spacing = defaultSpacing,
                        std::function<void()> trim = trimHeap);

    // Garbage that waits for a collector of its own (a script engine's, which runs only once its
    // heap has grown well past what lives) is collected on the main thread when a trim is
    // queued, so that this trim hands back what the collection frees.
    void addCollector(std::function<void()> collect);

    void request();

    // malloc_trim(0): every arena's whole free pages go back, not only each heap's top.
    static void trimHeap();

private:
    void queueTrim();

    Executor executor_;
    MainQueue& mainQueue_;
    MainQueue::Duration spacing_;
    std::function<void()> trim_;
    std::vector<std::function<void()>> collectors_;
    std::optional<MainQueue::Duration> lastQueued_;
    std::atomic<bool> pending_{false};
};

}  // namespace velto
