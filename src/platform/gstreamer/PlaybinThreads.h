#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>

namespace velto {

// The threads that run what may block on a playbin (its start, seeks, stop, looks at files),
// kept once started and given the next work when idle (up to `maxIdle` of them idle at once): a
// song change starts none. Work on one
// place (a local file's folder: a share that stops answering holds every file in it) runs on at
// most `perPlace` threads at once; the rest waits its turn without a thread of its own.
class PlaybinThreads : public std::enable_shared_from_this<PlaybinThreads> {
public:
    // Starts a detached thread that runs `work`, or throws when none can be started; the work
    // is then done on the caller's thread.
    using StartThread = std::function<void(std::function<void()> work)>;
    using Ticket = std::uint64_t;

    PlaybinThreads(StartThread startThread, int perPlace, int maxIdle);

    // Runs `work` on a thread of the pool, after the work on `place` ahead of it when that
    // holds `perPlace` threads. An empty place waits for none.
    Ticket run(const std::string& place, std::function<void()> work);
    // Has the work of `ticket`, if it still waits for its place, run now.
    void hurry(Ticket ticket);
    // Threads running work, for tests that count what stuck work holds.
    int busy() const;
    // Idle threads end, the others once their work is done; work run from now on runs on the
    // caller's thread.
    void close();

    // The place of `uri`: a local file's folder, none for any other.
    static std::string placeOf(const std::string& uri);

private:
    struct Job {
        Ticket ticket = 0;
        std::string place;
        std::function<void()> work;
    };
    void loop();
    // Hands `job` to an idle thread, else to one started for it, else runs it here; `lock`
    // holds `mutex_` and is let go.
    void dispatch(std::unique_lock<std::mutex>& lock, Job job);
    // With `mutex_` held, once work on `place` is done: the next waiting there gets its turn.
    void leave(const std::string& place);

    const StartThread startThread_;
    const int perPlace_;
    const int maxIdle_;
    mutable std::mutex mutex_;
    std::condition_variable ready_;
    std::deque<Job> jobs_;  // given to the threads, not taken yet
    std::map<std::string, std::deque<Job>> waiting_;  // by place, behind the work running there
    std::map<std::string, int> running_;              // by place
    Ticket lastTicket_ = 0;
    int threads_ = 0;
    int starting_ = 0;  // started, not yet taking work
    int idle_ = 0;
    bool closed_ = false;
};

}  // namespace velto
