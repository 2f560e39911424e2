#include <gtest/gtest.h>

#include <gst/gst.h>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <future>
#include <atomic>
#include <utility>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/gstreamer/PlaybinCallbacks.h"
#include "platform/gstreamer/PlaybinContext.h"
#include "platform/gstreamer/PlaybinTeardowns.h"
#include "platform/gstreamer/PlaybinThreads.h"
#include "platform/gstreamer/PlaybinWorker.h"
#include "support/TempDir.h"
#include "support/WavFile.h"

namespace velto {
namespace {

// Holds the threads that reach it until opened.
struct Gate {
    explicit Gate(bool open = false) : open(open) {}
    std::mutex mutex;
    std::condition_variable changed;
    bool reached = false;
    bool open = false;

    void pass() {
        std::unique_lock lock(mutex);
        reached = true;
        changed.notify_all();
        changed.wait(lock, [&] { return open; });
    }
    // Tells it reached without stopping there.
    void reach() {
        std::lock_guard lock(mutex);
        reached = true;
        changed.notify_all();
    }
    bool wasReached() {
        std::lock_guard lock(mutex);
        return reached;
    }
    void release() {
        std::lock_guard lock(mutex);
        open = true;
        changed.notify_all();
    }
    void close() {
        std::lock_guard lock(mutex);
        open = false;
    }
    bool waitReached() {
        std::unique_lock lock(mutex);
        return changed.wait_for(lock, std::chrono::seconds(10), [&] { return reached; });
    }
};

using GatePtr = std::shared_ptr<Gate>;

// Has `gate` pass every thread that drains `decoder`; the handlers run in the order connected.
void holdDrains(GstElement* decoder, const GatePtr& gate) {
    g_signal_connect_data(
        decoder, "drained", G_CALLBACK(+[](GstElement*, gpointer data) {
            (*static_cast<GatePtr*>(data))->pass();
        }),
        new GatePtr(gate), [](gpointer data, GClosure*) { delete static_cast<GatePtr*>(data); },
        GConnectFlags(0));
}

void holdDrainsOfDecoders(GstElement* playbin, const GatePtr& gate) {
    g_signal_connect_data(
        playbin, "element-setup",
        G_CALLBACK(+[](GstElement*, GstElement* element, gpointer data) {
            if (std::string_view(G_OBJECT_TYPE_NAME(element)) == "GstURIDecodeBin")
                holdDrains(element, *static_cast<GatePtr*>(data));
        }),
        new GatePtr(gate), [](gpointer data, GClosure*) { delete static_cast<GatePtr*>(data); },
        GConnectFlags(0));
}

// A playbin driven by a worker alone, as the player drives it, with two songs: the second is
// given when the first has been read to its end, so the playbin switches to it. Its threads
// are the worker's own, detached: one stuck for good fails the test, not the run.
class PlaybinWorkerTest : public ::testing::Test {
protected:
    void SetUp() override {
        gst_init(nullptr, nullptr);
        // A GStreamer warning is a fault (a pad that would not go down, a stream run over a stop).
        g_log_set_fatal_mask("GStreamer",
                             GLogLevelFlags(G_LOG_LEVEL_WARNING | G_LOG_LEVEL_CRITICAL));
        writeWavFile(dir.path() / "a.wav", 0.3);
        writeWavFile(dir.path() / "b.wav", 0.3);
        playbin = gst_element_factory_make("playbin", nullptr);
        ASSERT_NE(playbin, nullptr);
        gst_object_ref_sink(playbin);
        GstElement* sink = gst_element_factory_make("fakesink", nullptr);
        g_object_set(sink, "sync", FALSE, nullptr);
        g_object_set(playbin, "audio-sink", sink, "uri", uriOf("a.wav").c_str(), nullptr);
        context = std::make_shared<PlaybinContext>();
        context->playbin = playbin;
        teardowns = std::make_shared<PlaybinTeardowns>(2);
        threads = std::make_shared<PlaybinThreads>(PlaybinThreads::StartThread{}, 2, 2);
        worker = std::make_shared<PlaybinWorker>(context, threads, teardowns);
    }

    void TearDown() override {
        for (const auto& gate : {beforeWatch, afterWatch}) gate->release();
        threads->close();
        if (!stopped && playbin) {
            gst_element_set_state(playbin, GST_STATE_NULL);
            gst_object_unref(playbin);
        }
    }

    std::string uriOf(const std::string& name) {
        gchar* uri = g_filename_to_uri((dir.path() / name).c_str(), nullptr, nullptr);
        std::string result = uri;
        g_free(uri);
        return result;
    }

    // Watches the decoders' drains as the player does, with `beforeWatch` held ahead of the
    // watch and `afterWatch` behind it, both ahead of the playbin's switch; the second song is
    // given when the playbin asks for the next.
    void watchSwitches() {
        holdDrainsOfDecoders(playbin, beforeWatch);
        g_signal_connect_data(playbin, "element-setup",
                              G_CALLBACK(&PlaybinCallbacks::onElementSetup), holdContext(context),
                              &releaseContextClosure, GConnectFlags(0));
        holdDrainsOfDecoders(playbin, afterWatch);
        next = uriOf("b.wav");
        g_signal_connect(playbin, "about-to-finish",
                         G_CALLBACK(+[](GstElement* playbin, gpointer uri) {
                             g_object_set(playbin, "uri", static_cast<std::string*>(uri)->c_str(),
                                          nullptr);
                         }),
                         &next);
    }

