// MP3 files without a VBR header as a disk may hold them: junk, cut frames, frames of other
// streams, and the length counted from them.
#include <taglib/tbytevectorstream.h>

#include <cmath>
#include <cstddef>
#include <cstdint>

#include "FuzzCheck.h"
#include "playback/MPEGFrameCount.h"

using namespace velto;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) return 0;
    // The first byte picks where the first frame is said to be, the rest is the file.
    const std::size_t first = data[0] % (size - 1);
    TagLib::ByteVector bytes(reinterpret_cast<const char*>(data + 1),
                             static_cast<unsigned int>(size - 1));
    TagLib::ByteVectorStream stream(bytes);
    const auto seconds = MPEGFrameCount::seconds(stream, std::int64_t(first), std::int64_t(size - 1));
    if (seconds) {
        FUZZ_CHECK(std::isfinite(*seconds) && *seconds > 0);
        // No frame lasts longer than a millisecond a byte (8 kbit/s, the lowest bitrate), so
        // the length is bounded by the bytes: well below the cap nothing is extrapolated.
        FUZZ_CHECK(*seconds <= double(size) * 0.001 + 0.1);
    }
    return 0;
}
