#pragma once

#include <gst/gst.h>

#include <functional>
#include <memory>
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

// The volume element of a sink's bin, placed in front of the sink only while the volume is not
// 1: at 1 it would pass every buffer on unchanged, at a cost. playbin's own software volume
// leaves its volume element behind when the playbin is destroyed, and every item opened gets a
// playbin; this one goes with the sink. The bin takes only formats the volume element takes,
// so that placing it never asks the stream for another.
struct VolumeSwitch;
// The sink in a bin with a volume switch, null if there is no volume element.
GstElement* withVolume(GstElement* sink, std::shared_ptr<VolumeSwitch>* volume);
// The sink asked for: `configured`, else the environment variable VELTO_AUDIO_SINK, else
// autoaudiosink.
std::string describeSink(const std::string& configured);
GstElement* makeSink(const std::string& description);

// What the player reaches again in a playbin it uses once more: the volume element in front of
// the sink (none if the playbin's own software volume is used), and the sink's pad with the
// probe the player's callbacks watch it by.
struct PlaybinParts {
    std::shared_ptr<VolumeSwitch> volume;
    GstPad* sinkPad = nullptr;  // owned
    gulong sinkProbe = 0;
};
// A playbin playing audio only into the sink described, a volume element in front of it, its
// parts kept with it.
GstElement* makePlaybin(const std::string& sinkDescription);
// Null if the playbin was not made by makePlaybin.
PlaybinParts* partsOf(GstElement* playbin);
// Whether the sink of a playbin made by makePlaybin (else the playbin) plays, with no change under
// way: its clock runs then, whatever the playbin tells of itself.
bool sinkPlays(GstElement* playbin);
// Sets the volume, 0 to 1, of a playbin made by makePlaybin. Its volume element is placed or
// taken out of the sink's bin once no data pass there, at once if none flow.
void setVolume(GstElement* playbin, double volume);

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

// The queue nearest upstream of `pad`, through bins and the elements between (converters, the
// volume element), with a reference; null if there is none.
GstElement* queueBefore(GstPad* pad);
// Buffers held in `queue`, a queue element.
guint buffersIn(GstElement* queue);

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
