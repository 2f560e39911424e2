#include "platform/GStreamerQueuePlayer.h"

#include <fcntl.h>
#include <glib/gstdio.h>
#include <gst/audio/audio.h>
#include <gst/gst.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <thread>
#include <utility>

#include "foundation/Log.h"

namespace velto {

namespace {

constexpr std::string_view logCategory = "Player";

// playbin's GstPlayFlags: audio only (no window for a cover image stream), software volume.
constexpr guint playFlagAudio = 1 << 1;
constexpr guint playFlagSoftVolume = 1 << 4;

// The sink with a volume element in front of it, as one bin. playbin's own software volume
// leaves its volume element behind when the playbin is destroyed, and every item opened gets
// a playbin; this one goes with the sink. Null `volume` if there is no volume element.
GstElement* withVolume(GstElement* sink, GstElement** volume) {
    *volume = gst_element_factory_make("volume", nullptr);
    if (!*volume) return sink;
    GstElement* bin = gst_bin_new(nullptr);
    gst_bin_add_many(GST_BIN(bin), *volume, sink, nullptr);
    gst_element_link(*volume, sink);
    GstPad* target = gst_element_get_static_pad(*volume, "sink");
    gst_element_add_pad(bin, gst_ghost_pad_new("sink", target));
    gst_object_unref(target);
    return bin;
}

void ensureGStreamer() {
    static std::once_flag once;
    std::call_once(once, [] {
        GError* error = nullptr;
        if (!gst_init_check(nullptr, nullptr, &error)) {
            Log::error(logCategory, std::string("GStreamer init failed: ") +
                                        (error ? error->message : "unknown"));
            g_clear_error(&error);
        }
    });
}

std::string describeSink(const std::string& configured) {
    if (!configured.empty()) return configured;
    if (const char* env = std::getenv("VELTO_AUDIO_SINK"); env && *env) return env;
    return "autoaudiosink";
}

GstElement* makeSink(const std::string& description) {
    GError* error = nullptr;
    GstElement* sink = gst_parse_bin_from_description(description.c_str(), TRUE, &error);
    if (!sink) {
        Log::error(logCategory, "audio sink \"" + description +
                                    "\" unusable: " + (error ? error->message : "unknown"));
        g_clear_error(&error);
        sink = gst_element_factory_make("autoaudiosink", nullptr);
    }
    return sink;
}

// True for every URI that is not a local file, else whether the file can be read, asked of
// `readable` if given. The file is opened, not just checked for rights: on a share that stopped
// answering a check may answer at once while the open waits, and the open that waits is better
// here than in the playbin's switch, which holds the playbin while it does.
bool readableFile(const std::string& uri,
                  const std::function<bool(const std::string& path)>& readable) {
    gchar* path = g_filename_from_uri(uri.c_str(), nullptr, nullptr);
    if (!path) return true;
    bool result;
    if (readable) {
        result = readable(path);
    } else {
        const int fd = g_open(path, O_RDONLY | O_CLOEXEC, 0);
        result = fd >= 0;
        if (result) g_close(fd, nullptr);
    }
    g_free(path);
    return result;
}

// Whether a failing element is the stream's source (the file or HTTP reader), as opposed to a
// parser or decoder behind it.
bool isSourceElement(GstObject* element) {
    return element && GST_IS_URI_HANDLER(element) &&
           gst_uri_handler_get_uri_type(GST_URI_HANDLER(element)) == GST_URI_SRC;
}

// What a failed item's local file showed.
struct FileLook {
    bool exists = false;
    bool readable = false;
};

// Looks at the local file of `uri`, asking `readable` if given whether it can be read. On a
// share that stopped answering this lasts as long as the share does.
FileLook lookAtFile(const std::string& uri,
                    const std::function<bool(const std::string& path)>& readable) {
    gchar* path = g_filename_from_uri(uri.c_str(), nullptr, nullptr);
    FileLook look{path && g_access(path, F_OK) == 0, readableFile(uri, readable)};
    g_free(path);
    return look;
}

// Whether the user is told why an item failed by its file, missing or refused: the failure of
// a local file's source, or of its resource.
bool toldByFile(GQuark domain, bool fromSource, const std::string& uri) {
    if (domain != GST_RESOURCE_ERROR && !fromSource) return false;
    gchar* path = g_filename_from_uri(uri.c_str(), nullptr, nullptr);
    const bool local = path != nullptr;
    g_free(path);
    return local;
}

// What the user reads when an item fails, chosen by the element that failed and the error's
// domain and code, and for a failure told by a local file (toldByFile) by what its `file`
// showed. A source fails on reading whatever domain it names: a connection broken or refused
// in its TLS handshake comes as a stream error of the HTTP source, and is a network fault, not
// a decoding one.
std::string describeFailure(GQuark domain, int code, bool fromSource,
                            const std::optional<FileLook>& file) {
    if (domain == GST_RESOURCE_ERROR || fromSource) {
        if (file) {
            if (!file->exists) return "找不到音频文件，可能已被移动或删除";
            if (!file->readable || (domain == GST_RESOURCE_ERROR &&
                                    code == GST_RESOURCE_ERROR_NOT_AUTHORIZED))
                return "没有权限读取音频文件";
            return "无法读取音频文件";
        }
        if (domain == GST_RESOURCE_ERROR && code == GST_RESOURCE_ERROR_NOT_AUTHORIZED)
            return "音源拒绝访问，请稍后重试";
        return "音频流加载失败，请检查网络后重试";
    }
    if (domain == GST_STREAM_ERROR ||
        (domain == GST_CORE_ERROR && code == GST_CORE_ERROR_MISSING_PLUGIN))
        return "无法解码，可能不是可播放的音频";
    return "播放失败，请重试";
}

// Addresses in log lines lose their user info, query and fragment: they may carry keys.
std::string withoutSecrets(std::string_view text) {
    auto isSchemeChar = [](char c) {
        return g_ascii_isalnum(c) || c == '+' || c == '-' || c == '.';
    };
    auto endsAddress = [](char c) {
        return g_ascii_isspace(c) || c == '"' || c == '\'' || c == '<' || c == '>' || c == ',' ||
               c == ')';
    };
    std::string out;
    out.reserve(text.size());
    std::size_t pos = 0;
    while (pos < text.size()) {
        std::size_t mark = text.find("://", pos);
        if (mark == std::string_view::npos) break;
        std::size_t start = mark;
        while (start > pos && isSchemeChar(text[start - 1])) --start;
        std::size_t end = mark + 3;
        while (end < text.size() && !endsAddress(text[end])) ++end;
        out.append(text.substr(pos, mark + 3 - pos));
        std::string_view rest = text.substr(mark + 3, end - mark - 3);
        std::size_t cut = rest.find_first_of("?#");
        std::string_view kept = rest.substr(0, cut);
        std::size_t authorityEnd = std::min(kept.find('/'), kept.size());
        if (std::size_t at = kept.substr(0, authorityEnd).rfind('@'); at != std::string_view::npos)
            kept.remove_prefix(at + 1);
        out.append(kept);
        pos = end;
    }
    out.append(text.substr(pos));
    return out;
}

// Whether a stream's source can jump to another byte; a network stream whose server ignores
// "Range" cannot, and a seek sent to it flushes what was buffered without moving anywhere.
bool canSeek(GstElement* source) {
    GstQuery* query = gst_query_new_seeking(GST_FORMAT_BYTES);
    gboolean seekable = FALSE;
    if (gst_element_query(source, query))
        gst_query_parse_seeking(query, nullptr, &seekable, nullptr, nullptr);
    gst_query_unref(query);
    return seekable;
}

// Whether `element` is the stream read by `source` or what decodes it.
bool ofStream(GstObject* element, GstElement* source) {
    GstObject* stream = gst_object_get_parent(GST_OBJECT(source));
    if (!stream) return false;
    bool inside = element == stream || gst_object_has_as_ancestor(element, stream);
    gst_object_unref(stream);
    return inside;
}

double toSeconds(gint64 nanoseconds) {
    return static_cast<double>(nanoseconds) / GST_SECOND;
}

// Marks a retired playbin; the data's release tells that it is done with.
GQuark teardownQuark() {
    static const GQuark quark = g_quark_from_static_string("velto-teardown");
    return quark;
}

// Marks a group's decoder whose end is watched.
GQuark switchQuark() {
    static const GQuark quark = g_quark_from_static_string("velto-switch");
    return quark;
}

}  // namespace

// What one playbin's callbacks, on streaming threads, share with the player: the player
// itself, cut when the playbin is retired so that a playbin still being torn down (perhaps for
// long, on a source stuck in a read) never touches it again, and the sources it opened.
struct GStreamerQueuePlayer::PlaybinContext {
    std::mutex mutex;
    GStreamerQueuePlayer* owner = nullptr;  // null once the playbin is retired
    GstElement* playbin = nullptr;          // not owned
    std::function<bool(const std::string& path)> fileReadable;  // the player's option
    std::uint64_t epoch = 0;
    // The sources of the current stream and of the one handed over after it, in that order;
    // none once the playbin is retired.
    std::deque<GstElement*> sources;
    // Seeks are sent off the main thread, one after the other, the last one asked for first:
    // a flushing seek waits for the streaming thread, which a stalled read holds. Apart from
    // `mutex`, which streaming threads may hold while they wait.
    struct Seek {
        double rate = 1;
        double target = 0;
        std::uint64_t flush = 0;
    };
    std::mutex seekMutex;
    std::optional<Seek> nextSeek;
    bool sendingSeeks = false;
    // A seek holds the playbin's state until the stream lets it through, which a read stalled on
    // a share may not for long; a state wanted meanwhile is set by the sending thread after it.
    std::optional<GstState> nextState;
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
    // Streams read to their end whose switch to the next group is under way on their own
    // streaming thread. The playbin's switch does not look whether the playbin is being stopped:
    // run over a stop, it starts the group the stop has just put back, and waits on the stop
    // from the very thread the stop waits for. So a retired playbin starts no switch, and its
    // stop waits for one already begun.
    int switching = 0;
    std::condition_variable switched;
    // The playbin is asking for the next stream (a look at its file may hold the ask).
    bool askingForNext = false;
    // Where the data that reached the sink last end, in stream time.
    GstClockTime dataEnd = GST_CLOCK_TIME_NONE;
    // Fires when the current stream's data, all at the sink, have been played: if the next
    // stream has not reached the sink by then, its data come late. Streams started at the sink
    // when it was set.
    GstClockID ranOutWatch = nullptr;
    int streamsWhenWatched = 0;

