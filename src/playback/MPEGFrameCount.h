#pragma once

#include <cstdint>
#include <optional>

namespace TagLib {
class IOStream;
}

namespace velto {

// The length of an MPEG audio stream (Layers I to III, versions 1, 2 and 2.5) without a VBR
// header, from its frames. Such a stream says nothing of its length: a reader that takes the
// first frame's bitrate for the whole stream is off by as much as the bitrate varies. Stateless.
namespace MPEGFrameCount {

// Bytes read at most while counting; past them the rest of the stream is taken at the rate
// counted, so a huge file costs no more than this.
inline constexpr std::uint64_t countedBytesCap = 16u << 20;

// The seconds of the frames that follow one another from `first` (a frame's offset), when
// frames read at a few places spread up to `end` (where the audio ends) differ in bitrate; none
// when they all have the first frame's, so that the reader of a steady stream is not made to
// count it, or when no frame is at `first`. Junk between frames is stepped over; after the
// cap, the seconds are those counted times the share of the stream they took.
std::optional<double> seconds(TagLib::IOStream& stream, std::int64_t first, std::int64_t end);

}  // namespace MPEGFrameCount
}  // namespace velto
