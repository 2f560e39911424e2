#include <gtest/gtest.h>

#include <gst/gst.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>

#include "platform/gstreamer/PlaybinCallbacks.h"
#include "platform/gstreamer/PlaybinContext.h"
#include "platform/gstreamer/PlaybinSupport.h"
#include "support/TempDir.h"
#include "support/WavFile.h"

namespace {

// The system clock, counting the watches set on it that its own thread waits out.
struct CountingClock {
    GstSystemClock parent;
    gint watches;
};
struct CountingClockClass {
    GstSystemClockClass parent;
};

G_DEFINE_TYPE(CountingClock, counting_clock, GST_TYPE_SYSTEM_CLOCK)

GstClockReturn countedWaitAsync(GstClock* clock, GstClockEntry* entry) {
    g_atomic_int_inc(&reinterpret_cast<CountingClock*>(clock)->watches);
    return GST_CLOCK_CLASS(counting_clock_parent_class)->wait_async(clock, entry);
}

void counting_clock_class_init(CountingClockClass* klass) {
    GST_CLOCK_CLASS(klass)->wait_async = &countedWaitAsync;
}

void counting_clock_init(CountingClock*) {}

}  // namespace

namespace velto {
namespace {

// An owner that notes only the stalls it is told of.
class StallCountingOwner : public PlaybinOwner {
public:
    void playbinStarted(std::uint64_t) override {}
    void playbinMessage(std::uint64_t, _GstMessage*, bool, std::uint64_t) override {}
    void nextSourceMade(std::uint64_t) override {}
    void stateSetAfterWork(std::uint64_t) override {}
    void currentStreamDone(std::uint64_t) override {}
    void currentRanOut(std::uint64_t, std::uint64_t, std::uint64_t) override {}
    void currentStalled(std::uint64_t, std::uint64_t) override { ++stalls; }
    void currentFlowsAgain(std::uint64_t) override {}
    void seekLanded(std::uint64_t) override {}
    void seekRefused(std::uint64_t, std::uint64_t) override {}
    void onMainQueue(std::function<void()>) override {}

    int stalls = 0;  // under the context's lock
};

// A song playing steadily from a local file keeps data queued before the sink: the watch for
// its data running out, which wakes the clock's thread each time it is set, is set again only
// once that queue runs dry, not all along as the data come.
TEST(PlaybinCallbacksTest, DataQueuedBeforeTheSinkSetNoStallWatch) {
    gst_init(nullptr, nullptr);
    TempDir dir;
    const auto song = dir.path() / "song.wav";
    constexpr int rate = 44100;
    writeWavFile(song, 3.0, rate);
    GstElement* playbin = playbin_support::makePlaybin("fakesink sync=true");
    ASSERT_NE(playbin, nullptr);
    gchar* uri = g_filename_to_uri(song.c_str(), nullptr, nullptr);
    g_object_set(playbin, "uri", uri, nullptr);
    g_free(uri);
    auto* clock = static_cast<CountingClock*>(g_object_new(counting_clock_get_type(), nullptr));
    gst_pipeline_use_clock(GST_PIPELINE(playbin), GST_CLOCK(clock));

    StallCountingOwner owner;
    std::mutex mutex;
    std::condition_variable heard;
    std::size_t frames = 0;
    int buffers = 0, looks = 0;  // looks at the queue, as of the last buffer
    auto context = std::make_shared<PlaybinContext>();
    context->owner = &owner;
    context->playbin = playbin;
    context->sinkBufferProbe = [&](const PlaybinSinkBuffer& buffer) {
        {
            std::lock_guard lock(mutex);
            frames += buffer.frames;
            ++buffers;
            looks = context->queueLooks;  // the probe holds the context's lock
        }
        heard.notify_all();
    };
    PlaybinCallbacks::attach(playbin, context);
    gst_element_set_state(playbin, GST_STATE_PLAYING);
    // The sink takes each buffer at its time, so frames heard are seconds played.
    const auto heardFor = [&](double seconds) {
        std::unique_lock lock(mutex);
        return heard.wait_for(lock, std::chrono::seconds(10),
                              [&] { return frames >= std::size_t(seconds * rate); });
    };
    const auto looksAndBuffers = [&] {
        std::lock_guard lock(mutex);
        return std::pair(looks, buffers);
    };
    ASSERT_TRUE(heardFor(1.0));
    const int watchesAfterStart = g_atomic_int_get(&clock->watches);
    const auto [looksBefore, buffersBefore] = looksAndBuffers();
    ASSERT_TRUE(heardFor(2.5));
    const int watchesLater = g_atomic_int_get(&clock->watches);
    EXPECT_EQ(watchesLater, watchesAfterStart)
        << "the clock was watched anew while data were queued before the sink";
    // Nor is the queue looked at again for data it was seen to hold.
    const auto [looksAfter, buffersAfter] = looksAndBuffers();
    EXPECT_LE(2 * (looksAfter - looksBefore), buffersAfter - buffersBefore);
    {
        std::lock_guard lock(context->mutex);
        EXPECT_EQ(owner.stalls, 0);
        context->owner = nullptr;
    }
    gst_element_set_state(playbin, GST_STATE_NULL);
    PlaybinCallbacks::detach(playbin);
    gst_object_unref(playbin);
    gst_object_unref(clock);
}

}  // namespace
}  // namespace velto
