#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>

namespace velto {

// The threads that run network transfers, kept once started and given the next transfer when
// idle: a song change starts none, and no transfer leaves a thread's stack or allocator arena
// behind. At most `most` run at once; a transfer beyond them waits for one to end. A transfer
// holds its thread until it ends, so each must end soon after it is cancelled.
class TransferThreads : public std::enable_shared_from_this<TransferThreads> {
  public:
    // Starts a detached thread that runs `work`, or throws when none can be started.
    using StartThread = std::function<void(std::function<void()> work)>;

    // An empty `startThread` starts std::threads.
    TransferThreads(StartThread startThread, int most);

    // Runs `work` on a thread of these; false, with `work` never run, once closed or when no
    // thread could be started and none is there to take it.
    bool run(std::function<void()> work);
    // Threads started and not ended.
    int threads() const;
    // Idle threads end, the others once their work is done; nothing is run from now on.
    void close();

  private:
    void loop();

    const StartThread startThread_;
    const int most_;
    mutable std::mutex mutex_;
    std::condition_variable ready_;
    std::deque<std::function<void()>> jobs_;
    int threads_ = 0;
    int idle_ = 0;
    bool closed_ = false;
};

}  // namespace velto
