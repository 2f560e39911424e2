#pragma once

#include <gst/gst.h>

#include <condition_variable>
#include <deque>
#include <mutex>
#include <vector>

#include "platform/gstreamer/PlaybinContext.h"

namespace velto {

// Playbins being stopped off the main thread, by at most `maxThreads` threads that take them in
// turn and end when none is left; more would only wait on the same stalled share. Up to
// `maxKept` playbins made by makePlaybin that stopped at the first asking are kept for the
// songs opened next, while keepStopped() allows: building a playbin and its first look for
// decoders cost more than the rest of opening a song. One that did not stop, its source stuck,
// is never used again.
class PlaybinTeardowns {
public:
    struct Retired {
        GstElement* playbin = nullptr;
        PlaybinContextPtr context;
    };

    explicit PlaybinTeardowns(int maxThreads, int maxKept = 0)
        : maxThreads_(maxThreads), maxKept_(maxKept) {}

    // Counts `playbin` as being torn down until it is finalized.
    void track(GstElement* playbin, const std::shared_ptr<PlaybinTeardowns>& self);
    // Queues a retired playbin; true if the caller is to become one of the stopping threads and
    // run stopWaiting().
    bool queue(Retired retired);
    // A stopping thread's work: every playbin waiting, one after the other.
    void stopWaiting();
    // Whether a playbin retired is not finalized yet.
    bool running() const;
    // Waits at most `limit` for every playbin retired to be finalized, and cuts the player off;
    // the playbins kept go.
    void release(std::chrono::milliseconds limit);
    // A stopped playbin kept for another use, detached from the callbacks of the one before,
    // its reference the caller's; null if none is kept.
    GstElement* takeStopped();
    // Whether playbins stopped from now on are kept; the ones kept go when not.
    void keepStopped(bool keep);

    // Null once the player is being destroyed; threads of the player's own that may outlive it
    // (a look stuck on a stalled share) reach it only through here. With `mutex` held.
    PlaybinOwner* owner = nullptr;
    mutable std::mutex mutex;

    // A stop fails when a stream the playbin opens fails on the way down (its decoder takes
    // the failure of a change it was still in for its own). It is asked again: a playbin freed
    // in another state keeps threads running on what it frees. One that will not stop is left
    // alive rather than crash the program. True if it stopped at the first asking, its
    // reference then still the caller's; else the reference is taken.
    static bool stop(GstElement* playbin);

private:
    void finish();
    // The release of a playbin's tracking (see track()).
    static void releaseTracked(gpointer data);
    // Keeps a stopped playbin, or lets it go.
    void keepOrRelease(GstElement* playbin);

    const int maxThreads_;
    const int maxKept_;
    bool keeping_ = true;
    std::vector<GstElement*> kept_;  // stopped, detached, counted as torn down
    std::condition_variable done_;
    int running_ = 0;  // retired playbins not yet finalized
    int threads_ = 0;  // threads stopping playbins
    std::deque<Retired> waiting_;  // retired playbins no thread has taken yet
};

}  // namespace velto
