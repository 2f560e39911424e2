#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "artwork/ArtworkImage.h"

namespace velto::ArtworkResample {

// Area (box) resampling of premultiplied RGBA: every output pixel is the coverage-weighted mean
// of the source pixels under it. Shrinks without aliasing; enlarging blends only at edges.
// `goOn`, when given, is asked after each output row; false ends the resampling with nothing.
std::vector<std::uint8_t> area(const std::uint8_t* pixels, int width, int height,
                               int newWidth, int newHeight,
                               const std::function<bool()>& goOn = {});

ArtworkImagePtr area(const ArtworkImage& image, int newWidth, int newHeight);

}  // namespace velto::ArtworkResample
