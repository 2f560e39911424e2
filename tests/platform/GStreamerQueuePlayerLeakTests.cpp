#include <gst/gst.h>
#include <gtest/gtest.h>

#include <atomic>
#include <system_error>

#include "foundation/ManualMainQueue.h"
#include "platform/GStreamerQueuePlayer.h"
#include "support/TempDir.h"
#include "support/WavFile.h"

// Counts the GStreamer elements alive in the process through the tracing hooks, which any
// tracer object may register without the environment asking for tracers.
namespace {

std::atomic<int> liveElements{0};
std::atomic<int> destroyedRunning{0};  // elements freed in another state than NULL

struct ElementCounter {
    GstTracer parent;
};
struct ElementCounterClass {
    GstTracerClass parent;
};

G_DEFINE_TYPE(ElementCounter, element_counter, GST_TYPE_TRACER)

void onElementNew(GstTracer*, guint64, GstElement*) { ++liveElements; }
void onObjectDestroyed(GstTracer*, guint64, GstObject* object) {
    if (!GST_IS_ELEMENT(object)) return;
    --liveElements;
    if (GST_STATE(GST_ELEMENT(object)) != GST_STATE_NULL) ++destroyedRunning;
}
void element_counter_class_init(ElementCounterClass*) {}
void element_counter_init(ElementCounter* self) {
    gst_tracing_register_hook(GST_TRACER(self), "element-new", G_CALLBACK(onElementNew));
    gst_tracing_register_hook(GST_TRACER(self), "object-destroyed",
                              G_CALLBACK(onObjectDestroyed));
}

// An element without pads whose way down from PAUSED fails as often as asked: a stand-in for a
// stream whose failure reaches its decoder while the playbin is being stopped.
std::atomic<int> stopFailures{0};

struct FailingStop {
    GstElement parent;
};
struct FailingStopClass {
    GstElementClass parent;
};

G_DEFINE_TYPE(FailingStop, failing_stop, GST_TYPE_ELEMENT)

GstStateChangeReturn changeFailingStop(GstElement* element, GstStateChange transition) {
    if (transition == GST_STATE_CHANGE_PAUSED_TO_READY && stopFailures > 0) {
        --stopFailures;
        return GST_STATE_CHANGE_FAILURE;
    }
    return GST_ELEMENT_CLASS(failing_stop_parent_class)->change_state(element, transition);
}
void failing_stop_class_init(FailingStopClass* klass) {
    GST_ELEMENT_CLASS(klass)->change_state = changeFailingStop;
    gst_element_class_set_static_metadata(GST_ELEMENT_CLASS(klass), "Failing stop", "Generic",
                                          "Fails its way down when asked", "Velto");
}
void failing_stop_init(FailingStop*) {}

}  // namespace

namespace velto {
namespace {

// Every item the player opens builds elements; none may outlive the item that used them, nor
// the player. Ends one after the other, hand-overs and removal of a playing item all count.
// With nothing to play and the playbins it replaced stopped, the player holds no element; a
// replaced playbin is stopped even when no thread can be started to stop it, or when its stop
// fails once.
TEST(GStreamerQueuePlayerLeakTest, KeepsNoElementPerItem) {
    gst_init(nullptr, nullptr);
    static GstTracer* counter =
        GST_TRACER(g_object_new(element_counter_get_type(), nullptr));
    ASSERT_NE(counter, nullptr);
    ASSERT_TRUE(gst_element_register(nullptr, "veltofailingstop", GST_RANK_NONE,
                                     failing_stop_get_type()));
    TempDir dir;
    auto path = dir.path() / "song.wav";
    writeWavFile(path, 0.3);
    const std::string uri = "file://" + path.string();

    for (bool threadsFail : {false, true}) {
        SCOPED_TRACE(threadsFail ? "no thread can be started" : "threads start");
        const int before = liveElements;
        std::vector<int> alive;
        {
            ManualMainQueue queue;
            GStreamerQueuePlayer::Options options;
            options.audioSink = "fakesink sync=false veltofailingstop";
            if (threadsFail) {
                options.startThread = [](std::function<void()>) {
                    throw std::system_error(
                        std::make_error_code(std::errc::resource_unavailable_try_again));
                };
            }
            GStreamerQueuePlayer player(queue, options);
            player.play();
            for (int round = 0; round < 6; ++round) {
                // One item alone, a pair handed over without a gap, an item removed while it
                // plays.
                const int items = round % 3 == 0 ? 1 : 2;
                for (int i = 0; i < items; ++i) player.insert(std::make_shared<PlayerItem>(uri));
                if (round % 3 == 2) {
                    ASSERT_TRUE(queue.runUntil([&] {
                        auto current = player.currentItem();
                        return !current || current->status() == PlayerItem::Status::readyToPlay;
                    }));
                    stopFailures = 1;
                    if (auto current = player.currentItem()) player.remove(current);
                }
                ASSERT_TRUE(queue.runUntil([&] { return !player.currentItem(); }))
                    << "round " << round;
                if (round % 3 == 2) {
                    ASSERT_TRUE(queue.runUntil([&] { return !player.tearingDown(); }));
                    alive.push_back(liveElements - before);
                }
            }
        }
        EXPECT_EQ(alive, std::vector<int>(2, 0)) << "elements kept per item while the player lives";
        EXPECT_EQ(liveElements - before, 0) << "elements kept after the player is gone";
        EXPECT_EQ(destroyedRunning, 0) << "elements freed without being stopped";
    }
}

}  // namespace
}  // namespace velto
