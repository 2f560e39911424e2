#pragma once

#include <gst/gst.h>

#include <condition_variable>
#include <deque>
#include <mutex>

#include "platform/gstreamer/PlaybinContext.h"

namespace velto {

// Playbins being stopped off the main thread, by at most `maxThreads` threads that take them in
// turn and end when none is left; more would only wait on the same stalled share.
class PlaybinTeardowns {
public:
    struct Retired {
        GstElement* playbin = nullptr;
        PlaybinContextPtr context;
    };

    explicit PlaybinTeardowns(int maxThreads) : maxThreads_(maxThreads) {}

    // Counts `playbin` as being torn down until it is finalized.
    void track(GstElement* playbin, const std::shared_ptr<PlaybinTeardowns>& self);
    // Queues a retired playbin; true if the caller is to become one of the stopping threads and
    // run stopWaiting().
    bool queue(Retired retired);
    // A stopping thread's work: every playbin waiting, one after the other.
    void stopWaiting();
    // Whether a playbin retired is not finalized yet.
    bool running() const;
    // Waits at most `limit` for every playbin retired to be finalized, and cuts the player off.
    void release(std::chrono::milliseconds limit);

    // Null once the player is being destroyed; threads of the player's own that may outlive it
    // (a look stuck on a stalled share) reach it only through here. With `mutex` held.
    PlaybinOwner* owner = nullptr;
    mutable std::mutex mutex;

    // A stop fails when a stream the playbin opens fails on the way down (its decoder takes
    // the failure of a change it was still in for its own). It is asked again: a playbin freed
    // in another state keeps threads running on what it frees. One that will not stop is left
    // alive rather than crash the program.
    static void stop(GstElement* playbin);

private:
    void finish();

    const int maxThreads_;
    std::condition_variable done_;
    int running_ = 0;  // retired playbins not yet finalized
    int threads_ = 0;  // threads stopping playbins
    std::deque<Retired> waiting_;  // retired playbins no thread has taken yet
};

}  // namespace velto
