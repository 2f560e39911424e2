#include "platform/gstreamer/PlaybinSupport.h"

#include <fcntl.h>
#include <glib/gstdio.h>

#include <algorithm>
#include <cstdlib>
#include <mutex>

#include "foundation/Log.h"

namespace velto::playbin_support {

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
