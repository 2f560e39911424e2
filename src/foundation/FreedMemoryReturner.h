#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <vector>

namespace velto {

// Hands the allocator's free pages back to the system. glibc keeps what a thread frees in that
// thread's arena, and the player's streaming threads are new with every song: over a day of
// short songs the resident set would grow by tens of MB while the heap in use stays flat.
// Asked at each song change; while a trim waits or runs, further asks are the same trim.
class FreedMemoryReturner : public std::enable_shared_from_this<FreedMemoryReturner> {
public:
    using Executor = std::function<void(std::function<void()>)>;

    // `trim` runs on `executor` (a worker: a trim walks every arena under its lock).
    explicit FreedMemoryReturner(Executor executor, std::function<void()> trim = trimHeap);

    // Garbage that waits for a collector of its own (a script engine's, which runs only once its
    // heap has grown well past what lives) is collected on the asking thread when a trim is
    // queued, so that this trim hands back what the collection frees. Added on that thread.
    void addCollector(std::function<void()> collect);

    void request();

    // malloc_trim(0): every arena's whole free pages go back, not only each heap's top.
    static void trimHeap();

private:
    Executor executor_;
    std::function<void()> trim_;
    std::vector<std::function<void()>> collectors_;
    std::atomic<bool> pending_{false};
};

}  // namespace velto
