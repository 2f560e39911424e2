#pragma once

#include <gst/gst.h>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <utility>

#include "platform/gstreamer/PlaybinHandOver.h"
#include "platform/gstreamer/PlaybinOwner.h"
#include "platform/gstreamer/PlaybinSupport.h"

namespace velto {

class StreamHeads;

// What one playbin's callbacks, on streaming threads, share with the player: the player
// itself, cut when the playbin is retired so that a playbin still being torn down (perhaps for
// long, on a source stuck in a read) never touches it again, and the sources it opened.
struct PlaybinContext {
    std::mutex mutex;
    PlaybinOwner* owner = nullptr;  // null once the playbin is retired
    bool retired = false;                   // asked to stop: nothing is done with it but that
    GstElement* playbin = nullptr;          // not owned
    playbin_support::FileReadable fileReadable;  // the player's option
    std::shared_ptr<StreamHeads> heads;          // the player's, which give a song its address
    std::uint64_t epoch = 0;
    // Called for every buffer that reaches the sink; the player's option.
    std::function<void(const PlaybinSinkBuffer&)> sinkBufferProbe;
    // Taken after `mutex` when both are.
    std::mutex handOverMutex;
    PlaybinHandOver handOver;
    bool silenced = false;  // the sink drops what reaches it until the playbin is replaced
    // The sources of the current stream and of the one handed over after it, in that order;
    // none once the playbin is retired.
    std::deque<GstElement*> sources;
    // The last seek given to the playbin: a flush reaching the sink is its own, though another
    // may have been asked for meanwhile.
    std::atomic<std::uint64_t> seekGiven{0};
    // The playbin adds the handed-over stream's decoder before giving it its address, and a
    // state change of ours reaching it then fails it for want of one. So neither runs while the
    // other is under way.
    bool settingState = false;  // a state change of ours is under way
    bool openingNext = false;   // the next stream is being set up, its source not made yet
    std::condition_variable stateSet;  // a state change of ours has ended
    // The sink has had all of the current stream; the playbin holds back its end while another
    // is handed over.
    bool streamDone = false;
    int sinkStreams = 0;  // streams whose start has reached the sink
    // Where on the running clock the first data of the latest stream to reach the sink with data
    // are heard, and that stream's number (as `sinkStreams` counts). Set on the streaming thread.
    std::mutex firstDataMutex;
    int firstDataStream = 0;
    GstClockTime firstDataAt = GST_CLOCK_TIME_NONE;
    // Where, in its stream's time, the data that reached the sink last end, and that stream's
    // number; none after a flush until data come again.
    int heardStream = 0;
    GstClockTime heardUpTo = GST_CLOCK_TIME_NONE;
    // Streams read to their end whose switch to the next group is under way on their own
    // streaming thread. The playbin's switch does not look whether the playbin is being stopped:
    // run over a stop, it starts the group the stop has just put back, and waits on the stop
    // from the very thread the stop waits for. So a playbin asked to stop starts no switch, and
    // its stop waits for one already begun.
    int switching = 0;
    std::condition_variable switched;
    int stopsWaitingForSwitch = 0;  // tells a test the stop has come to the switch and waits
    // The playbin is asking for the next stream (a look at its file may hold the ask).
    bool askingForNext = false;
    // The looks at the files of the items put behind the current one, made on the worker as each
    // became next: by item, whether its file could be opened; none while the look lasts. Apart
    // from `mutex`, which streaming threads hold while they wait on the sink, and after it.
    std::mutex lookMutex;
    std::map<std::uint64_t, std::optional<bool>> nextLooks;
    // Counts the ends of looks and the player's changes of what an ask for the next stream
    // waits on (the item behind the current one, a seek, the rate, the retirement).
    std::uint64_t asksToLookAgain = 0;
    std::condition_variable nextLooked;
    // Where the data that reached the sink last end, in stream time.
    GstClockTime dataEnd = GST_CLOCK_TIME_NONE;
    // Fires when the current stream's data, all at the sink, have been played: if the next
    // stream has not reached the sink by then, its data come late. Streams started at the sink
    // when it was set.
    GstClockID ranOutWatch = nullptr;
    int streamsWhenWatched = 0;
    // Where on the running clock the data at the sink end; none after a flush until data come.
    GstClockTime dataRunningEnd = GST_CLOCK_TIME_NONE;
    // Fires a little after the data at the sink have been played: if none came meanwhile and the
    // current stream is not all there, its source holds them up. At most one at a time, set
    // again from where the data end then.
    GstClockID stallWatch = nullptr;
    // The current stream's data ran out before its end; the player holds the playbin until they
    // come again (after a seek's flush too).
    bool stalled = false;
    bool endAtSink = false;  // the end of the current stream reached the sink: no stall follows
    // The queue before the sink, looked for once data come after a stream's start; null if
    // there is none. While it holds data, more are on their way to the sink, which look at
    // the watch again, so the data's flow sets none.
    GstElement* queueBeforeSink = nullptr;  // owned
    bool queueSought = false;
    // Buffers that queue held at the last look and that have not reached the sink yet: they
    // are sure to come (or a flush to clear them), so the sink does not look again meanwhile.
    // A look takes the queue's lock, which its upstream thread has just been woken to take.
    guint queuedAhead = 0;
    int queueLooks = 0;  // tells a test how often the queue was looked at

    static void stopWatching(GstClockID& watch) {
        if (!watch) return;
        gst_clock_id_unschedule(watch);
        gst_clock_id_unref(std::exchange(watch, nullptr));
    }
    void stopWatchingRunOut() { stopWatching(ranOutWatch); }
    void stopWatchingStall() { stopWatching(stallWatch); }

    // Wakes an ask for the next stream that waits for a look.
    void lookAgain() {
        {
            std::lock_guard lock(lookMutex);
            ++asksToLookAgain;
        }
        nextLooked.notify_all();
    }

    void waitOutSwitches() {
        std::unique_lock lock(mutex);
        if (switching == 0) return;
        ++stopsWaitingForSwitch;
        switched.wait(lock, [&] { return switching == 0; });
        --stopsWaitingForSwitch;
    }

    // Sets a state change of ours, which the hand-over waits for; none is set while the next
    // stream is being set up (false then).
    bool setStateUnlessNextOpens(GstElement* element, GstState state) {
        {
            std::lock_guard lock(mutex);
            if (openingNext) return false;
            settingState = true;
        }
        gst_element_set_state(element, state);
        {
            std::lock_guard lock(mutex);
            settingState = false;
        }
        stateSet.notify_all();
        return true;
    }

    // Whoever still holds the context once its playbin is retired (a thread it started) must
    // not keep the playbin's elements alive after the playbin. With `mutex` held.
    void releaseElements() {
        for (GstElement* source : sources) gst_object_unref(source);
        sources.clear();
        if (queueBeforeSink) gst_object_unref(std::exchange(queueBeforeSink, nullptr));
    }

    ~PlaybinContext() {
        stopWatchingRunOut();
        stopWatchingStall();
        releaseElements();
    }
};

using PlaybinContextPtr = std::shared_ptr<PlaybinContext>;

// A context held by a signal handler or probe of its playbin, released with it.
gpointer holdContext(const PlaybinContextPtr& context);
void releaseContext(gpointer data);
void releaseContextClosure(gpointer data, GClosure*);

}  // namespace velto
