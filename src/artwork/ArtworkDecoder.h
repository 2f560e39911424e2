#pragma once

#include <cstdint>
#include <string_view>

#include "artwork/ArtworkDecodeBudget.h"
#include "artwork/ArtworkImage.h"

namespace velto::ArtworkDecoder {

// A picture needing more pixels than this at its decode scale is refused before any bitmap is
// allocated, whatever its header claims.
inline constexpr std::int64_t defaultPixelLimit = 40'000'000;

struct Options {
    std::int64_t pixelLimit = defaultPixelLimit;
    // JPEG only: decode at the smallest DCT scale that still reaches the target. Off decodes at
    // full size first (kept for comparison in the benchmarks).
    bool scaledDecode = true;
    // What the decode may cost in memory is judged from the header (full size, components,
    // progressive or not, sample depth) and reserved here before anything is allocated; a
    // picture over the whole budget is refused, one that fits waits its turn.
    ArtworkDecodeBudget* budget = &ArtworkDecodeBudget::shared();
};

// Decodes JPEG (libjpeg-turbo; EXIF orientation applied, CMYK converted), PNG, GIF (first frame)
// and BMP into a picture whose longest side is at most `maximumPixelDimension` (never enlarged).
// None for bytes that are no such picture, or one over the pixel limit or the memory budget.
ArtworkImagePtr downsample(std::string_view data, std::int64_t maximumPixelDimension,
                           const Options& options = {});

}  // namespace velto::ArtworkDecoder
