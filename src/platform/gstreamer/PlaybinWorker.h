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
#include "platform/gstreamer/PlaybinThreads.h"

namespace velto {

// Runs, one after the other on a thread of `threads`, everything asked of one playbin that may
// block on it: its start (the first state change opens the source, and open() on a share that
// stalls waits until the share answers), flushing seeks (they wait for the streaming thread,
// which a stalled read holds), the states wanted while one of those is under way, looks at its
// failed song's file, and its stop. So a stop asked after a start stops what the start made, a
// state asked after a seek is set after it, and none of these holds the main thread (which
// still sets a state itself when nothing is under way here, and asks the playbin without
// waiting). A thread is taken while there is work, and given back when there is none.
class PlaybinWorker : public std::enable_shared_from_this<PlaybinWorker> {
public:
    struct Seek {
        double rate = 1;
        double target = 0;
        std::uint64_t flush = 0;  // the player's count of the seeks it sent
    };

    // `place`: that of the playbin's first stream (see PlaybinThreads).
    PlaybinWorker(PlaybinContextPtr context, std::shared_ptr<PlaybinThreads> threads,
                  std::shared_ptr<PlaybinTeardowns> teardowns, std::string place = {});

    // Brings the playbin to PAUSED; the player, if it still owns it, is told on its main queue.
    void start();
    // Sends a flushing seek; one asked before and not sent yet is dropped.
    void seek(Seek seek);
    // Has `state` set after the work under way or queued, in place of a state queued before,
    // and tells the player once it is; none keeps the state as it is. False if no work is under
    // way or queued: the state is for the caller to set at once.
    bool setStateAfterWork(std::optional<GstState> state);
    // Runs `work` after everything asked before.
    void post(std::function<void()> work);
    // Has the file of `item`, now behind the current one, looked at unless it was already, for
    // the playbin's ask for the next stream. Not behind the work on the playbin: on a share that
    // stopped answering the look lasts as long as the share does, and a pause or a seek of the
    // current song must not wait for it, nor the look at another song that became next
    // meanwhile: each look is work of its own, bounded only by the place of its file.
    void lookAtNext(std::uint64_t item, const std::string& uri);
    // Cuts the playbin off: no switch to its next stream starts from now on, and once the work
    // asked before is done and a switch begun has ended, it is stopped by `teardowns`, taking its
    // reference to the playbin. Work still waiting for its place goes at once: cut off, it
    // does nothing but the stop.
    void stop();

    const PlaybinContextPtr& context() const { return context_; }

private:
    enum class Kind { other, seek, state, stop };
    struct Task {
        Kind kind;
        std::function<void()> work;
    };
    void enqueue(Kind kind, std::function<void()> work);
    void runQueued();
    void sendSeek(const Seek& seek);
    // Unless the playbin is asked to stop (false then).
    static bool setStateUnlessRetired(PlaybinContext& context, GstState state);

    const PlaybinContextPtr context_;
    const std::shared_ptr<PlaybinThreads> threads_;
    const std::shared_ptr<PlaybinTeardowns> teardowns_;
    const std::string place_;
    std::mutex mutex_;
    std::deque<Task> queued_;
    bool running_ = false;  // a thread (or a caller without one) runs the queue
    PlaybinThreads::Ticket ticket_ = 0;  // of the run of the queue
};

}  // namespace velto
