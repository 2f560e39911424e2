#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <limits>
#include <memory>
#include <mutex>

namespace velto {

// Threads kept once started and given the next work when idle, so that work done at each song
// change (a network transfer, a look at a file) starts none and leaves no thread's stack or
// allocator arena behind. At most `most` run at once; work beyond them waits for one to end. At
// most `mostIdle` wait for work; a thread beyond them ends. Work holds its thread until it ends.
class KeptThreads : public std::enable_shared_from_this<KeptThreads> {
  public:
    // Starts a detached thread that runs `work`, or throws when none can be started.
    using StartThread = std::function<void(std::function<void()> work)>;

    // An empty `startThread` starts std::threads.
    KeptThreads(StartThread startThread, int most, int mostIdle = std::numeric_limits<int>::max());

    // Runs `work` on a thread of these; false, with `work` never run, once closed or when no
    // thread could be started and none is there to take it.
    bool run(std::function<void()> work);
    // Threads started and not ended, and of those the ones waiting for work.
    int threads() const;
    int idle() const;
    // Idle threads end, the others once their work is done; nothing is run from now on.
    void close();

  private:
    void loop();

    const StartThread startThread_;
    const int most_;
    const int mostIdle_;
    mutable std::mutex mutex_;
    std::condition_variable ready_;
    std::deque<std::function<void()>> jobs_;
    int threads_ = 0;
    int idle_ = 0;
    bool closed_ = false;
};

}  // namespace velto
