#include <gtest/gtest.h>

#include <gst/gst.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <optional>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include "platform/gstreamer/PlaybinSupport.h"
#include "support/TempDir.h"
#include "support/WavFile.h"

namespace velto {
namespace {

using namespace playbin_support;

// What reached the sink: frames, and the loudest sample of the latest buffer (16-bit only).
struct Heard {
    std::mutex mutex;
    std::condition_variable changed;
    std::size_t frames = 0;
    double lastPeak = -1;
    int formats = 0;  // formats the sink was given, one after the other
    GstCaps* format = nullptr;

    ~Heard() {
        if (format) gst_caps_unref(format);
    }

    static GstPadProbeReturn probe(GstPad* pad, GstPadProbeInfo* info, gpointer data) {
        auto& heard = *static_cast<Heard*>(data);
        if (info->type & GST_PAD_PROBE_TYPE_EVENT_DOWNSTREAM) {
            GstEvent* event = GST_PAD_PROBE_INFO_EVENT(info);
            if (GST_EVENT_TYPE(event) == GST_EVENT_CAPS) {
                GstCaps* caps;
                gst_event_parse_caps(event, &caps);
                std::lock_guard lock(heard.mutex);
                // A relink gives the sink the same format again, which asks nothing of it.
                if (!heard.format || !gst_caps_is_equal(heard.format, caps)) {
                    ++heard.formats;
                    gst_caps_replace(&heard.format, caps);
                }
            }
            return GST_PAD_PROBE_OK;
        }
        GstBuffer* buffer = GST_PAD_PROBE_INFO_BUFFER(info);
        GstCaps* caps = gst_pad_get_current_caps(pad);
        GstStructure* format = caps ? gst_caps_get_structure(caps, 0) : nullptr;
        gint channels = 1;
        if (format) gst_structure_get_int(format, "channels", &channels);
        const char* name = format ? gst_structure_get_string(format, "format") : nullptr;
        const bool s16 = name && std::string(name) == "S16LE";
        const std::size_t bytesPerSample = name && std::string(name).find("8") != std::string::npos ? 1 : 2;
        if (caps) gst_caps_unref(caps);
        double peak = -1;
        GstMapInfo map;
        if (s16 && gst_buffer_map(buffer, &map, GST_MAP_READ)) {
            peak = 0;
            for (gsize i = 0; i + 2 <= map.size; i += 2) {
                std::int16_t sample;
                std::memcpy(&sample, map.data + i, 2);
                peak = std::max(peak, std::abs(sample) / 32768.0);
            }
            gst_buffer_unmap(buffer, &map);
        }
        {
            std::lock_guard lock(heard.mutex);
            heard.frames += gst_buffer_get_size(buffer) / (bytesPerSample * std::size_t(channels));
            heard.lastPeak = peak;
        }
        heard.changed.notify_all();
        return GST_PAD_PROBE_OK;
    }

    // Waits until `count` more frames have reached the sink; the latest buffer's peak.
    std::optional<double> after(std::size_t count) {
        std::unique_lock lock(mutex);
        const std::size_t until = frames + count;
        if (!changed.wait_for(lock, std::chrono::seconds(10), [&] { return frames >= until; }))
            return std::nullopt;
        return lastPeak;
    }
};

int elementsIn(GstElement* playbin) {
    GstElement* sinkBin = nullptr;
    g_object_get(playbin, "audio-sink", &sinkBin, nullptr);
    if (!sinkBin) return 0;
    const int count = GST_BIN_NUMCHILDREN(GST_BIN(sinkBin));
    gst_object_unref(sinkBin);
    return count;
}

// At volume 1 the sink's bin holds the sink alone; another volume puts the volume element in
// front of it while the song plays, heard from the next buffers on, and 1 takes it out again.
// A stream in a format the volume element does not take (8-bit) is given one it takes
// beforehand, so that placing the element mid-song needs no other.
TEST(PlaybinSupportTest, OnlyAVolumeOtherThanOnePutsAnElementInThePath) {
    gst_init(nullptr, nullptr);
    TempDir dir;
    constexpr int rate = 44100;
    writeWavFile(dir.path() / "loud.wav", 3.0, rate, 2, 0.8);
    writeWav(dir.path() / "eight-bit.wav", 3.0, rate);
    for (const char* name : {"loud.wav", "eight-bit.wav"}) {
        SCOPED_TRACE(name);
        const bool loud = std::string(name) == "loud.wav";
        GstElement* playbin = makePlaybin("fakesink sync=true");
        ASSERT_NE(playbin, nullptr);
        gchar* uri = g_filename_to_uri((dir.path() / name).c_str(), nullptr, nullptr);
        g_object_set(playbin, "uri", uri, nullptr);
        g_free(uri);
        Heard heard;
        gst_pad_add_probe(partsOf(playbin)->sinkPad,
                          GstPadProbeType(GST_PAD_PROBE_TYPE_BUFFER |
                                          GST_PAD_PROBE_TYPE_EVENT_DOWNSTREAM),
                          &Heard::probe, &heard, nullptr);
        setVolume(playbin, 1.0);
        EXPECT_EQ(elementsIn(playbin), 1) << "an element beside the sink at volume 1";
        gst_element_set_state(playbin, GST_STATE_PLAYING);
        auto peak = heard.after(rate / 4);
        ASSERT_TRUE(peak.has_value());
        if (loud) {
            EXPECT_NEAR(*peak, 0.8, 0.01);
        }

        for (const auto& [volume, elements] : {std::pair{0.5, 2}, std::pair{1.0, 1}}) {
            setVolume(playbin, volume);
            // The buffer under way when the volume changed may be heard at the old one.
            ASSERT_TRUE(heard.after(rate / 2).has_value());
            peak = heard.after(1);
            ASSERT_TRUE(peak.has_value()) << "no data after the volume became " << volume;
            if (loud) {
                EXPECT_NEAR(*peak, 0.8 * volume, 0.01);
            }
            EXPECT_EQ(elementsIn(playbin), elements);
        }
        {
            std::lock_guard lock(heard.mutex);
            EXPECT_EQ(heard.formats, 1) << "the stream was given another format midway";
        }

        GstBus* bus = gst_element_get_bus(playbin);
        GstMessage* error = gst_bus_pop_filtered(bus, GST_MESSAGE_ERROR);
        EXPECT_EQ(error, nullptr) << "the stream failed";
        if (error) gst_message_unref(error);
        gst_object_unref(bus);
        gst_element_set_state(playbin, GST_STATE_NULL);
        gst_object_unref(playbin);
    }
}

}  // namespace
}  // namespace velto