    void stopWatchingRunOut() {
        if (!ranOutWatch) return;
        gst_clock_id_unschedule(ranOutWatch);
        gst_clock_id_unref(std::exchange(ranOutWatch, nullptr));
    }

    // Has `state` set after the seek on its way, in place of one asked before; none keeps the
    // state as it is. False if no seek is on its way: the state is for the caller to set.
    bool setStateAfterSeeks(std::optional<GstState> state) {
        std::lock_guard lock(seekMutex);
        if (sendingSeeks) nextState = state;
        return sendingSeeks;
    }

    void waitOutSwitches() {
        std::unique_lock lock(mutex);
        switched.wait(lock, [&] { return switching == 0; });
    }

    // Sets a state change of ours, which the hand-over waits for; none is set while the next
    // stream is being set up (false then).
    bool setState(GstElement* element, GstState state) {
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

    ~PlaybinContext() {
        stopWatchingRunOut();
        for (GstElement* source : sources) gst_object_unref(source);
    }
};

// Playbins being stopped off the main thread, by at most maxRetiringThreads threads that take
// them in turn and end when none is left; more would only wait on the same stalled share.
struct GStreamerQueuePlayer::Teardowns {
    std::mutex mutex;
    std::condition_variable done;
    int running = 0;                  // retired playbins not yet finalized
    int threads = 0;                  // threads stopping playbins
    struct Retired {
        GstElement* playbin;
        std::shared_ptr<PlaybinContext> context;
    };
    std::deque<Retired> waiting;  // retired playbins no thread has taken yet
    // Null once the player is being destroyed; threads of the player's own that may outlive it
    // (a look stuck on a stalled share) reach it only through here.
    GStreamerQueuePlayer* owner = nullptr;

    void finish() {
        std::lock_guard lock(mutex);
        --running;
        done.notify_all();
        // Wakes a main queue waiting for tearingDown() to end.
        if (owner) owner->later([] {});
    }

    // A stopping thread's work: every playbin waiting, one after the other.
    void stopWaiting() {
        while (true) {
            Retired retired;
            {
                std::lock_guard lock(mutex);
                if (waiting.empty()) {
                    --threads;
                    return;
                }
                retired = std::move(waiting.front());
                waiting.pop_front();
            }
            retired.context->waitOutSwitches();
            stop(retired.playbin);
        }
    }

