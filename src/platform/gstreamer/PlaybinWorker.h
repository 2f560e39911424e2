#pragma once

#include <gst/gst.h>

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "platform/gstreamer/PlaybinContext.h"
#include "platform/gstreamer/PlaybinTeardowns.h"

namespace velto {

// Runs, one after the other on a thread of its own, everything asked of one playbin that may
// block on it: its start (the first state change opens the source, and open() on a share that
// stalls waits until the share answers), flushing seeks (they wait for the streaming thread,
// which a stalled read holds), the states wanted while one of those is under way, looks at its
// failed song's file, and its stop. So a stop asked after a start stops what the start made, a
// state asked after a seek is set after it, and none of these holds the main thread (which
// still sets a state itself when nothing is under way here, and asks the playbin without
// waiting). The thread runs while there is work, and is started again for the next.
class PlaybinWorker : public std::enable_shared_from_this<PlaybinWorker> {
public:
    // Starts a detached thread that runs `work`, or throws when none can be started; the work
    // is then done on the caller's thread.
    using StartThread = std::function<void(std::function<void()> work)>;
    struct Seek {
        double rate = 1;
        double target = 0;
        std::uint64_t flush = 0;  // the player's count of the seeks it sent
    };

    PlaybinWorker(PlaybinContextPtr context, StartThread startThread,
                  std::shared_ptr<PlaybinTeardowns> teardowns);

    // Brings the playbin to PAUSED; the player, if it still owns it, is told on its main queue.
    void start();
    // Sends a flushing seek; one asked before and not sent yet is dropped.
    void seek(Seek seek);
    // Has `state` set after the work under way or queued, in place of a state queued before;
    // none keeps the state as it is. False if no work is under way or queued: the state is for
    // the caller to set at once.
    bool setStateAfterWork(std::optional<GstState> state);
    // Runs `work` after everything asked before.
    void post(std::function<void()> work);
    // Has the file of `item`, now behind the current one, looked at unless it was already, for
    // the playbin's ask for the next stream. Not behind the work on the playbin: on a share that
    // stopped answering the look lasts as long as the share does, and a pause or a seek of the
    // current song must not wait for it. The looks go one after the other on a thread of their
    // own.
    void lookAtNext(std::uint64_t item, const std::string& uri);
    // Cuts the playbin off: no switch to its next stream starts from now on, and once the work
    // asked before is done and a switch begun has ended, it is stopped by `teardowns`, taking its
    // reference to the playbin.
    void stop();

    const PlaybinContextPtr& context() const { return context_; }

private:
    enum class Kind { other, seek, state, stop };
    struct Task {
        Kind kind;
        std::function<void()> work;
    };
    struct Lane {
        std::deque<Task> queued;
        bool running = false;  // a thread (or a caller without one) runs the queue
    };
    void enqueue(Lane& lane, Kind kind, std::function<void()> work);
    void runQueued(Lane& lane);
    void sendSeek(const Seek& seek);
    // Unless the playbin is asked to stop (false then).
    static bool setStateUnlessRetired(PlaybinContext& context, GstState state);

    const PlaybinContextPtr context_;
    const StartThread startThread_;
    const std::shared_ptr<PlaybinTeardowns> teardowns_;
    std::mutex mutex_;
    Lane playbinLane_;
    Lane lookLane_;
};

}  // namespace velto