    // Tells when the stop begins to take the playbin down, and opens `gate` then.
    void onStopBegun(GatePtr gate) {
        stopBegun = std::make_shared<Gate>();
        GstBus* bus = gst_element_get_bus(playbin);
        gst_bus_set_sync_handler(
            bus,
            +[](GstBus*, GstMessage* message, gpointer data) {
                auto& [begun, gate] = *static_cast<std::pair<GatePtr, GatePtr>*>(data);
                GstState from;
                GstState to;
                if (GST_MESSAGE_TYPE(message) == GST_MESSAGE_STATE_CHANGED) {
                    gst_message_parse_state_changed(message, &from, &to, nullptr);
                    if (from == GST_STATE_PAUSED && to == GST_STATE_READY) {
                        begun->reach();
                        gate->release();
                    }
                }
                gst_message_unref(message);
                return GST_BUS_DROP;
            },
            new std::pair<GatePtr, GatePtr>(stopBegun, gate),
            [](gpointer data) { delete static_cast<std::pair<GatePtr, GatePtr>*>(data); });
        gst_object_unref(bus);
    }

    // Asks the worker to stop the playbin; whether the stop began before it came to wait for
    // the switch under way (it begins at once when it does not wait).
    bool stopBeginsOverSwitch() {
        stopped = true;
        worker->stop();
        const bool waits = soon([&] {
            if (stopBegun->wasReached()) return true;
            std::lock_guard lock(context->mutex);
            return context->stopsWaitingForSwitch > 0;
        });
        return !waits || stopBegun->wasReached();
    }

    // Asks the worker to stop the playbin; whether the stop began in time.
    bool stopBegins() {
        stopped = true;
        worker->stop();
        std::unique_lock lock(stopBegun->mutex);
        return stopBegun->changed.wait_for(lock, std::chrono::seconds(10),
                                           [&] { return stopBegun->reached; });
    }

    // Stops the playbin; whether it has been let go of in time.
    bool stops() {
        stopped = true;
        worker->stop();
        return stoppedInTime();
    }

    // Whether the playbin stopped has been let go of in time.
    bool stoppedInTime() {
        return soon([&] { return !teardowns->running(); });
    }

    // Whether `done` comes true within ten seconds, asked over and over.
    static bool soon(const std::function<bool()>& done) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (!done()) {
            if (std::chrono::steady_clock::now() > deadline) return false;
            std::this_thread::yield();
        }
        return true;
    }

    GstState target() {
        GST_OBJECT_LOCK(playbin);
        const GstState state = GST_STATE_TARGET(playbin);
        GST_OBJECT_UNLOCK(playbin);
        return state;
    }

    // The playbin has paused on the first song, its start done.
    void expectPaused() {
        GstState state = GST_STATE_VOID_PENDING;
        ASSERT_EQ(gst_element_get_state(playbin, &state, nullptr, 10 * GST_SECOND),
                  GST_STATE_CHANGE_SUCCESS);
        ASSERT_EQ(state, GST_STATE_PAUSED);
    }

    // Calls `seen` with each seek that reaches the sink's pad on its way up, on the thread that
    // sends it and before it goes on.
    void onSeek(std::function<void(GstEvent*)> seen) {
        using Seen = std::function<void(GstEvent*)>;
        GstElement* sink = nullptr;
        g_object_get(playbin, "audio-sink", &sink, nullptr);
        GstPad* pad = gst_element_get_static_pad(sink, "sink");
        gst_object_unref(sink);
        gst_pad_add_probe(
            pad, GST_PAD_PROBE_TYPE_EVENT_UPSTREAM,
            +[](GstPad*, GstPadProbeInfo* info, gpointer data) {
                GstEvent* event = GST_PAD_PROBE_INFO_EVENT(info);
                if (GST_EVENT_TYPE(event) == GST_EVENT_SEEK) (*static_cast<Seen*>(data))(event);
                return GST_PAD_PROBE_OK;
            },
            new Seen(std::move(seen)), [](gpointer data) { delete static_cast<Seen*>(data); });
        gst_object_unref(pad);
    }