    // A stop fails when a stream the playbin opens fails on the way down (its decoder takes
    // the failure of a change it was still in for its own). It is asked again: a playbin freed
    // in another state keeps threads running on what it frees. One that will not stop is left
    // alive rather than crash the program.
    static void stop(GstElement* playbin) {
        constexpr int attempts = 3;
        for (int attempt = 1; attempt <= attempts; ++attempt) {
            if (gst_element_set_state(playbin, GST_STATE_NULL) != GST_STATE_CHANGE_FAILURE) {
                gst_object_unref(playbin);
                return;
            }
            Log::info(logCategory, std::string("stopping ") + GST_ELEMENT_NAME(playbin) +
                                       " failed, attempt " + std::to_string(attempt));
        }
        Log::error(logCategory, std::string(GST_ELEMENT_NAME(playbin)) + " cannot be stopped");
        g_object_set_qdata(G_OBJECT(playbin), teardownQuark(), nullptr);  // counted as done
    }
};

namespace {

using ContextPtr = std::shared_ptr<GStreamerQueuePlayer::PlaybinContext>;

gpointer holdContext(const ContextPtr& context) {
    return new ContextPtr(context);
}

void releaseContext(gpointer data) {
    delete static_cast<ContextPtr*>(data);
}

void releaseContextClosure(gpointer data, GClosure*) {
    releaseContext(data);
}

}  // namespace

struct GStreamerQueuePlayer::Callbacks {
    static GstBusSyncReply onBusMessage(GstBus*, GstMessage* message, gpointer data) {
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
                std::shared_ptr<GstMessage> held(gst_message_ref(message), gst_message_unref);
                self->later([self, epoch, held, ofNextStream] {
                    self->handleMessage(epoch, held.get(), ofNextStream);
                });
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

    // A playbin's first state change makes its source, which opens the file: on a share that
    // stalls, open() waits until the share answers. So it runs here, on a thread of its own.
    static void start(const ContextPtr& context) {
        GstElement* playbin;
        {
            std::lock_guard lock(context->mutex);
            if (!context->owner) return;  // replaced before it started: nothing to stop
            playbin = GST_ELEMENT(gst_object_ref(context->playbin));
        }
        context->setState(playbin, GST_STATE_PAUSED);
        bool replaced;
        {
            std::lock_guard lock(context->mutex);
            auto* self = context->owner;
            replaced = !self;
            if (self) {
                std::uint64_t epoch = context->epoch;
                self->later([self, epoch] { self->started(epoch); });
            }
        }
        // Replaced meanwhile, it may have been stopped before this start: stopped again.
        if (replaced) {
            context->waitOutSwitches();
            gst_element_set_state(playbin, GST_STATE_NULL);
        }
        gst_object_unref(playbin);
    }

    static void sendSeeks(const ContextPtr& context) {
        while (true) {
            PlaybinContext::Seek seek;
            std::optional<GstState> state;  // asked after the seek before, so set before the next
            {
                std::lock_guard lock(context->seekMutex);
                state = std::exchange(context->nextState, std::nullopt);
                if (!state && !context->nextSeek) {
                    context->sendingSeeks = false;
                    return;
                }
                if (!state) seek = *std::exchange(context->nextSeek, std::nullopt);
            }
            GstElement* playbin;
            {
                std::lock_guard lock(context->mutex);
                if (!context->owner) continue;  // replaced: nothing to move
                playbin = GST_ELEMENT(gst_object_ref(context->playbin));
            }
            if (state) {
                context->setState(playbin, *state);
                gst_object_unref(playbin);
                continue;
            }
            context->seekGiven.store(seek.flush);
            auto flags = static_cast<GstSeekFlags>(GST_SEEK_FLAG_FLUSH | GST_SEEK_FLAG_ACCURATE);
            bool sent = gst_element_seek(playbin, seek.rate, GST_FORMAT_TIME, flags,
                                         GST_SEEK_TYPE_SET,
                                         static_cast<gint64>(seek.target * GST_SECOND),
                                         GST_SEEK_TYPE_NONE, GST_CLOCK_TIME_NONE);
            gst_object_unref(playbin);
            std::lock_guard lock(context->mutex);
            auto* self = context->owner;
            if (!self) continue;
            {
                // The stream's end is reached anew after the flush; the hand-over is asked for
                // again, unless another seek is on its way.
                std::lock_guard hold(self->handOverMutex_);
                if (self->seeksSent_ == seek.flush) self->holdHandOver_.store(false);
            }
            if (!sent) {
                std::uint64_t epoch = context->epoch;
                self->later([self, epoch, flush = seek.flush] {
                    if (epoch == self->epoch_ && self->seek_ && self->seek_->flush == flush)
                        self->finishSeek(false);
                });
            }
        }
    }

    static void onSourceSetup(GstElement*, GstElement* source, gpointer data) {
        PlaybinContext& context = **static_cast<ContextPtr*>(data);
        std::lock_guard locked(context.mutex);
        auto* self = context.owner;
        if (!self) return;
        context.sources.push_back(GST_ELEMENT(gst_object_ref(source)));
        if (!std::exchange(context.openingNext, false)) return;
        // The next stream has its address: a state held back meanwhile is set now.
        std::uint64_t epoch = context.epoch;
        self->later([self, epoch] {
            if (epoch == self->epoch_) self->settleOnWantedState();
        });
    }

    // Each group's decoder, as the playbin adds it: its end is watched before and after the
    // playbin's own handling of it, which switches to the next group.
    static void onElementSetup(GstElement*, GstElement* element, gpointer data) {
        if (std::string_view(G_OBJECT_TYPE_NAME(element)) != "GstURIDecodeBin") return;
        // A group's decoder is added again each time the group is reused.
        if (g_object_get_qdata(G_OBJECT(element), switchQuark())) return;
        g_object_set_qdata(G_OBJECT(element), switchQuark(), element);
        const ContextPtr& context = *static_cast<ContextPtr*>(data);
        g_signal_connect_data(element, "drained", G_CALLBACK(&Callbacks::onSwitchBegins),
                              holdContext(context), &releaseContextClosure, GConnectFlags(0));
        g_signal_connect_data(element, "drained", G_CALLBACK(&Callbacks::onSwitchEnded),
                              holdContext(context), &releaseContextClosure, G_CONNECT_AFTER);
    }

    static void onSwitchBegins(GstElement* decoder, gpointer data) {
        PlaybinContext& context = **static_cast<ContextPtr*>(data);
        std::lock_guard locked(context.mutex);
        if (context.owner) {
            ++context.switching;
        } else {
            g_signal_stop_emission_by_name(decoder, "drained");
        }
    }

    static void onSwitchEnded(GstElement*, gpointer data) {
        PlaybinContext& context = **static_cast<ContextPtr*>(data);
        {
            std::lock_guard locked(context.mutex);
            --context.switching;
        }
        context.switched.notify_all();
    }

    static void onAboutToFinish(GstElement* playbin, gpointer data) {
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
        // The next item's file is looked at with no lock held: on a share that stopped
        // answering the look lasts as long as the share does, and the main thread takes these
        // locks at every pause, seek and change of the queue. What it found holds only for the
        // item it looked at, so it is asked again if another one came behind the current.
        PlayerItemPtr looked;
        bool lookedReadable = false;
        std::uint64_t seeksBeforeLook = 0;
        while (true) {
            locked.lock();
            auto* self = context.owner;
            if (!self) return;
            std::unique_lock handOver(self->handOverMutex_);
            // A joined stream would start at normal speed, so at another rate the next item is
            // opened on its own after the end, where the rate is applied before it plays. A
            // seek on its way flushes the end this call is for, unless its flush has passed:
            // then this is the end the seek leads to, and the seek is no reason to wait. A
            // seek sent during the look flushed the end this call was for; the end reached
            // after it asks again.
            const bool seekAhead = self->holdHandOver_ &&
                                   (self->seekUnsent_ || self->seekFlushed_ != self->seeksSent_);
            if (!self->handOverCandidate_ || self->handedOver_ || self->rate_ != 1.0 ||
                seekAhead || (looked && self->seeksSent_ != seeksBeforeLook)) {
                return;
            }
            PlayerItemPtr next = self->handOverCandidate_;
            if (next == looked) {
                // A file that cannot be opened would stall the playbin's switch; let the
                // current stream end instead and open the next one on its own, where it fails
                // cleanly.
                if (!lookedReadable) return;
                g_object_set(playbin, "uri", next->uri().c_str(), nullptr);
                if (next->preferredForwardBuffer() > 0) {
                    g_object_set(
                        playbin, "buffer-duration",
                        static_cast<gint64>(next->preferredForwardBuffer() * GST_SECOND), nullptr);
                }
                self->handedOver_ = next->id();
                break;
            }
            seeksBeforeLook = self->seeksSent_;
            handOver.unlock();
            locked.unlock();
            lookedReadable = readableFile(next->uri(), context.fileReadable);
            looked = std::move(next);
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

    // Called with the context locked, once the sink has had all of the current stream: watches
    // the playbin's clock for the moment its data have been played.
    static void watchRunOut(const ContextPtr& context, GstPad* pad) {
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
        gst_clock_id_wait_async(context->ranOutWatch, &Callbacks::onRunOut,
                                new std::pair<ContextPtr, GstClockTime>(context, end),
                                [](gpointer data) {
                                    delete static_cast<std::pair<ContextPtr, GstClockTime>*>(data);
                                });
    }

    static gboolean onRunOut(GstClock*, GstClockTime, GstClockID id, gpointer data) {
        auto& [context, end] = *static_cast<std::pair<ContextPtr, GstClockTime>*>(data);
        std::lock_guard locked(context->mutex);
        if (context->ranOutWatch != id) return TRUE;  // stopped meanwhile
        gst_clock_id_unref(std::exchange(context->ranOutWatch, nullptr));
        auto* self = context->owner;
        // The next stream started at the sink in time.
        if (!self || context->sinkStreams != context->streamsWhenWatched) return TRUE;
        self->later([self, epoch = context->epoch, end = end] {
            if (epoch == self->epoch_) self->currentRanOut(end);
        });
        return TRUE;
    }

    // Keeps a handed-over stream that left the queue from being heard: it starts when the
    // current one ends, and the main thread reopens the playbin with the item queued instead.
    // So is a retired playbin until it is stopped. Only data is dropped: the sink pad keeps the
    // stream's events, without which the data after them is not the sink's to take.
    static GstPadProbeReturn onSinkData(GstPad* pad, GstPadProbeInfo* info, gpointer data) {
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
        auto land = [self] {
            const std::uint64_t flush = self->seekFlushed_.load();
            if (self->seekLanded_.exchange(flush) == flush) return;
            self->later([self, flush] {
                if (self->seek_ && self->seek_->issued && self->seek_->flush == flush)
                    self->finishSeek(true);
            });
        };
        if (event) {
            const GstEventType type = GST_EVENT_TYPE(GST_PAD_PROBE_INFO_EVENT(info));
            if (type == GST_EVENT_FLUSH_STOP) {
                self->seekFlushed_.store(context.seekGiven.load());
                context.stopWatchingRunOut();
                context.dataEnd = GST_CLOCK_TIME_NONE;
            }
            if (type == GST_EVENT_GAP || type == GST_EVENT_EOS) land();
            if (type == GST_EVENT_STREAM_START) {
                context.streamDone = false;
                context.dataEnd = GST_CLOCK_TIME_NONE;
                if (++context.sinkStreams == self->droppedStream_) self->silenced_.store(true);
            } else if (type == GST_EVENT_STREAM_GROUP_DONE) {
                context.streamDone = true;
                std::uint64_t epoch = context.epoch;
                self->later([self, epoch] {
                    if (epoch == self->epoch_) self->endBeforeFailedHandOver();
                });
                watchRunOut(*static_cast<ContextPtr*>(data), pad);
            }
            return GST_PAD_PROBE_OK;
        }
        if (self->silenced_) return GST_PAD_PROBE_DROP;
        land();
        GstBuffer* last = info->type & GST_PAD_PROBE_TYPE_BUFFER
                              ? GST_PAD_PROBE_INFO_BUFFER(info)
                              : gst_buffer_list_get(GST_PAD_PROBE_INFO_BUFFER_LIST(info),
                                                    gst_buffer_list_length(
                                                        GST_PAD_PROBE_INFO_BUFFER_LIST(info)) -
                                                        1);
        if (last && GST_BUFFER_PTS_IS_VALID(last)) {
            context.dataEnd = GST_BUFFER_PTS(last) +
                              (GST_BUFFER_DURATION_IS_VALID(last) ? GST_BUFFER_DURATION(last) : 0);
        }
        if (!self->options_.sinkBufferProbe) return GST_PAD_PROBE_OK;
        GstAudioInfo audio;
        GstCaps* caps = gst_pad_get_current_caps(pad);
        bool known = caps && gst_audio_info_from_caps(&audio, caps);
        if (caps) gst_caps_unref(caps);
        if (!known || GST_AUDIO_INFO_BPF(&audio) == 0) return GST_PAD_PROBE_OK;
        SinkBuffer report;
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
        self->options_.sinkBufferProbe(report);
        return GST_PAD_PROBE_OK;
    }
};

GStreamerQueuePlayer::GStreamerQueuePlayer(MainQueue& mainQueue, Options options)
    : QueuePlayer(mainQueue),
      options_(std::move(options)),
      teardowns_(std::make_shared<Teardowns>()) {
    teardowns_->owner = this;
    ensureGStreamer();
    if (GstElementFactory* factory = gst_element_factory_find("playbin")) {
        gst_object_unref(factory);
    } else {
        Log::error(logCategory, "playbin is missing; playback is unavailable");
    }
}

GStreamerQueuePlayer::~GStreamerQueuePlayer() {
    retirePipeline();
    // A teardown ends at once unless a source is stuck in a read; such a one is left behind
    // rather than keeping the program from exiting.
    std::unique_lock lock(teardowns_->mutex);
    teardowns_->owner = nullptr;
    teardowns_->done.wait_for(lock, std::chrono::seconds(2),
                              [&] { return teardowns_->running == 0; });
}

// A fresh playbin for each item opened: the one before may be stuck on its source, and is
// stopped off the main thread (retirePipeline) instead of being reused.
bool GStreamerQueuePlayer::makePipeline() {
    GstElement* playbin = gst_element_factory_make("playbin", nullptr);
    if (!playbin) return false;
    gst_object_ref_sink(playbin);
    context_ = std::make_shared<PlaybinContext>();
    context_->owner = this;
    context_->playbin = playbin;
    context_->epoch = epoch_;
    context_->fileReadable = options_.fileReadable;
    GstElement* sink = makeSink(describeSink(options_.audioSink));
    GstElement* volume = nullptr;
    if (sink) {
        if (GstPad* pad = gst_element_get_static_pad(sink, "sink")) {
            gst_pad_add_probe(pad,
                              static_cast<GstPadProbeType>(GST_PAD_PROBE_TYPE_BUFFER |
                                                           GST_PAD_PROBE_TYPE_BUFFER_LIST |
                                                           GST_PAD_PROBE_TYPE_EVENT_DOWNSTREAM |
                                                           GST_PAD_PROBE_TYPE_EVENT_FLUSH),
                              &Callbacks::onSinkData, holdContext(context_), &releaseContext);
            gst_object_unref(pad);
        }
        g_object_set(playbin, "audio-sink", withVolume(sink, &volume), nullptr);
    }
    if (volume) {
        g_object_set(playbin, "flags", playFlagAudio, nullptr);
        g_object_set(volume, "volume", volume_, nullptr);
    } else {
        g_object_set(playbin, "flags", playFlagAudio | playFlagSoftVolume, "volume", volume_,
                     nullptr);
    }
    g_signal_connect_data(playbin, "about-to-finish", G_CALLBACK(&Callbacks::onAboutToFinish),
                          holdContext(context_), &releaseContextClosure, GConnectFlags(0));
    g_signal_connect_data(playbin, "source-setup", G_CALLBACK(&Callbacks::onSourceSetup),
                          holdContext(context_), &releaseContextClosure, GConnectFlags(0));
    g_signal_connect_data(playbin, "element-setup", G_CALLBACK(&Callbacks::onElementSetup),
                          holdContext(context_), &releaseContextClosure, GConnectFlags(0));
    GstBus* bus = gst_element_get_bus(playbin);
    gst_bus_set_sync_handler(bus, &Callbacks::onBusMessage, holdContext(context_), &releaseContext);
    gst_object_unref(bus);
    playbin_ = playbin;
    volumeControl_ = volume ? volume : playbin;
    return true;
}

// Cuts the playbin off the player and has it stopped off the main thread: stopping waits for
// its streaming threads, and one blocked in a read of a stalled file would hold the caller.
void GStreamerQueuePlayer::retirePipeline() {
    if (!playbin_) return;
    {
        std::lock_guard lock(context_->mutex);
        context_->owner = nullptr;
        context_->stopWatchingRunOut();
        // Whoever still holds the context (a thread it started) must not keep the playbin's
        // sources alive after the playbin.
        for (GstElement* source : context_->sources) gst_object_unref(source);
        context_->sources.clear();
    }
    auto context = std::move(context_);
    GstElement* playbin = std::exchange(playbin_, nullptr);
    volumeControl_ = nullptr;
    // Done when the playbin is finalized, which may be after our unref: a state change of its
    // own can still hold it on one of GStreamer's threads.
    g_object_set_qdata_full(G_OBJECT(playbin), teardownQuark(),
                            new std::shared_ptr<Teardowns>(teardowns_), [](gpointer data) {
                                auto* teardowns = static_cast<std::shared_ptr<Teardowns>*>(data);
                                (*teardowns)->finish();
                                delete teardowns;
                            });
    bool needsThread;
    {
        std::lock_guard lock(teardowns_->mutex);
        ++teardowns_->running;
        teardowns_->waiting.push_back({playbin, std::move(context)});
        needsThread = teardowns_->threads < maxRetiringThreads;
        if (needsThread) ++teardowns_->threads;
    }
    // Without a thread it is stopped here, whatever the wait: a playbin left running would play
    // on unheard.
    if (needsThread) offMainThread([teardowns = teardowns_] { teardowns->stopWaiting(); });
}

bool GStreamerQueuePlayer::tearingDown() const {
    std::lock_guard lock(teardowns_->mutex);
    return teardowns_->running > 0;
}

std::vector<PlayerItemPtr> GStreamerQueuePlayer::items() const {
    return {items_.begin(), items_.end()};
}

PlayerItemPtr GStreamerQueuePlayer::currentItem() const {
    return items_.empty() ? nullptr : items_.front();
}

bool GStreamerQueuePlayer::insert(PlayerItemPtr item, const PlayerItemPtr& after) {
    bool becomesCurrent = items_.empty();
    if (!insertInto(items_, std::move(item), after)) return false;
    handOverNext();
    if (becomesCurrent) {
        openCurrent();
        later([this, current = items_.front()] { emitCurrentItemChanged(current); });
    }
    return true;
}

void GStreamerQueuePlayer::remove(const PlayerItemPtr& item) {
    auto it = std::find(items_.begin(), items_.end(), item);
    if (it == items_.end()) return;
    if (it == items_.begin()) {
        advanceToNextItem();
        return;
    }
    items_.erase(it);
    handOverNext();
}

void GStreamerQueuePlayer::removeAllItems() {
    if (items_.empty()) return;
    items_.clear();
    handOverNext();
    openCurrent();
    later([this] { emitCurrentItemChanged(nullptr); });
}

void GStreamerQueuePlayer::advanceToNextItem() {
    if (items_.empty()) return;
    items_.pop_front();
    handOverNext();
    openCurrent();
    later([this, current = currentItem()] { emitCurrentItemChanged(current); });
}

void GStreamerQueuePlayer::play() {
    wantsToPlay_ = true;
    applyTargetState();
    updateTimeControl();
}

void GStreamerQueuePlayer::pause() {
    wantsToPlay_ = false;
    applyTargetState();
    updateTimeControl();
}

void GStreamerQueuePlayer::setRate(double rate) {
    if (!std::isfinite(rate) || rate <= 0 || rate == rate_) return;
    rate_.store(rate);
    // A rate is a property of the playing segment, so it takes a seek to where we are.
    if (prerolled_) issueSeek(seek_ ? seek_->target : currentTime());
}

void GStreamerQueuePlayer::setVolume(double volume) {
    if (!std::isfinite(volume)) return;
    volume_ = std::clamp(volume, 0.0, 1.0);
    if (volumeControl_) g_object_set(volumeControl_, "volume", volume_, nullptr);
}

double GStreamerQueuePlayer::currentTime() const {
    if (items_.empty()) return 0;
    if (seek_) return seek_->target;
    gint64 position = 0;
    if (prerolled_ && playbin_ && !awaitingNext_ &&
        gst_element_query_position(playbin_, GST_FORMAT_TIME, &position))
        lastPosition_ = std::max(0.0, toSeconds(position));
    return lastPosition_;
}

void GStreamerQueuePlayer::seek(double seconds, std::function<void(bool)> completion) {
    auto current = currentItem();
    if (!current || current->status() == PlayerItem::Status::failed || !playbin_) {
        if (completion) later([completion] { completion(false); });
        return;
    }
    finishSeek(false);  // a new seek interrupts the one under way
    double target = std::isfinite(seconds) ? std::max(0.0, seconds) : 0.0;
    seek_ = PendingSeek{target, std::move(completion), false};
    seekUnsent_.store(true);
    holdHandOver_.store(true);
    if (prerolled_) issueSeek(target);
}

// Retires the playbin and forgets what it played: messages of the old stream are dropped by
// the new epoch, and no hand-over is pending.
void GStreamerQueuePlayer::stopPipeline() {
    retirePipeline();
    ++epoch_;
    {
        std::lock_guard lock(handOverMutex_);
        handedOver_.reset();
    }
    handOverFailure_.reset();
    droppedStream_.store(0);
    silenced_.store(false);
    prerolled_ = false;
    seekable_ = false;
    playingState_ = false;
    buffering_ = false;
    awaitingNext_ = false;
    starting_ = false;
}

// Plays the current item from its start on a fresh playbin, dropping whatever played before.
void GStreamerQueuePlayer::openCurrent(bool keepSeek) {
    stopPipeline();
    streamStarts_ = 0;
    currentStream_ = 1;
    lastPosition_ = 0;
    if (keepSeek && seek_) {
        seek_->issued = false;
        seekUnsent_.store(true);
    } else {
        finishSeek(false);
    }
    auto current = currentItem();
    if (current && current->status() != PlayerItem::Status::failed && makePipeline()) {
        g_object_set(playbin_, "uri", current->uri().c_str(), nullptr);
        if (current->preferredForwardBuffer() > 0) {
            g_object_set(playbin_, "buffer-duration",
                         static_cast<gint64>(current->preferredForwardBuffer() * GST_SECOND),
                         nullptr);
        }
        applyTargetState();
    }
    updateTimeControl();
}

void GStreamerQueuePlayer::applyTargetState() {
    auto current = currentItem();
    if (!playbin_ || !current || current->status() == PlayerItem::Status::failed) return;
    bool run = wantsToPlay_ && !buffering_ && !awaitingNext_;
    setPipelineState(run ? GST_STATE_PLAYING : GST_STATE_PAUSED);
}

// A state set while the playbin still moves to another (prerolling, then going on to play, or
// winning back the state a flushing seek lost) can be lost: the playbin stays marked busy and
// never moves again. So a state is set only while the playbin rests, and whenever it comes to
// rest, by whichever change (ours, a seek's, one going on by itself after a preroll), in
// another state than the one wanted, the wanted one is set. Whether it rests is asked of the
// playbin itself: a message at rest may belong to another change than the one under way.
void GStreamerQueuePlayer::setPipelineState(int state) {
    wantedState_ = state;
    settleOnWantedState();
}

void GStreamerQueuePlayer::settleOnWantedState() {
    if (!playbin_ || starting_) return;
    GstState state = GST_STATE_VOID_PENDING;
    GstState pending = GST_STATE_VOID_PENDING;
    // Without waiting: a failure is reported on the bus, and a change under way ends with a
    // state message that brings us back here.
    GstStateChangeReturn result = gst_element_get_state(playbin_, &state, &pending, 0);
    if (result == GST_STATE_CHANGE_FAILURE) return;
    // A change of the playbin waits for the stream handed over to open, which may take until
    // the current one has ended; meanwhile the playbin passes the state it is going to on to
    // the rest of its elements over and over, so one set now takes effect at once, and a pause
    // is not held back until the end of the song.
    const bool nextOpening = pending != GST_STATE_VOID_PENDING && state >= GST_STATE_PAUSED &&
                             nextStreamOpening();
    if (pending != GST_STATE_VOID_PENDING && !nextOpening) return;
    if ((nextOpening ? pending : state) == wantedState_) {
        context_->setStateAfterSeeks(std::nullopt);
        return;
    }
    if (state == GST_STATE_NULL) {
        startPipeline();
        return;
    }
    if (context_->setStateAfterSeeks(static_cast<GstState>(wantedState_))) return;
    // Set once the next stream's source is made, if it is being set up.
    if (!context_->setState(playbin_, static_cast<GstState>(wantedState_))) return;
    followStateWhileNextOpens();
}

// While the stream handed over opens, the playbin tells it is on its way to a state its sink is
// already in (see settleOnWantedState); a message of it may be older than a change of ours.
void GStreamerQueuePlayer::followStateWhileNextOpens() {
    if (!playbin_) return;
    GstState state = GST_STATE_VOID_PENDING;
    GstState pending = GST_STATE_VOID_PENDING;
    if (gst_element_get_state(playbin_, &state, &pending, 0) == GST_STATE_CHANGE_ASYNC &&
        pending != GST_STATE_VOID_PENDING && nextStreamOpening())
        playingState_ = pending == GST_STATE_PLAYING;
}

// Whether the stream handed over is still opening (reading its start, to find what it is).
bool GStreamerQueuePlayer::nextStreamOpening() {
    GstElement* stream = nullptr;
    {
        std::lock_guard lock(context_->mutex);
        if (context_->sources.size() > 1)
            stream = GST_ELEMENT(gst_object_get_parent(GST_OBJECT(context_->sources.back())));
    }
    if (!stream) return false;
    bool opening = gst_element_get_state(stream, nullptr, nullptr, 0) == GST_STATE_CHANGE_ASYNC;
    gst_object_unref(stream);
    return opening;
}

// Prerolls the fresh playbin off the main thread (see Callbacks::start); the wanted state is
// set once it is back. Not before the turn that opened it is over: a short song is read to its
// end while it prerolls, and asks for the next one then, which the caller may queue right after.
void GStreamerQueuePlayer::startPipeline() {
    starting_ = true;
    later([this, epoch = epoch_] {
        if (epoch == epoch_) offMainThread([context = context_] { Callbacks::start(context); });
    });
}

// Runs `work` on a thread of its own, or here when none can be had.
void GStreamerQueuePlayer::offMainThread(std::function<void()> work) {
    try {
        if (options_.startThread)
            options_.startThread(work);
        else
            std::thread(work).detach();
    } catch (const std::exception& error) {
        Log::error(logCategory, std::string("no thread for a playbin: ") + error.what());
        work();
    }
}

void GStreamerQueuePlayer::started(std::uint64_t epoch) {
    if (epoch != epoch_) return;
    starting_ = false;
    settleOnWantedState();
}

void GStreamerQueuePlayer::updateTimeControl() {
    auto current = currentItem();
    TimeControlStatus status = TimeControlStatus::paused;
    if (wantsToPlay_) {
        bool sounding = current && current->status() == PlayerItem::Status::readyToPlay &&
                        playingState_ && !buffering_;
        status =
            sounding ? TimeControlStatus::playing : TimeControlStatus::waitingToPlayAtSpecifiedRate;
    }
    if (status == timeControl_) return;
    timeControl_ = status;
    later([this, status] { emitTimeControlStatusChanged(status); });
}

// Called whenever the queue changes, before the playbin is (re)started: the playbin may ask for
// the next item as soon as it runs, and must not be handed the one that just became current.
void GStreamerQueuePlayer::handOverNext() {
    std::lock_guard lock(handOverMutex_);
    handOverCandidate_ = items_.size() > nextIndex() ? items_[nextIndex()] : nullptr;
    bool dropped =
        handedOver_ && (!handOverCandidate_ || handOverCandidate_->id() != *handedOver_);
    // The stream handed over follows the current one; the current one's own start may not have
    // reached the sink yet.
    droppedStream_.store(dropped ? currentStream_ + 1 : 0);
}

// The current item reached its end. The next one is `reopened` from its start, or already
// `playing` gaplessly, or `broken`: handed over but failing, which the caller reports, or
// `awaiting` its data, handed over (or about to be) but not come when the current one's had
// been played. Once awaited, the next one goes on as one of the others, the end told already.
void GStreamerQueuePlayer::finishCurrent(Continuation next) {
    // Ended already when its data ran out.
    const bool ended = std::exchange(awaitingNext_, next == Continuation::awaiting);
    if (!ended) {
        auto finished = currentItem();
        if (!finished) return;
        finishSeek(false);
        items_.pop_front();
        later([this, finished] { emitPlayedToEnd(finished); });
    }
    handOverNext();
    auto current = currentItem();
    if (next == Continuation::awaiting) {
        lastPosition_ = 0;
        applyTargetState();
    }
    if (next == Continuation::playing && context_) {
        ++currentStream_;
        {
            std::lock_guard lock(context_->mutex);
            if (!context_->sources.empty()) {
                gst_object_unref(context_->sources.front());
                context_->sources.pop_front();
            }
        }
        seekable_ = currentSourceCanSeek();
    }
    if (next == Continuation::playing && current) {
        lastPosition_ = 0;
        if (current->status() != PlayerItem::Status::readyToPlay) {
            current->setStatus(PlayerItem::Status::readyToPlay);
            later([this, current] { emitItemStatusChanged(current); });
        }
        queryDuration();
        // Its data play from where the stream before ran out, however long they took.
        if (ended && playbin_) {
            const GstClockTime paused = gst_element_get_start_time(playbin_);
            if (GST_CLOCK_TIME_IS_VALID(paused) && paused > ranOutAt_)
                gst_element_set_start_time(playbin_, ranOutAt_);
            applyTargetState();
        }
    } else if (next == Continuation::reopened) {
        openCurrent();
    }
    if (!ended) later([this, current] { emitCurrentItemChanged(current); });
    updateTimeControl();
}

void GStreamerQueuePlayer::currentRanOut(std::uint64_t end) {
    if (awaitingNext_ || items_.size() < 2 || !playbin_ || !playingState_ || handOverFailure_)
        return;
    bool asking;
    {
        std::lock_guard lock(context_->mutex);
        asking = context_->askingForNext;
    }
    std::optional<PlayerItem::Id> handedOver;
    {
        std::lock_guard lock(handOverMutex_);
        handedOver = handedOver_;
    }
    // Only a stream on its way is waited for: without one the current stream ends, and the next
    // item opens on its own.
    const bool coming = handedOver ? *handedOver == items_[1]->id() && droppedStream_ == 0 : asking;
    if (!coming) return;
    ranOutAt_ = end;
    finishCurrent(Continuation::awaiting);
}

void GStreamerQueuePlayer::failCurrent(GQuark domain, int code, const std::string& original,
                                       bool fromSource) {
    auto current = currentItem();
    if (!current) return;
    const bool wasReady = current->status() == PlayerItem::Status::readyToPlay;
    Log::error(logCategory,
               withoutSecrets("item " + std::to_string(current->id()) + " (" + current->uri() +
                              ") failed: " + original + " [" + g_quark_to_string(domain) + " " +
                              std::to_string(code) + "]"));
    // The playbin cannot go on after an error; retire it until the queue changes.
    stopPipeline();
    finishSeek(false);
    auto fail = [this, current, wasReady, epoch = epoch_](const std::string& message) {
        if (epoch != epoch_) return;  // the item was left meanwhile
        current->setStatus(PlayerItem::Status::failed, message);
        later([this, current] { emitItemStatusChanged(current); });
        if (wasReady) later([this, current, message] { emitFailedToPlayToEnd(current, message); });
        updateTimeControl();
    };
    if (!toldByFile(domain, fromSource, current->uri())) {
        fail(describeFailure(domain, code, fromSource, std::nullopt));
        return;
    }
    // Not looked at here: on a share that stopped answering the look lasts as long as the share
    // does, and would hold every pause, seek and skip meanwhile.
    updateTimeControl();
    offMainThread([teardowns = teardowns_, uri = current->uri(),
                   readable = options_.fileReadable, domain, code, fromSource, fail] {
        std::string message = describeFailure(domain, code, fromSource, lookAtFile(uri, readable));
        std::lock_guard lock(teardowns->mutex);
        if (teardowns->owner) teardowns->owner->later([fail, message] { fail(message); });
    });
}

// After the stream handed over failed: the current item ends, and the failure is the next
// item's if that stream is still the one queued behind it.
void GStreamerQueuePlayer::endBeforeFailedHandOver() {
    if (!handOverFailure_) return;
    Failure failure = std::move(*handOverFailure_);
    handOverFailure_.reset();
    std::optional<PlayerItem::Id> handedOver;
    {
        std::lock_guard lock(handOverMutex_);
        handedOver = handedOver_;
    }
    if (handedOver && items_.size() > nextIndex() && *handedOver == items_[nextIndex()]->id()) {
        finishCurrent(Continuation::broken);
        failCurrent(failure.domain, failure.code, failure.message, failure.fromSource);
    } else {
        // The failing stream was dequeued meanwhile: go on with what is queued now.
        finishCurrent(Continuation::reopened);
    }
}

void GStreamerQueuePlayer::issueSeek(double target) {
    if (!seekable_) {
        // Neither the position nor the rate can change; the stream plays on as it is.
        finishSeek(false);
        return;
    }
    holdHandOver_.store(true);
    bool handedOver;
    {
        std::lock_guard lock(handOverMutex_);
        handedOver = handedOver_.has_value();
    }
    if (handedOver || awaitingNext_) {
        // A flushing seek now would jump to the stream already handed over; reopen this one
        // and seek once it is ready. The hold keeps the hand-over until the seek is sent.
        if (!seek_) seek_ = PendingSeek{target, {}, false};
        openCurrent(true);
        return;
    }
    // Counted before it is sent: its flush may reach the sink before the call returns.
    std::uint64_t flush;
    {
        std::lock_guard lock(handOverMutex_);
        flush = ++seeksSent_;
        seekUnsent_.store(false);
    }
    if (seek_) {
        seek_->issued = true;
        seek_->flush = flush;
    }
    bool startSending;
    {
        std::lock_guard lock(context_->seekMutex);
        context_->nextSeek = PlaybinContext::Seek{rate_, target, flush};
        startSending = !std::exchange(context_->sendingSeeks, true);
    }
    if (startSending) offMainThread([context = context_] { Callbacks::sendSeeks(context); });
}

void GStreamerQueuePlayer::finishSeek(bool finished) {
    holdHandOver_.store(false);
    seekUnsent_.store(false);
    if (!seek_) return;
    auto completion = std::move(seek_->completion);
    if (finished) lastPosition_ = seek_->target;
    seek_.reset();
    if (completion) later([completion, finished] { completion(finished); });
}

bool GStreamerQueuePlayer::currentSourceCanSeek() {
    if (auto current = currentItem(); current && unseekableUri_ == current->uri()) return false;
    GstElement* source = nullptr;
    {
        std::lock_guard lock(context_->mutex);
        if (!context_->sources.empty())
            source = GST_ELEMENT(gst_object_ref(context_->sources.front()));
    }
    if (!source) return false;
    bool seekable = canSeek(source);
    gst_object_unref(source);
    return seekable;
}

void GStreamerQueuePlayer::queryDuration() {
    auto current = currentItem();
    gint64 duration = 0;
    if (current && playbin_ && gst_element_query_duration(playbin_, GST_FORMAT_TIME, &duration) &&
        duration > 0) {
        current->setDuration(toSeconds(duration));
    }
}

void GStreamerQueuePlayer::handleMessage(std::uint64_t epoch, GstMessage* message,
                                         bool ofNextStream) {
    if (epoch != epoch_ || items_.empty()) return;
    auto current = currentItem();
    switch (GST_MESSAGE_TYPE(message)) {
        case GST_MESSAGE_ERROR: {
            GError* error = nullptr;
            gchar* debug = nullptr;
            gst_message_parse_error(message, &error, &debug);
            std::string text = error ? error->message : "playback error";
            GQuark domain = error ? error->domain : 0;
            int code = error ? error->code : 0;
            bool fromSource = isSourceElement(GST_MESSAGE_SRC(message));
            if (debug) Log::debug(logCategory, withoutSecrets(debug));
            g_clear_error(&error);
            g_free(debug);
            std::optional<PlayerItem::Id> handedOver;
            {
                std::lock_guard lock(handOverMutex_);
                handedOver = handedOver_;
            }
            // A server that announces no ranges but a length seems seekable, and answers a seek
            // with the whole stream, which its source takes as a failure: the song starts again
            // and is not sought any more. The failing source tells whose seek it was: the
            // current stream's, or that of a song already ended, which changes nothing.
            if (fromSource && domain == GST_RESOURCE_ERROR && code == GST_RESOURCE_ERROR_SEEK) {
                bool known;
                bool ofCurrentStream;
                {
                    std::lock_guard lock(context_->mutex);
                    auto& sources = context_->sources;
                    auto failing = std::find(sources.begin(), sources.end(),
                                             GST_ELEMENT(GST_MESSAGE_SRC(message)));
                    known = failing != sources.end();
                    ofCurrentStream = failing == sources.begin() && known;
                }
                if (!known) break;
                if (ofCurrentStream && unseekableUri_ != current->uri()) {
                    unseekableUri_ = current->uri();
                    openCurrent();
                    break;
                }
            }
            // An error of the stream handed over: the playbin still plays the current one out
            // but holds back its end, so the current item ends once it has reached the sink.
            if (handedOver && ofNextStream) {
                if (!handOverFailure_) handOverFailure_ = Failure{domain, code, text, fromSource};
                bool playedOut;
                {
                    std::lock_guard lock(context_->mutex);
                    playedOut = context_->streamDone;
                }
                if (playedOut) endBeforeFailedHandOver();
                break;
            }
            // Any other error after the hand-over stops both streams; the current one is taken
            // as ended, the next one as failed.
            if (handedOver) {
                handOverFailure_ = Failure{domain, code, text, fromSource};
                endBeforeFailedHandOver();
                break;
            }
            failCurrent(domain, code, text, fromSource);
            break;
        }
        case GST_MESSAGE_EOS:
            finishCurrent(Continuation::reopened);
            break;
        case GST_MESSAGE_STREAM_START: {
            if (++streamStarts_ == 1) break;
            std::optional<PlayerItem::Id> started;
            {
                std::lock_guard lock(handOverMutex_);
                started.swap(handedOver_);
            }
            if (items_.size() > nextIndex() && started == items_[nextIndex()]->id()) {
                finishCurrent(Continuation::playing);
            } else {
                // The stream handed over was dequeued meanwhile: go on with what is queued now.
                finishCurrent(Continuation::reopened);
            }
            break;
        }
        case GST_MESSAGE_ASYNC_DONE:
            if (!prerolled_) {
                prerolled_ = true;
                seekable_ = currentSourceCanSeek();
                queryDuration();
                if (current->status() != PlayerItem::Status::readyToPlay) {
                    current->setStatus(PlayerItem::Status::readyToPlay);
                    later([this, current] { emitItemStatusChanged(current); });
                }
                if (seek_) {
                    issueSeek(seek_->target);
                } else if (rate_ != 1.0) {
                    issueSeek(0);
                }
            }
            updateTimeControl();
            break;
        case GST_MESSAGE_STATE_CHANGED: {
            GstState state;
            GstState pending;
            gst_message_parse_state_changed(message, nullptr, &state, &pending);
            playingState_ = state == GST_STATE_PLAYING;
            if (pending == GST_STATE_VOID_PENDING) settleOnWantedState();
            followStateWhileNextOpens();
            updateTimeControl();
            break;
        }
        case GST_MESSAGE_BUFFERING: {
            gint percent = 100;
            gst_message_parse_buffering(message, &percent);
            bool buffering = percent < 100;
            if (buffering) {
                // The current stream was read to its end before the hand-over, so this is the
                // next one filling up; pausing for it would stall the end of the current one.
                // A full buffer is always taken: it may be the current stream's own, posted
                // just before the hand-over, and dropping it would leave it paused for good.
                std::lock_guard lock(handOverMutex_);
                if (handedOver_) break;
            }
            if (buffering == buffering_) break;
            if (buffering && timeControl_ == TimeControlStatus::playing)
                later([this, current] { emitStalled(current); });
            buffering_ = buffering;
            applyTargetState();
            updateTimeControl();
            break;
        }
        case GST_MESSAGE_DURATION_CHANGED:
            queryDuration();
            break;
        default:
            break;
    }
}

}  // namespace velto
