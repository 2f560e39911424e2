#include "platform/gstreamer/StreamHeadSource.h"

#include <gst/base/gstbasesrc.h>
#include <gst/gst.h>

#include <memory>
#include <mutex>
#include <optional>
#include <stop_token>
#include <string>
#include <utility>

#include "platform/HttpByteStream.h"
#include "platform/StreamHeads.h"

namespace velto {
namespace {

// What the element reads from; its streaming thread is the only one that reads or writes it but
// for `interrupt`, which unlock() fires from another.
struct Reader {
    std::mutex mutex;
    std::string uri;
    std::stop_source interrupt;
    std::shared_ptr<StreamHead> head;
    std::unique_ptr<HttpByteStream> rest;  // what comes after the head, streaming

    std::stop_token interruption() {
        std::lock_guard lock(mutex);
        return interrupt.get_token();
    }
};

}  // namespace
}  // namespace velto

extern "C" {

struct VeltoHeadSrc {
    GstBaseSrc parent;
    velto::Reader* reader;
};

struct VeltoHeadSrcClass {
    GstBaseSrcClass parent_class;
};

static void velto_head_src_uri_handler_init(gpointer iface, gpointer);

G_DEFINE_TYPE_WITH_CODE(VeltoHeadSrc, velto_head_src, GST_TYPE_BASE_SRC,
                        G_IMPLEMENT_INTERFACE(GST_TYPE_URI_HANDLER,
                                              velto_head_src_uri_handler_init))
}

namespace velto {
namespace {

Reader& readerOf(gpointer element) {
    return *reinterpret_cast<VeltoHeadSrc*>(element)->reader;
}

GstStaticPadTemplate sourceTemplate =
    GST_STATIC_PAD_TEMPLATE("src", GST_PAD_SRC, GST_PAD_ALWAYS, GST_STATIC_CAPS_ANY);

void postError(GstBaseSrc* base, const StreamFetchError& error) {
    const int code = error.status == 401 || error.status == 403 ? GST_RESOURCE_ERROR_NOT_AUTHORIZED
                     : error.status == 404                      ? GST_RESOURCE_ERROR_NOT_FOUND
                                                                : GST_RESOURCE_ERROR_READ;
    gst_element_message_full(GST_ELEMENT(base), GST_MESSAGE_ERROR, GST_RESOURCE_ERROR, code,
                             g_strdup("stream unavailable"), g_strdup(error.detail.c_str()),
                             __FILE__, GST_FUNCTION, __LINE__);
}

gboolean start(GstBaseSrc* base) {
    Reader& reader = readerOf(base);
    std::string uri;
    {
        std::lock_guard lock(reader.mutex);
        uri = reader.uri;
    }
    auto head = StreamHeads::find(uri);
    std::lock_guard lock(reader.mutex);
    reader.head = head;
    // A head no longer held (its song left the queue) is told by the stream, as a server's
    // refusal is: a failed start would fail the playbin's state change under way, which the
    // playbin passes on again while a stream handed over opens, and leave it short of playing.
    return TRUE;
}

gboolean stop(GstBaseSrc* base) {
    Reader& reader = readerOf(base);
    reader.rest.reset();
    std::lock_guard lock(reader.mutex);
    reader.head.reset();
    return TRUE;
}

gboolean unlock(GstBaseSrc* base) {
    Reader& reader = readerOf(base);
    std::lock_guard lock(reader.mutex);
    reader.interrupt.request_stop();
    return TRUE;
}

gboolean unlockStop(GstBaseSrc* base) {
    Reader& reader = readerOf(base);
    std::lock_guard lock(reader.mutex);
    reader.interrupt = std::stop_source();
    return TRUE;
}

// Until the server has answered the head's request, whether it takes ranges is not known; one
// that does not (it answered with the whole stream) could only be read again from its start for
// each seek, and is not sought, however short the stream, as with any source.
gboolean isSeekable(GstBaseSrc* base) {
    Reader& reader = readerOf(base);
    std::shared_ptr<StreamHead> head;
    {
        std::lock_guard lock(reader.mutex);
        head = reader.head;
    }
    return !head || head->ranged().value_or(true);
}

gboolean getSize(GstBaseSrc* base, guint64* size) {
    Reader& reader = readerOf(base);
    std::shared_ptr<StreamHead> head;
    {
        std::lock_guard lock(reader.mutex);
        head = reader.head;
    }
    const auto total = head ? head->total() : std::nullopt;
    if (!total) return FALSE;
    *size = *total;
    return TRUE;
}

// Pushed, not pulled: a parser pulling at will would wait on the server in its own thread, where
// a seek does not reach the reader to end the wait.
gboolean query(GstBaseSrc* base, GstQuery* query) {
    if (GST_QUERY_TYPE(query) == GST_QUERY_SCHEDULING) {
        gst_query_set_scheduling(query, GST_SCHEDULING_FLAG_SEEKABLE, 1, -1, 0);
        gst_query_add_scheduling_mode(query, GST_PAD_MODE_PUSH);
        return TRUE;
    }
    return GST_BASE_SRC_CLASS(velto_head_src_parent_class)->query(base, query);
}

GstBuffer* bufferOf(const std::string& data, guint64 offset) {
    GstBuffer* buffer = gst_buffer_new_memdup(data.data(), data.size());
    GST_BUFFER_OFFSET(buffer) = offset;
    GST_BUFFER_OFFSET_END(buffer) = offset + data.size();
    return buffer;
}

GstFlowReturn create(GstBaseSrc* base, guint64 offset, guint size, GstBuffer** out) {
    Reader& reader = readerOf(base);
    const std::stop_token interrupt = reader.interruption();
    if (!reader.head) {
        postError(base, StreamFetchError{404, "the song's head is no longer held"});
        return GST_FLOW_ERROR;
    }
    // The head is played from as it arrives: a song starts once its first bytes have come.
    if (!reader.head->waitFor(offset, interrupt)) return GST_FLOW_FLUSHING;
    if (auto arriving = reader.head->arriving(offset, size); arriving && !arriving->empty()) {
        *out = bufferOf(*arriving, offset);
        return GST_FLOW_OK;
    }
    // A head the server refused is asked for again, as the rest is: the refusal may have been
    // the server's moment, and the song's own request tells. A server that did not answer at
    // all has had its time.
    static const auto noHead = std::make_shared<const StreamBytes>(StreamBytes{0, {}, {}, true});
    auto head = reader.head->bytes();
    if (!head) {
        const auto error = reader.head->error().value_or(StreamFetchError{});
        if (error.status == 0) {
            postError(base, error);
            return GST_FLOW_ERROR;
        }
        head = noHead;
    }
    std::optional<std::uint64_t> total = head->total;
    if (reader.rest && reader.rest->total()) total = reader.rest->total();
    if (total && offset >= *total) return GST_FLOW_EOS;
    const std::uint64_t headEnd = head->offset + head->bytes.size();
    std::string data;
    if (offset < headEnd) {
        data = head->bytes.substr(offset - head->offset, size);
        // The rest is asked for as soon as the head is being played.
        if (!reader.rest && (!total || headEnd < *total))
            reader.rest = std::make_unique<HttpByteStream>(*reader.head->transfers(), reader.head->url(), headEnd,
                                                           StreamHeads::streamBufferBytes);
    } else {
        // A seek elsewhere abandons the request under way, answered or not, for one from there.
        if (!reader.rest || reader.rest->position() != offset)
            reader.rest = std::make_unique<HttpByteStream>(*reader.head->transfers(), reader.head->url(), offset,
                                                           StreamHeads::streamBufferBytes);
        for (bool again = true;; again = false) {
            try {
                auto bytes = reader.rest->read(size, interrupt);
                if (!bytes) return GST_FLOW_FLUSHING;
                data = std::move(*bytes);
                break;
            } catch (const StreamFetchError& error) {
                // A connection the server dropped (after a long pause) is made again, once.
                if (error.status != 0 || !again || reader.rest->position() == reader.rest->start()) {
                    postError(base, error);
                    return GST_FLOW_ERROR;
                }
                reader.rest = std::make_unique<HttpByteStream>(*reader.head->transfers(), reader.head->url(), offset,
                                                               StreamHeads::streamBufferBytes);
            }
        }
    }
    if (data.empty()) return GST_FLOW_EOS;
    *out = bufferOf(data, offset);
    return GST_FLOW_OK;
}

void finalize(GObject* object) {
    delete reinterpret_cast<VeltoHeadSrc*>(object)->reader;
    G_OBJECT_CLASS(velto_head_src_parent_class)->finalize(object);
}

}  // namespace

void registerStreamHeadSource() {
    static std::once_flag once;
    std::call_once(once, [] {
        gst_element_register(nullptr, "veltoheadsrc", GST_RANK_PRIMARY, velto_head_src_get_type());
    });
}

}  // namespace velto

