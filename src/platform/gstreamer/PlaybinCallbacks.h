#pragma once

#include <gst/gst.h>

#include "platform/gstreamer/PlaybinContext.h"

namespace velto {

// What runs on a playbin's own threads: its streaming threads, its bus, its clock. Each is given the playbin's context, and reaches the
// player only while the playbin is the player's.
class PlaybinCallbacks {
public:
    // Connects a playbin made by makePlaybin to `context`: its signals, its bus, its sink.
    static void attach(GstElement* playbin, const PlaybinContextPtr& context);
    // Undoes attach, releasing the context, so that the stopped playbin can be attached to
    // another. Stopped, it has let its groups' decoders go, and their connections with them.
    static void detach(GstElement* playbin);
    static GstBusSyncReply onBusMessage(GstBus*, GstMessage* message, gpointer data);
    static void onSourceSetup(GstElement*, GstElement* source, gpointer data);
    // Each group's decoder, as the playbin adds it: its end is watched before and after the
    // playbin's own handling of it, which switches to the next group.
    static void onElementSetup(GstElement*, GstElement* element, gpointer data);
    static void onSwitchBegins(GstElement* decoder, gpointer data);
    static void onSwitchEnded(GstElement*, gpointer data);
    static void onAboutToFinish(GstElement* playbin, gpointer data);
    // Keeps a handed-over stream that left the queue from being heard, and tells the player
    // where seeks land and streams end.
    static GstPadProbeReturn onSinkData(GstPad* pad, GstPadProbeInfo* info, gpointer data);
    // Called with the context locked, while the current stream's data come and as the playbin
    // starts playing: watches the playbin's clock for the moment they run out before its end.
    static void watchStall(const PlaybinContextPtr& context, GstClockTime notBefore = 0);
    // The same for data that came, unless more are queued before the sink: those come through
    // the sink's probe, which looks again, so a steady flow keeps the clock's thread asleep.
    // `arrived`: buffers that have just reached the sink, none when asked from the clock.
    static void watchStallUnlessQueued(const PlaybinContextPtr& context, guint arrived = 0);

private:
    // Called with the context locked, once the sink has had all of the current stream: watches
    // the playbin's clock for the moment its data have been played.
    static void watchRunOut(const PlaybinContextPtr& context, GstPad* pad);
    static gboolean onRunOut(GstClock*, GstClockTime, GstClockID id, gpointer data);
    static gboolean onStall(GstClock*, GstClockTime, GstClockID id, gpointer data);
    // Called with the context locked for data reaching the sink, the first at `pts`: notes where
    // a stream's first data are heard.
    static void noteFirstData(PlaybinContext& context, GstPad* pad, GstClockTime pts);
    // Called with the context locked for data reaching the sink: notes where, in its stream's
    // time, the data there end.
    static void noteDataEnd(PlaybinContext& context, GstPad* pad);
};

}  // namespace velto
