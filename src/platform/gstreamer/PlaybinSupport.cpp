#include "platform/gstreamer/PlaybinSupport.h"

#include <fcntl.h>
#include <glib/gstdio.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <mutex>
#include <thread>

#include "foundation/Log.h"

namespace velto::playbin_support {

struct VolumeSwitch {
    std::mutex mutex;
    GstElement* volume = nullptr;  // owned; a child of `bin` only while placed
    GstElement* bin = nullptr;     // not owned: it holds this
    GstElement* sink = nullptr;    // a child of `bin`
    GstPad* entry = nullptr;       // the bin's sink pad
    GstCaps* formats = nullptr;    // what the volume element takes; owned
    double level = 1.0;
    bool placed = false;
    bool moving = false;  // a wait for the entry to be idle is under way
    // The thread placing it: a relink sends events through the entry, which call the wait's
    // callback again on that thread.
    std::atomic<std::thread::id> placer{};

    ~VolumeSwitch() {
        if (formats) gst_caps_unref(formats);
        if (volume) gst_object_unref(volume);
    }

    // With no data passing the entry.
    void place(bool wanted) {
        if (wanted == placed) return;
        gst_ghost_pad_set_target(GST_GHOST_PAD(entry), nullptr);
        GstPad* target;
        if (wanted) {
            gst_bin_add(GST_BIN(bin), volume);
            gst_element_link(volume, sink);
            gst_element_sync_state_with_parent(volume);
            target = gst_element_get_static_pad(volume, "sink");
        } else {
            gst_element_unlink(volume, sink);
            gst_element_set_state(volume, GST_STATE_NULL);
            gst_bin_remove(GST_BIN(bin), volume);
            target = gst_element_get_static_pad(sink, "sink");
        }
        gst_ghost_pad_set_target(GST_GHOST_PAD(entry), target);
        gst_object_unref(target);
        placed = wanted;
    }
};

namespace {

using VolumeSwitchPtr = std::shared_ptr<VolumeSwitch>;

GQuark volumeQuark() {
    static const GQuark quark = g_quark_from_static_string("velto-volume");
    return quark;
}

VolumeSwitch& switchOf(GstObject* bin) {
    return **static_cast<VolumeSwitchPtr*>(g_object_get_qdata(G_OBJECT(bin), volumeQuark()));
}

// The sink's formats narrowed to the volume element's, whether or not it is placed.
gboolean onEntryQuery(GstPad* pad, GstObject* parent, GstQuery* query) {
    GstCaps* formats = switchOf(parent).formats;
    if (GST_QUERY_TYPE(query) == GST_QUERY_ACCEPT_CAPS) {
        GstCaps* caps;
        gst_query_parse_accept_caps(query, &caps);
        if (!gst_caps_can_intersect(caps, formats)) {
            gst_query_set_accept_caps_result(query, FALSE);
            return TRUE;
        }
    }
    if (!gst_pad_query_default(pad, parent, query)) return FALSE;
    if (GST_QUERY_TYPE(query) == GST_QUERY_CAPS) {
        GstCaps* caps;
        gst_query_parse_caps_result(query, &caps);
        GstCaps* narrowed = gst_caps_intersect(caps, formats);
        gst_query_set_caps_result(query, narrowed);
        gst_caps_unref(narrowed);
    }
    return TRUE;
}

GstPadProbeReturn onEntryIdle(GstPad*, GstPadProbeInfo*, gpointer data) {
    VolumeSwitch& volume = **static_cast<VolumeSwitchPtr*>(data);
    if (volume.placer.load() == std::this_thread::get_id()) return GST_PAD_PROBE_PASS;
    std::lock_guard lock(volume.mutex);
    volume.placer = std::this_thread::get_id();
    volume.place(volume.level != 1.0);
    volume.placer = std::thread::id();
    volume.moving = false;
    return GST_PAD_PROBE_REMOVE;
}

}  // namespace

GstElement* withVolume(GstElement* sink, std::shared_ptr<VolumeSwitch>* volume) {
    GstElement* element = gst_element_factory_make("volume", nullptr);
    if (!element) return sink;
    auto made = std::make_shared<VolumeSwitch>();
    made->volume = GST_ELEMENT(gst_object_ref_sink(element));
    GstPad* volumeSink = gst_element_get_static_pad(element, "sink");
    made->formats = gst_pad_get_pad_template_caps(volumeSink);
    gst_object_unref(volumeSink);
    made->bin = gst_bin_new(nullptr);
    made->sink = sink;
    gst_bin_add(GST_BIN(made->bin), sink);
    GstPad* target = gst_element_get_static_pad(sink, "sink");
    made->entry = gst_ghost_pad_new("sink", target);
    gst_object_unref(target);
    g_object_set_qdata_full(G_OBJECT(made->bin), volumeQuark(), new VolumeSwitchPtr(made),
                            [](gpointer data) { delete static_cast<VolumeSwitchPtr*>(data); });
    gst_pad_set_query_function(made->entry, &onEntryQuery);
    gst_element_add_pad(made->bin, made->entry);
    *volume = made;
    return made->bin;
}

void setVolume(GstElement* playbin, double level) {
    PlaybinParts* parts = partsOf(playbin);
    if (!parts || !parts->volume) {
        g_object_set(playbin, "volume", level, nullptr);
        return;
    }
    const VolumeSwitchPtr& volume = parts->volume;
    {
        std::lock_guard lock(volume->mutex);
        volume->level = level;
        g_object_set(volume->volume, "volume", level, nullptr);
        if ((level != 1.0) == volume->placed || volume->moving) return;
        volume->moving = true;
    }
    // Called at once when no data pass, else by the streaming thread once they have.
    gst_pad_add_probe(volume->entry, GST_PAD_PROBE_TYPE_IDLE, &onEntryIdle,
                      new VolumeSwitchPtr(volume),
                      [](gpointer data) { delete static_cast<VolumeSwitchPtr*>(data); });
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

namespace {

GQuark partsQuark() {
    static const GQuark quark = g_quark_from_static_string("velto-parts");
    return quark;
}

}  // namespace

GstElement* makePlaybin(const std::string& sinkDescription) {
    GstElement* playbin = gst_element_factory_make("playbin", nullptr);
    if (!playbin) return nullptr;
    gst_object_ref_sink(playbin);
    auto* parts = new PlaybinParts;
    g_object_set_qdata_full(G_OBJECT(playbin), partsQuark(), parts, [](gpointer data) {
        auto* parts = static_cast<PlaybinParts*>(data);
        if (parts->sinkPad) gst_object_unref(parts->sinkPad);
        delete parts;
    });
    GstElement* sink = makeSink(sinkDescription);
    if (sink) {
        parts->sinkPad = gst_element_get_static_pad(sink, "sink");
        g_object_set(playbin, "audio-sink", withVolume(sink, &parts->volume), nullptr);
    }
    g_object_set(playbin, "flags",
                 parts->volume ? playFlagAudio : playFlagAudio | playFlagSoftVolume, nullptr);
    return playbin;
}

bool sinkPlays(GstElement* playbin) {
    PlaybinParts* parts = partsOf(playbin);
    GstElement* element = parts && parts->sinkPad ? GST_PAD_PARENT(parts->sinkPad) : playbin;
    GST_OBJECT_LOCK(element);
    const bool plays =
        GST_STATE(element) == GST_STATE_PLAYING && GST_STATE_PENDING(element) == GST_STATE_VOID_PENDING;
    GST_OBJECT_UNLOCK(element);
    return plays;
}

PlaybinParts* partsOf(GstElement* playbin) {
    return static_cast<PlaybinParts*>(g_object_get_qdata(G_OBJECT(playbin), partsQuark()));
}

// True for every URI that is not a local file, else whether the file can be read, asked of
// `readable` if given. The file is opened, not just checked for rights: on a share that stopped
// answering a check may answer at once while the open waits, and the open that waits is better
// here than in the playbin's switch, which holds the playbin while it does.
bool readableFile(const std::string& uri,
                  const FileReadable& readable) {
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

bool isSourceElement(GstObject* element) {
    return element && GST_IS_URI_HANDLER(element) &&
           gst_uri_handler_get_uri_type(GST_URI_HANDLER(element)) == GST_URI_SRC;
}

FileLook lookAtFile(const std::string& uri,
                    const FileReadable& readable) {
    gchar* path = g_filename_from_uri(uri.c_str(), nullptr, nullptr);
    FileLook look{path && g_access(path, F_OK) == 0, readableFile(uri, readable)};
    g_free(path);
    return look;
}

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

GstElement* queueBefore(GstPad* pad) {
    GstPad* at = GST_PAD(gst_object_ref(pad));
    // A few steps reach it in any playbin; more would mean a loop.
    for (int step = 0; step < 32 && at; ++step) {
        GstPad* peer = gst_pad_get_peer(at);
        gst_object_unref(at);
        at = nullptr;
        if (!peer) return nullptr;
        // Out of a bin: the pad inside that its source pad stands for.
        while (GST_IS_GHOST_PAD(peer)) {
            GstPad* target = gst_ghost_pad_get_target(GST_GHOST_PAD(peer));
            gst_object_unref(peer);
            if (!target) return nullptr;
            peer = target;
        }
        // Into a bin from inside: on from the bin's own sink pad.
        if (GST_IS_PROXY_PAD(peer) && !GST_PAD_PARENT(peer)) return nullptr;
        if (GST_IS_PROXY_PAD(peer) && GST_IS_GHOST_PAD(GST_PAD_PARENT(peer))) {
            at = GST_PAD(gst_object_ref(GST_PAD_PARENT(peer)));
            gst_object_unref(peer);
            continue;
        }
        GstElement* element = gst_pad_get_parent_element(peer);
        gst_object_unref(peer);
        if (!element) return nullptr;
        GstElementFactory* factory = gst_element_get_factory(element);
        if (factory && std::string_view(GST_OBJECT_NAME(factory)) == "queue") return element;
        at = gst_element_get_static_pad(element, "sink");
        gst_object_unref(element);
    }
    if (at) gst_object_unref(at);
    return nullptr;
}

guint buffersIn(GstElement* queue) {
    guint buffers = 0;
    g_object_get(queue, "current-level-buffers", &buffers, nullptr);
    return buffers;
}

bool ofStream(GstObject* element, GstElement* source) {
    GstObject* stream = gst_object_get_parent(GST_OBJECT(source));
    if (!stream) return false;
    bool inside = element == stream || gst_object_has_as_ancestor(element, stream);
    gst_object_unref(stream);
    return inside;
}

GQuark teardownQuark() {
    static const GQuark quark = g_quark_from_static_string("velto-teardown");
    return quark;
}

GQuark switchQuark() {
    static const GQuark quark = g_quark_from_static_string("velto-switch");
    return quark;
}

}  // namespace velto::playbin_support
