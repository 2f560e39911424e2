#pragma once

#include <cstdint>
#include <functional>
#include <stop_token>
#include <string_view>

#include "artwork/ArtworkDecodeBudget.h"
#include "artwork/ArtworkImage.h"

namespace velto::ArtworkDecoder {

// A picture needing more pixels than this at its decode scale is refused before any bitmap is
// allocated, whatever its header claims.
inline constexpr std::int64_t defaultPixelLimit = 40'000'000;

// What a JPEG's scans make the decoder do. Each scan reads every block of its components, and a
// refinement scan walks every coefficient of its band in each block even when the file holds
// nothing but end-of-band runs; so the CPU follows the blocks summed over the scans, not the
// size of the file (a 50 KB file can ask for 125 M).
struct Work {
    int scans = 0;
    std::int64_t blocks = 0;  // summed over the scans
};

// A refinement of the whole band, the costliest kind of scan, reads a block in 40 to 55 ns on the
// development machine (more as the picture grows), so 12 M blocks bound a JPEG's scans to about
// 0.65 s of CPU there. libjpeg's standard progression reads a picture's blocks 5 to 6 times:
// at most 11.8 M for a picture within the 256 MB decode budget (a grey one; 10.4 M in colour).
// A single scan of 12 M blocks is a baseline picture of some 500 M pixels.
inline constexpr std::int64_t defaultWorkLimit = 12'000'000;
// No encoder writes this many scans (libjpeg's progression has 6 to 10; TurboJPEG refuses more
// than 500 too).
inline constexpr int scanLimit = 500;

struct Options {
    std::int64_t pixelLimit = defaultPixelLimit;
    // JPEG only: decode at the smallest DCT scale that still reaches the target. Off decodes at
    // full size first (kept for comparison in the benchmarks).
    bool scaledDecode = true;
    // What the decode may cost in memory is judged from the header (full size, components,
    // progressive or not, sample depth) and reserved here before anything is allocated; a
    // picture over the whole budget is refused, one that fits waits its turn.
    ArtworkDecodeBudget* budget = &ArtworkDecodeBudget::shared();
    // JPEG only: the work a picture's scans ask for is judged from the scan headers of the
    // whole file before anything is allocated, and a picture over this many blocks (or over
    // `scanLimit` scans) is refused; a decode that gets there all the same (the library
    // finding scans the judgement did not) is stopped there.
    std::int64_t workLimit = defaultWorkLimit;
    // Ends the decode, which then gives none: while it waits for the budget, and between the
    // rows and scans of a JPEG.
    std::stop_token stop;
    // JPEG only: called as each scan starts, with the work counted so far (that scan's
    // included), before the limits are checked. For tests and benchmarks; it must not throw.
    std::function<void(const Work&)> onScan;
};

// Decodes JPEG (libjpeg-turbo; EXIF orientation applied, CMYK converted), PNG, GIF (first frame)
// and BMP into a picture whose longest side is at most `maximumPixelDimension` (never enlarged).
// None for bytes that are no such picture, one over the pixel limit, the memory budget or the
// work limit, or a decode stopped.
ArtworkImagePtr downsample(std::string_view data, std::int64_t maximumPixelDimension,
                           const Options& options = {});

}  // namespace velto::ArtworkDecoder