    TempDir dir;
    GstElement* playbin = nullptr;
    PlaybinContextPtr context;
    std::shared_ptr<PlaybinTeardowns> teardowns;
    std::shared_ptr<PlaybinThreads> threads;
    std::shared_ptr<PlaybinWorker> worker;
    GatePtr beforeWatch = std::make_shared<Gate>(true);
    GatePtr afterWatch = std::make_shared<Gate>(true);
    GatePtr stopBegun;
    std::string next;
    bool stopped = false;
};

// The playbin's switch to the next song, begun as the first song's decoder drains, does not
// look whether the playbin is being stopped: run over a stop, it starts again what the stop
// has just put back, and waits on the stop from the thread the stop waits for. A stop asked
// meanwhile waits for the switch to end.
TEST_F(PlaybinWorkerTest, AStopWaitsForASwitchBegun) {
    watchSwitches();
    afterWatch->close();
    onStopBegun(afterWatch);
    worker->start();
    ASSERT_TRUE(afterWatch->waitReached()) << "the first song never drained";
    EXPECT_EQ(context->switching, 1);
    EXPECT_FALSE(stopBeginsOverSwitch()) << "the stop ran over the switch";
    afterWatch->release();
    EXPECT_TRUE(stoppedInTime()) << "the playbin never stopped";
}

// The other order: the decoder drains once the stop has been asked, and while it runs. A
// playbin asked to stop starts no switch, and asks for no next song.
TEST_F(PlaybinWorkerTest, APlaybinAskedToStopStartsNoSwitch) {
    watchSwitches();
    std::atomic<int> asked{0};
    g_signal_connect(playbin, "about-to-finish",
                     G_CALLBACK(+[](GstElement*, gpointer count) {
                         ++*static_cast<std::atomic<int>*>(count);
                     }),
                     &asked);
    beforeWatch->close();
    onStopBegun(beforeWatch);
    worker->start();
    ASSERT_TRUE(beforeWatch->waitReached()) << "the first song never drained";
    EXPECT_TRUE(stopBegins());
    beforeWatch->release();
    EXPECT_TRUE(stoppedInTime()) << "the playbin never stopped";
    EXPECT_EQ(asked, 0);
    EXPECT_EQ(context->switching, 0);
}

// A flushing seek holds the playbin's state until the stream lets it through, which a read
// stalled on a share may not for long (here the seek is held on its way to the source). A state
// asked meanwhile neither waits for it nor is lost: it is set once the seek is through.
TEST_F(PlaybinWorkerTest, AStateAskedDuringASeekIsSetAfterIt) {
    writeWavFile(dir.path() / "a.wav", 2.0);
    worker->start();
    soon([&] { return target() == GST_STATE_PAUSED; });
    ASSERT_NO_FATAL_FAILURE(expectPaused());
    auto seekHeld = std::make_shared<Gate>();
    onSeek([seekHeld](GstEvent*) { seekHeld->pass(); });
    worker->seek({1.0, 1.5, 1});
    ASSERT_TRUE(seekHeld->waitReached());
    auto asked = std::async(std::launch::async, [&] {
        if (!worker->setStateAfterWork(GST_STATE_PLAYING))
            gst_element_set_state(playbin, GST_STATE_PLAYING);  // as the player would
    });
    const bool free = asked.wait_for(std::chrono::seconds(5)) == std::future_status::ready;
    const GstState whileHeld = target();
    seekHeld->release();
    asked.wait();
    EXPECT_TRUE(free) << "the state waited for the seek";
    EXPECT_EQ(whileHeld, GST_STATE_PAUSED) << "the state was set before the seek";
    soon([&] { return target() == GST_STATE_PLAYING; });
    EXPECT_EQ(target(), GST_STATE_PLAYING) << "the state was lost";
    EXPECT_TRUE(stops());
}

// Everything asked of a playbin runs in the order asked, and of the seeks asked while the lane is
// busy only the last is sent: the others would only move the playbin to where it no longer goes.
TEST_F(PlaybinWorkerTest, TheWorkRunsInOrderAndAQueuedSeekReplacesAnUnsentOne) {
    writeWavFile(dir.path() / "a.wav", 2.0);
    worker->start();
    // Held behind the start, the lane holds all that follows.
    auto held = std::make_shared<Gate>();
    worker->post([held] { held->pass(); });
    ASSERT_TRUE(held->waitReached());
    ASSERT_NO_FATAL_FAILURE(expectPaused());
    struct Seen {
        std::mutex mutex;
        std::vector<std::string> done;
    };
    auto seen = std::make_shared<Seen>();
    auto note = [seen](std::string what) {
        std::lock_guard lock(seen->mutex);
        seen->done.push_back(std::move(what));
    };
    onSeek([note](GstEvent* seek) {
        gint64 start = 0;
        gst_event_parse_seek(seek, nullptr, nullptr, nullptr, nullptr, &start, nullptr, nullptr);
        note("seek " + std::to_string(start / (GST_SECOND / 10)));
    });
    worker->post([note] { note("one"); });
    worker->seek({1.0, 0.5, 1});
    worker->post([note] { note("two"); });
    worker->seek({1.0, 1.0, 2});
    worker->post([note] { note("three"); });
    worker->seek({1.0, 1.5, 3});
    auto ended = std::make_shared<Gate>(true);
    worker->post([ended] { ended->pass(); });
    held->release();
    ASSERT_TRUE(ended->waitReached());
    std::lock_guard lock(seen->mutex);
    const std::vector<std::string> expected = {"one", "two", "three", "seek 15"};
    EXPECT_EQ(seen->done, expected);
    EXPECT_EQ(context->seekGiven.load(), 3u);
}

}  // namespace
}  // namespace velto
