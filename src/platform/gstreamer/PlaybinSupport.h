#pragma once

#include <gst/gst.h>

#include <functional>
#include <optional>
#include <string>
#include <string_view>

// Small pieces the GStreamer player's parts share: its sink, what a failure tells the user, what
// a log line may show, and a few questions put to elements.
namespace velto::playbin_support {

inline constexpr std::string_view logCategory = "Player";

// playbin's GstPlayFlags: audio only (no window for a cover image stream), software volume.
inline constexpr guint playFlagAudio = 1 << 1;
inline constexpr guint playFlagSoftVolume = 1 << 4;

void ensureGStreamer();

// The sink with a volume element in front of it, as one bin. playbin's own software volume
// leaves its volume element behind when the playbin is destroyed, and every item opened gets
// a playbin; this one goes with the sink. Null `volume` if there is no volume element.
GstElement* withVolume(GstElement* sink, GstElement** volume);
// The sink asked for: `configured`, else the environment variable VELTO_AUDIO_SINK, else
// autoaudiosink.
std::string describeSink(const std::string& configured);
GstElement* makeSink(const std::string& description);

// What the player reaches again in a playbin it uses once more: the volume element in front of
// the sink (none if the playbin's own software volume is used), and the sink's pad with the
// probe the player's callbacks watch it by.
struct PlaybinParts {
    GstElement* volume = nullptr;
    GstPad* sinkPad = nullptr;  // owned
    gulong sinkProbe = 0;
};
// A playbin playing audio only into the sink described, a volume element in front of it, its
// parts kept with it.
GstElement* makePlaybin(const std::string& sinkDescription);
// Null if the playbin was not made by makePlaybin.
PlaybinParts* partsOf(GstElement* playbin);

using FileReadable = std::function<bool(const std::string& path)>;

// True for every URI that is not a local file, else whether the file can be read, asked of
// `readable` if given.
bool readableFile(const std::string& uri, const FileReadable& readable);

// What a failed item's local file showed.
struct FileLook {
    bool exists = false;
    bool readable = false;
};
// Looks at the local file of `uri`, asking `readable` if given whether it can be read. On a
// share that stopped answering this lasts as long as the share does.
FileLook lookAtFile(const std::string& uri, const FileReadable& readable);

// Whether a failing element is the stream's source (the file or HTTP reader), as opposed to a
// parser or decoder behind it.
bool isSourceElement(GstObject* element);
// Whether the user is told why an item failed by its file, missing or refused: the failure of
// a local file's source, or of its resource.
bool toldByFile(GQuark domain, bool fromSource, const std::string& uri);
// What the user reads when an item fails.
std::string describeFailure(GQuark domain, int code, bool fromSource,
                            const std::optional<FileLook>& file);
// Addresses in log lines lose their user info, query and fragment: they may carry keys.
std::string withoutSecrets(std::string_view text);

// Whether a stream's source can jump to another byte.
bool canSeek(GstElement* source);
// Whether `element` is the stream read by `source` or what decodes it.
bool ofStream(GstObject* element, GstElement* source);

inline double toSeconds(gint64 nanoseconds) {
    return static_cast<double>(nanoseconds) / GST_SECOND;
}

// Marks a retired playbin; the data's release tells that it is done with.
GQuark teardownQuark();
// Marks a group's decoder whose end is watched.
GQuark switchQuark();

}  // namespace velto::playbin_support