extern "C" {

static void velto_head_src_class_init(VeltoHeadSrcClass* klass) {
    G_OBJECT_CLASS(klass)->finalize = &velto::finalize;
    GstElementClass* element = GST_ELEMENT_CLASS(klass);
    gst_element_class_add_static_pad_template(element, &velto::sourceTemplate);
    gst_element_class_set_static_metadata(element, "Stream head source", "Source/Network",
                                          "Plays a song from its first data fetched ahead",
                                          "Velto");
    GstBaseSrcClass* base = GST_BASE_SRC_CLASS(klass);
    base->start = &velto::start;
    base->stop = &velto::stop;
    base->unlock = &velto::unlock;
    base->unlock_stop = &velto::unlockStop;
    base->is_seekable = &velto::isSeekable;
    base->get_size = &velto::getSize;
    base->query = &velto::query;
    base->create = &velto::create;
}

static void velto_head_src_init(VeltoHeadSrc* self) {
    self->reader = new velto::Reader();
    gst_base_src_set_format(GST_BASE_SRC(self), GST_FORMAT_BYTES);
}

static GstURIType uriType(GType) {
    return GST_URI_SRC;
}

static const gchar* const* protocols(GType) {
    static const gchar* const list[] = {velto::StreamHeads::scheme, nullptr};
    return list;
}

static gchar* getUri(GstURIHandler* handler) {
    velto::Reader& reader = velto::readerOf(handler);
    std::lock_guard lock(reader.mutex);
    return g_strdup(reader.uri.c_str());
}

static gboolean setUri(GstURIHandler* handler, const gchar* uri, GError**) {
    velto::Reader& reader = velto::readerOf(handler);
    std::lock_guard lock(reader.mutex);
    reader.uri = uri ? uri : "";
    return TRUE;
}

static void velto_head_src_uri_handler_init(gpointer iface, gpointer) {
    auto* handler = static_cast<GstURIHandlerInterface*>(iface);
    handler->get_type = &uriType;
    handler->get_protocols = &protocols;
    handler->get_uri = &getUri;
    handler->set_uri = &setUri;
}
}
