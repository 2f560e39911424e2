#include "platform/gstreamer/PlaybinCallbacks.h"

#include <gst/audio/audio.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <utility>

#include "platform/PlayerItem.h"
#include "platform/StreamHeads.h"


namespace velto {

using namespace playbin_support;
using ContextPtr = PlaybinContextPtr;

void PlaybinCallbacks::attach(GstElement* playbin, const ContextPtr& context) {
    if (PlaybinParts* parts = partsOf(playbin); parts && parts->sinkPad) {
        parts->sinkProbe = gst_pad_add_probe(
            parts->sinkPad,
            static_cast<GstPadProbeType>(
                GST_PAD_PROBE_TYPE_BUFFER | GST_PAD_PROBE_TYPE_BUFFER_LIST |
                GST_PAD_PROBE_TYPE_EVENT_DOWNSTREAM | GST_PAD_PROBE_TYPE_EVENT_FLUSH),
            &onSinkData, holdContext(context), &releaseContext);
    }
    g_signal_connect_data(playbin, "about-to-finish", G_CALLBACK(&onAboutToFinish),
                          holdContext(context), &releaseContextClosure, GConnectFlags(0));
    g_signal_connect_data(playbin, "source-setup", G_CALLBACK(&onSourceSetup), holdContext(context),
                          &releaseContextClosure, GConnectFlags(0));
    g_signal_connect_data(playbin, "element-setup", G_CALLBACK(&onElementSetup),
                          holdContext(context), &releaseContextClosure, GConnectFlags(0));
    GstBus* bus = gst_element_get_bus(playbin);
    gst_bus_set_sync_handler(bus, &onBusMessage, holdContext(context), &releaseContext);
    gst_object_unref(bus);
}

void PlaybinCallbacks::detach(GstElement* playbin) {
    if (PlaybinParts* parts = partsOf(playbin); parts && parts->sinkProbe)
        gst_pad_remove_probe(parts->sinkPad, std::exchange(parts->sinkProbe, 0));
    for (gpointer callback :
         {reinterpret_cast<gpointer>(&onAboutToFinish), reinterpret_cast<gpointer>(&onSourceSetup),
          reinterpret_cast<gpointer>(&onElementSetup)}) {
        g_signal_handlers_disconnect_matched(playbin, G_SIGNAL_MATCH_FUNC, 0, 0, nullptr, callback,
                                             nullptr);
    }
    GstBus* bus = gst_element_get_bus(playbin);
    gst_bus_set_sync_handler(bus, nullptr, nullptr, nullptr);
    gst_object_unref(bus);
}

GstBusSyncReply PlaybinCallbacks::onBusMessage(GstBus*, GstMessage* message, gpointer data) {
    PlaybinContext& context = **static_cast<ContextPtr*>(data);
    std::lock_guard locked(context.mutex);
    auto* self = context.owner;
    if (!self) {
        gst_message_unref(message);
        return GST_BUS_DROP;
    }
    switch (GST_MESSAGE_TYPE(message)) {
        case GST_MESSAGE_STATE_CHANGED:
            if (GST_MESSAGE_SRC(message) != GST_OBJECT(context.playbin)) break;
            [[fallthrough]];
        case GST_MESSAGE_ERROR:
        case GST_MESSAGE_EOS:
        case GST_MESSAGE_STREAM_START:
        case GST_MESSAGE_ASYNC_DONE:
        case GST_MESSAGE_BUFFERING:
        case GST_MESSAGE_DURATION_CHANGED: {
            // Stamped now: a message of an item that was replaced meanwhile is dropped.
            std::uint64_t epoch = context.epoch;
            // Told now as well: the playbin may take a failed stream apart meanwhile.
            bool ofNextStream = GST_MESSAGE_TYPE(message) == GST_MESSAGE_ERROR &&
                                context.sources.size() > 1 &&
                                ofStream(GST_MESSAGE_SRC(message), context.sources.back());
            self->playbinMessage(epoch, message, ofNextStream, context.handOver.seekFlushed);
            break;
        }
        default:
            break;
    }
    // A sync handler that drops a message owns it: unreleased, it would keep its source
    // element, and with it the item's whole decoding chain, alive for good.
    gst_message_unref(message);
    return GST_BUS_DROP;
}

void PlaybinCallbacks::onSourceSetup(GstElement*, GstElement* source, gpointer data) {
    PlaybinContext& context = **static_cast<ContextPtr*>(data);
    std::lock_guard locked(context.mutex);
    auto* self = context.owner;
    if (!self) return;
    context.sources.push_back(GST_ELEMENT(gst_object_ref(source)));
    if (!std::exchange(context.openingNext, false)) return;
    // The next stream has its address: a state held back meanwhile is set now.
    self->nextSourceMade(context.epoch);
}

void PlaybinCallbacks::onElementSetup(GstElement*, GstElement* element, gpointer data) {
    if (std::string_view(G_OBJECT_TYPE_NAME(element)) != "GstURIDecodeBin") return;
    // A group's decoder is added again each time the group is reused.
    if (g_object_get_qdata(G_OBJECT(element), switchQuark())) return;
    g_object_set_qdata(G_OBJECT(element), switchQuark(), element);
    const ContextPtr& context = *static_cast<ContextPtr*>(data);
    g_signal_connect_data(element, "drained", G_CALLBACK(&PlaybinCallbacks::onSwitchBegins),
                          holdContext(context), &releaseContextClosure, GConnectFlags(0));
    g_signal_connect_data(element, "drained", G_CALLBACK(&PlaybinCallbacks::onSwitchEnded),
                          holdContext(context), &releaseContextClosure, G_CONNECT_AFTER);
}

void PlaybinCallbacks::onSwitchBegins(GstElement* decoder, gpointer data) {
    PlaybinContext& context = **static_cast<ContextPtr*>(data);
    std::lock_guard locked(context.mutex);
    if (!context.retired) {
        ++context.switching;
    } else {
        g_signal_stop_emission_by_name(decoder, "drained");
    }
}

void PlaybinCallbacks::onSwitchEnded(GstElement*, gpointer data) {
    PlaybinContext& context = **static_cast<ContextPtr*>(data);
    {
        std::lock_guard locked(context.mutex);
        --context.switching;
    }
    context.switched.notify_all();
}

void PlaybinCallbacks::onAboutToFinish(GstElement* playbin, gpointer data) {
    PlaybinContext& context = **static_cast<ContextPtr*>(data);
    // Told while it lasts: the current stream may run out meanwhile.
    struct Asking {
        PlaybinContext& context;
        explicit Asking(PlaybinContext& asking) : context(asking) {
            std::lock_guard lock(context.mutex);
            context.askingForNext = true;
        }
        ~Asking() {
            std::lock_guard lock(context.mutex);
            context.askingForNext = false;
        }
    } asking(context);
    std::unique_lock locked(context.mutex, std::defer_lock);
    // The next item's file was looked at on the worker as it became next; if the look is not
    // back, it is waited for, which on a share that stopped answering lasts as long as the share
    // does. Meanwhile another item may come behind the current one: its look is waited for
    // instead; with none once the queue's changes are over, the current stream ends at once. An
    // item no longer next holds nothing.
    std::optional<std::uint64_t> seeksAtAsk;
    while (true) {
        std::uint64_t lookedAgain;  // before what is looked at: a change after it wakes the wait
        {
            std::lock_guard lock(context.lookMutex);
            lookedAgain = context.asksToLookAgain;
        }
        locked.lock();
        if (!context.owner) return;
        std::unique_lock handOverLock(context.handOverMutex);
        PlaybinHandOver& handOver = context.handOver;
        const HandOverPlan& plan = handOver.plan;
        // A joined stream would start at normal speed, so at another rate the next item is
        // opened on its own after the end, where the rate is applied before it plays. A seek on
        // its way flushes the end this call is for, unless its flush has passed. A seek sent
        // during the wait flushed the end this call was for; the end reached after it asks again.
        if (!seeksAtAsk) seeksAtAsk = plan.seeksSent;
        if (handOver.handedOver || plan.rate != 1.0 || handOver.seekAhead() ||
            plan.seeksSent != *seeksAtAsk) {
            return;
        }
        PlayerItemPtr next = plan.candidate;
        if (!next && handOver.queueChanges == 0) return;
        std::optional<bool> readable;
        if (next) {
            std::lock_guard lock(context.lookMutex);
            auto look = context.nextLooks.find(next->id());
            if (look != context.nextLooks.end()) readable = look->second;
        }
        if (readable) {
            // A file that cannot be opened would stall the playbin's switch; let the current
            // stream end instead and open the next one on its own, where it fails cleanly.
            if (!*readable) return;
            g_object_set(playbin, "uri",
                         context.heads->addressFor(next->id(), next->uri()).c_str(), nullptr);
            if (next->preferredForwardBuffer() > 0) {
                g_object_set(playbin, "buffer-duration",
                             static_cast<gint64>(next->preferredForwardBuffer() * GST_SECOND),
                             nullptr);
            }
            handOver.handedOver = next->id();
            break;
        }
        handOverLock.unlock();
        locked.unlock();
        std::unique_lock lock(context.lookMutex);
        context.nextLooked.wait(lock, [&] { return context.asksToLookAgain != lookedAgain; });
    }
    context.openingNext = true;
    // The playbin sets the next stream up once this returns, so a state change of ours
    // under way is let end first; skipping the hand-over instead would cost the join. The
    // wait lets go of the context, which that change's messages take on the main thread.
    context.stateSet.wait(locked, [&] { return !context.settingState; });
    // So is one the playbin goes on with by itself (after a preroll, after a seek): run
    // over the switch, it sets the old stream's parts going again as the switch stops them,
    // and they are freed running. A little, for one that waits on something else.
    locked.unlock();
    gst_element_get_state(playbin, nullptr, nullptr, GST_SECOND);
}

void PlaybinCallbacks::watchRunOut(const ContextPtr& context, GstPad* pad) {
    context->stopWatchingRunOut();
    if (!GST_CLOCK_TIME_IS_VALID(context->dataEnd)) return;
    GstEvent* event = gst_pad_get_sticky_event(pad, GST_EVENT_SEGMENT, 0);
    if (!event) return;
    GstSegment segment;
    gst_event_copy_segment(event, &segment);
    gst_event_unref(event);
    const guint64 end = gst_segment_to_running_time(&segment, GST_FORMAT_TIME, context->dataEnd);
    GstClock* clock = gst_element_get_clock(context->playbin);
    if (!clock || !GST_CLOCK_TIME_IS_VALID(end)) {
        if (clock) gst_object_unref(clock);
        return;
    }
    context->ranOutWatch = gst_clock_new_single_shot_id(
        clock, gst_element_get_base_time(context->playbin) + end);
    gst_object_unref(clock);
    context->streamsWhenWatched = context->sinkStreams;
    gst_clock_id_wait_async(context->ranOutWatch, &PlaybinCallbacks::onRunOut,
                            new std::pair<ContextPtr, GstClockTime>(context, end),
                            [](gpointer data) {
                                delete static_cast<std::pair<ContextPtr, GstClockTime>*>(data);
                            });
}

gboolean PlaybinCallbacks::onRunOut(GstClock*, GstClockTime, GstClockID id, gpointer data) {
    auto& [context, end] = *static_cast<std::pair<ContextPtr, GstClockTime>*>(data);
    std::lock_guard locked(context->mutex);
    if (context->ranOutWatch != id) return TRUE;  // stopped meanwhile
    gst_clock_id_unref(std::exchange(context->ranOutWatch, nullptr));
    auto* self = context->owner;
    // The next stream started at the sink in time.
    if (!self || context->sinkStreams != context->streamsWhenWatched) return TRUE;
    self->currentRanOut(context->epoch, end, context->handOver.seekFlushed);
    return TRUE;
}

// Late data are not a stall yet: a decoder under load may give them a little after their time.
static constexpr GstClockTime stallMargin = GST_SECOND / 4;

void PlaybinCallbacks::watchStall(const ContextPtr& context, GstClockTime notBefore) {
    if (context->stallWatch || context->stalled || context->streamDone || context->endAtSink ||
        !GST_CLOCK_TIME_IS_VALID(context->dataRunningEnd))
        return;
    GstClock* clock = gst_element_get_clock(context->playbin);
    if (!clock) return;
    context->stallWatch = gst_clock_new_single_shot_id(
        clock, gst_element_get_base_time(context->playbin) +
                   std::max(context->dataRunningEnd + stallMargin, notBefore));
    gst_object_unref(clock);
    gst_clock_id_wait_async(context->stallWatch, &PlaybinCallbacks::onStall,
                            holdContext(context), &releaseContext);
}

void PlaybinCallbacks::watchStallUnlessQueued(const ContextPtr& context, guint arrived) {
    if (context->queuedAhead > arrived) {
        context->queuedAhead -= arrived;
        return;
    }
    context->queuedAhead = 0;
    if (context->queueBeforeSink) {
        ++context->queueLooks;
        context->queuedAhead = buffersIn(context->queueBeforeSink);
        if (context->queuedAhead > 0) return;
    }
    watchStall(context);
}

gboolean PlaybinCallbacks::onStall(GstClock* clock, GstClockTime, GstClockID id, gpointer data) {
    const ContextPtr& context = *static_cast<ContextPtr*>(data);
    std::lock_guard locked(context->mutex);
    if (context->stallWatch != id) return TRUE;  // stopped meanwhile
    gst_clock_id_unref(std::exchange(context->stallWatch, nullptr));
    auto* self = context->owner;
    if (!self || context->streamDone || context->endAtSink) return TRUE;
    // A paused clock stands: watched again once the playbin plays. Its sink tells, not the
    // playbin, which stays on its way to playing while a stream handed over opens, and for good
    // once that stream has failed.
    if (!sinkPlays(context->playbin)) return TRUE;
    PlaybinParts* parts = partsOf(context->playbin);
    const GstClockTime base = gst_element_get_base_time(context->playbin);
    const GstClockTime now = gst_clock_get_time(clock);
    // Data came meanwhile, or the clock was paused and started again since it was set.
    if (now < base || now - base < context->dataRunningEnd + stallMargin) {
        watchStallUnlessQueued(context);
        return TRUE;
    }
    // Data still in the sink are no stall: a sink slower than its clock (a sound server taking a
    // long buffer in small parts) holds them in its render, and paused there it would keep them
    // for good, with no data passing to lift the pause.
    if (parts && parts->sinkPad) {
        if (!GST_PAD_STREAM_TRYLOCK(parts->sinkPad)) {
            watchStall(context, now - base + stallMargin);
            return TRUE;
        }
        GST_PAD_STREAM_UNLOCK(parts->sinkPad);
    }
    context->stalled = true;
    self->currentStalled(context->epoch, context->dataRunningEnd);
    return TRUE;
}

void PlaybinCallbacks::noteDataEnd(PlaybinContext& context, GstPad* pad) {
    GstEvent* event = gst_pad_get_sticky_event(pad, GST_EVENT_SEGMENT, 0);
    if (!event) return;
    GstSegment segment;
    gst_event_copy_segment(event, &segment);
    gst_event_unref(event);
    if (segment.format != GST_FORMAT_TIME) return;
    const guint64 end = gst_segment_to_stream_time(&segment, GST_FORMAT_TIME, context.dataEnd);
    context.dataRunningEnd = gst_segment_to_running_time(&segment, GST_FORMAT_TIME, context.dataEnd);
    std::lock_guard lock(context.firstDataMutex);
    context.heardStream = context.sinkStreams;
    context.heardUpTo = end;
}

void PlaybinCallbacks::noteFirstData(PlaybinContext& context, GstPad* pad, GstClockTime pts) {
    {
        std::lock_guard lock(context.firstDataMutex);
        if (context.firstDataStream == context.sinkStreams) return;
    }
    GstEvent* event = gst_pad_get_sticky_event(pad, GST_EVENT_SEGMENT, 0);
    if (!event) return;
    GstSegment segment;
    gst_event_copy_segment(event, &segment);
    gst_event_unref(event);
    const guint64 at = gst_segment_to_running_time(&segment, GST_FORMAT_TIME, pts);
    std::lock_guard lock(context.firstDataMutex);
    context.firstDataStream = context.sinkStreams;
    context.firstDataAt = at;
}

// Keeps a handed-over stream that left the queue from being heard: it starts when the
// current one ends, and the main thread reopens the playbin with the item queued instead.
// So is a retired playbin until it is stopped. Only data is dropped: the sink pad keeps the
// stream's events, without which the data after them is not the sink's to take.
GstPadProbeReturn PlaybinCallbacks::onSinkData(GstPad* pad, GstPadProbeInfo* info, gpointer data) {
    PlaybinContext& context = **static_cast<ContextPtr*>(data);
    std::lock_guard locked(context.mutex);
    auto* self = context.owner;
    const bool event =
        info->type & (GST_PAD_PROBE_TYPE_EVENT_DOWNSTREAM | GST_PAD_PROBE_TYPE_EVENT_FLUSH);
    if (!self) return event ? GST_PAD_PROBE_OK : GST_PAD_PROBE_DROP;
    // Data, a gap or the end reaching the sink after a seek's flush come from where the
    // seek went: it is done. The playbin's word that it is done changing state tells less:
    // it comes also when no seek ended (a second time after the preroll, over and over as
    // it starts playing). A source whose server fails the seek's request sends nothing but
    // its error, and an end after it.
    auto land = [&context, self] {
        std::uint64_t flush;
        {
            std::lock_guard lock(context.handOverMutex);
            flush = context.handOver.seekFlushed;
            if (std::exchange(context.handOver.seekLanded, flush) == flush) return;
        }
        self->seekLanded(flush);
    };
    if (event) {
        const GstEventType type = GST_EVENT_TYPE(GST_PAD_PROBE_INFO_EVENT(info));
        if (type == GST_EVENT_FLUSH_STOP) {
            {
                std::lock_guard lock(context.handOverMutex);
                context.handOver.seekFlushed = context.seekGiven.load();
            }
            {
                std::lock_guard lock(context.firstDataMutex);
                context.heardUpTo = GST_CLOCK_TIME_NONE;
            }
            context.stopWatchingRunOut();
            context.dataEnd = GST_CLOCK_TIME_NONE;
            context.stopWatchingStall();
            context.dataRunningEnd = GST_CLOCK_TIME_NONE;
            context.endAtSink = false;
            context.queuedAhead = 0;
        }
        // The data stopped for their end, not a stall: a stream held for more would never end.
        const bool ends = type == GST_EVENT_EOS || type == GST_EVENT_STREAM_GROUP_DONE;
        if (ends && std::exchange(context.stalled, false)) self->currentFlowsAgain(context.epoch);
        if (type == GST_EVENT_EOS) {
            context.endAtSink = true;
            context.stopWatchingStall();
        }
        if (type == GST_EVENT_GAP || type == GST_EVENT_EOS) land();
        if (type == GST_EVENT_STREAM_START) {
            context.streamDone = false;
            context.dataEnd = GST_CLOCK_TIME_NONE;
            context.dataRunningEnd = GST_CLOCK_TIME_NONE;
            context.endAtSink = false;
            context.queueSought = false;
            context.queuedAhead = 0;
            ++context.sinkStreams;
            std::lock_guard lock(context.handOverMutex);
            if (context.sinkStreams == context.handOver.plan.droppedStream) context.silenced = true;
        } else if (type == GST_EVENT_STREAM_GROUP_DONE) {
            context.streamDone = true;
            context.stopWatchingStall();
            self->currentStreamDone(context.epoch);
            watchRunOut(*static_cast<ContextPtr*>(data), pad);
        }
        return GST_PAD_PROBE_OK;
    }
    if (context.silenced) return GST_PAD_PROBE_DROP;
    land();
    GstBuffer* last = info->type & GST_PAD_PROBE_TYPE_BUFFER
                          ? GST_PAD_PROBE_INFO_BUFFER(info)
                          : gst_buffer_list_get(GST_PAD_PROBE_INFO_BUFFER_LIST(info),
                                                gst_buffer_list_length(
                                                    GST_PAD_PROBE_INFO_BUFFER_LIST(info)) -
                                                    1);
    GstBuffer* firstData = info->type & GST_PAD_PROBE_TYPE_BUFFER
                           ? GST_PAD_PROBE_INFO_BUFFER(info)
                           : gst_buffer_list_get(GST_PAD_PROBE_INFO_BUFFER_LIST(info), 0);
    if (firstData && GST_BUFFER_PTS_IS_VALID(firstData))
        noteFirstData(context, pad, GST_BUFFER_PTS(firstData));
    if (last && GST_BUFFER_PTS_IS_VALID(last)) {
        context.dataEnd = GST_BUFFER_PTS(last) +
                          (GST_BUFFER_DURATION_IS_VALID(last) ? GST_BUFFER_DURATION(last) : 0);
        noteDataEnd(context, pad);
        if (std::exchange(context.stalled, false)) self->currentFlowsAgain(context.epoch);
        // Where the stream's chain is set up again, the queue may be another.
        if (!std::exchange(context.queueSought, true)) {
            if (context.queueBeforeSink) gst_object_unref(context.queueBeforeSink);
            context.queueBeforeSink = queueBefore(pad);
        }
        watchStallUnlessQueued(*static_cast<ContextPtr*>(data),
                               info->type & GST_PAD_PROBE_TYPE_BUFFER
                                   ? 1
                                   : gst_buffer_list_length(GST_PAD_PROBE_INFO_BUFFER_LIST(info)));
    }
    if (!context.sinkBufferProbe) return GST_PAD_PROBE_OK;
    GstAudioInfo audio;
    GstCaps* caps = gst_pad_get_current_caps(pad);
    bool known = caps && gst_audio_info_from_caps(&audio, caps);
    if (caps) gst_caps_unref(caps);
    if (!known || GST_AUDIO_INFO_BPF(&audio) == 0) return GST_PAD_PROBE_OK;
    PlaybinSinkBuffer report;
    if (GstClock* clock = gst_element_get_clock(context.playbin)) {
        const GstClockTime now = gst_clock_get_time(clock);
        const GstClockTime base = gst_element_get_base_time(context.playbin);
        if (now > base) report.arrivedAt = toSeconds(now - base);
        gst_object_unref(clock);
    }
    GstSegment segment;
    gst_segment_init(&segment, GST_FORMAT_TIME);
    if (GstEvent* event = gst_pad_get_sticky_event(pad, GST_EVENT_SEGMENT, 0)) {
        gst_event_copy_segment(event, &segment);
        report.rate = segment.rate;
        gst_event_unref(event);
    }
    bool first = true;
    auto measure = [&](GstBuffer* buffer) {
        std::size_t frames = gst_buffer_get_size(buffer) / GST_AUDIO_INFO_BPF(&audio);
        report.frames += frames;
        GstClockTime pts = GST_BUFFER_PTS(buffer);
        if (GST_CLOCK_TIME_IS_VALID(pts) && segment.format == GST_FORMAT_TIME) {
            if (first) {
                guint64 stream = gst_segment_to_stream_time(&segment, GST_FORMAT_TIME, pts);
                if (GST_CLOCK_TIME_IS_VALID(stream)) report.streamTime = toSeconds(stream);
            }
            GstClockTime end = pts + gst_util_uint64_scale(frames, GST_SECOND, audio.rate);
            guint64 running = gst_segment_to_running_time(&segment, GST_FORMAT_TIME, end);
            if (GST_CLOCK_TIME_IS_VALID(running)) report.runningEnd = toSeconds(running);
        }
        first = false;
        if (GST_AUDIO_INFO_FORMAT(&audio) != GST_AUDIO_FORMAT_S16) return;
        GstMapInfo map;
        if (!gst_buffer_map(buffer, &map, GST_MAP_READ)) return;
        // A buffer cut out of a stream at any byte need not be aligned for its samples.
        for (gsize i = 0; i + sizeof(gint16) <= map.size; i += sizeof(gint16)) {
            gint16 sample;
            std::memcpy(&sample, map.data + i, sizeof sample);
            report.peak = std::max(report.peak, std::abs(sample) / 32768.0);
        }
        gst_buffer_unmap(buffer, &map);
    };
    if (info->type & GST_PAD_PROBE_TYPE_BUFFER) {
        measure(GST_PAD_PROBE_INFO_BUFFER(info));
    } else if (info->type & GST_PAD_PROBE_TYPE_BUFFER_LIST) {
        GstBufferList* list = GST_PAD_PROBE_INFO_BUFFER_LIST(info);
        for (guint i = 0; i < gst_buffer_list_length(list); ++i)
            measure(gst_buffer_list_get(list, i));
    }
    context.sinkBufferProbe(report);
    return GST_PAD_PROBE_OK;
}

}  // namespace velto
