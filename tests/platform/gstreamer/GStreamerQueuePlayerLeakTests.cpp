#include <gst/gst.h>
#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <string_view>
#include <system_error>
#include <thread>

#include "foundation/ManualMainQueue.h"
#include "platform/gstreamer/GStreamerQueuePlayer.h"
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
// Runs on the thread that takes a playbin through `transition`, inside the change, once.
struct PlaybinChangeHook {
    GstStateChange transition;
    std::function<void()> inside;
};
std::atomic<PlaybinChangeHook*> playbinChangeHook{nullptr};

void onChangeStatePre(GstTracer*, guint64, GstElement* element, GstStateChange transition) {
    PlaybinChangeHook* hook = playbinChangeHook;
    if (!hook || transition != hook->transition ||
        std::string_view(G_OBJECT_TYPE_NAME(element)) != "GstPlayBin")
        return;
    playbinChangeHook = nullptr;
    hook->inside();
}

void element_counter_class_init(ElementCounterClass*) {}
void element_counter_init(ElementCounter* self) {
    gst_tracing_register_hook(GST_TRACER(self), "element-new", G_CALLBACK(onElementNew));
    gst_tracing_register_hook(GST_TRACER(self), "object-destroyed",
                              G_CALLBACK(onObjectDestroyed));
    gst_tracing_register_hook(GST_TRACER(self), "element-change-state-pre",
                              G_CALLBACK(onChangeStatePre));
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

bool countElements() {
    gst_init(nullptr, nullptr);
    static GstTracer* counter = GST_TRACER(g_object_new(element_counter_get_type(), nullptr));
    static const bool registered = gst_element_register(nullptr, "veltofailingstop",
                                                         GST_RANK_NONE, failing_stop_get_type());
    return counter && registered;
}

// A song of 0.3 s in `dir`; its address.
std::string shortSong(const TempDir& dir) {
    auto path = dir.path() / "song.wav";
    writeWavFile(path, 0.3);
    return "file://" + path.string();
}

// Every item the player opens builds elements; none may outlive the item that used them, nor
// the player. Ends one after the other, hand-overs and removal of a playing item all count.
// With nothing to play and the playbins it replaced stopped, the player holds no element, even
// while a thread it started still holds what it was given; a replaced playbin is stopped even
// when no thread can be started to stop it, or when its stop fails once.
TEST(GStreamerQueuePlayerLeakTest, KeepsNoElementPerItem) {
    ASSERT_TRUE(countElements());
    TempDir dir;
    const std::string uri = shortSong(dir);

    for (bool threadsFail : {false, true}) {
        SCOPED_TRACE(threadsFail ? "no thread can be started" : "threads start");
        const int before = liveElements;
        std::vector<int> alive;
        std::vector<std::function<void()>> given;  // kept past the player
        {
            ManualMainQueue queue;
            GStreamerQueuePlayer::Options options;
            options.audioSink = "fakesink sync=false veltofailingstop";
            if (threadsFail) {
                options.startThread = [](std::function<void()>) {
                    throw std::system_error(
                        std::make_error_code(std::errc::resource_unavailable_try_again));
                };
            } else {
                options.startThread = [&given](std::function<void()> work) {
                    given.push_back(work);
                    std::thread(std::move(work)).detach();
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

// A skip while a playbin's first state change is under way (its file on a share that stalls)
// retires it, and its stop may come before that change has taken effect: here on the thread
// making the change, inside it. The playbin is stopped again once started, or it is freed
// running.
TEST(GStreamerQueuePlayerLeakTest, APlaybinReplacedWhileItStartsIsStoppedOnceStarted) {
    ASSERT_TRUE(countElements());
    TempDir dir;
    const std::string uri = shortSong(dir);
    const int before = liveElements;
    const int freedRunning = destroyedRunning;
    {
        ManualMainQueue queue;
        static thread_local bool runHere = false;
        GStreamerQueuePlayer::Options options;
        options.audioSink = "fakesink sync=false";
        options.startThread = [](std::function<void()> work) {
            if (runHere) {
                work();
            } else {
                std::thread(std::move(work)).detach();
            }
        };
        GStreamerQueuePlayer player(queue, options);
        std::atomic<bool> replaced{false};
        PlaybinChangeHook hook{GST_STATE_CHANGE_NULL_TO_READY, [&] {
                                   runHere = true;
                                   player.advanceToNextItem();
                                   runHere = false;
                                   replaced = true;
                               }};
        struct Unhook {
            ~Unhook() { playbinChangeHook = nullptr; }
        } unhook;
        playbinChangeHook = &hook;
        player.insert(std::make_shared<PlayerItem>(uri));
        player.insert(std::make_shared<PlayerItem>(uri));
        queue.runPending();  // the first playbin starts on a thread of its own
        const auto started = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (!replaced && std::chrono::steady_clock::now() < started) std::this_thread::yield();
        ASSERT_TRUE(replaced);
        player.play();
        ASSERT_TRUE(queue.runUntil([&] { return !player.currentItem(); }));
        ASSERT_TRUE(queue.runUntil([&] { return !player.tearingDown(); }));
    }
    // An element of a stopped stream may be freed a moment after its playbin.
    const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (liveElements > before && std::chrono::steady_clock::now() < limit)
        std::this_thread::yield();
    EXPECT_LE(liveElements - before, 0) << "elements kept";
    EXPECT_EQ(destroyedRunning - freedRunning, 0) << "elements freed without being stopped";
}

}  // namespace
}  // namespace velto
