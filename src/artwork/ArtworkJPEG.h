#pragma once

#include <optional>
#include <string>

#include "artwork/ArtworkImage.h"

namespace velto::ArtworkJPEG {

// The picture as JPEG bytes at `quality` (0 to 1); alpha is dropped, so transparent parts come
// out as their premultiplied colour (over black). None when the encoder fails.
std::optional<std::string> encode(const ArtworkImage& image, double quality);

}  // namespace velto::ArtworkJPEG
