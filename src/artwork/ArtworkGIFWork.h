#pragma once

#include <cstddef>
#include <cstdint>

#include "artwork/ArtworkDecoder.h"

namespace velto::ArtworkGIFWork {

// Reads a GIF as the picture library does up to its first frame's LZW data, then follows that
// frame's codes as the library does, without drawing them: a code is its prefix's string and one
// symbol more, so each code's length is kept instead of its string, and the symbols its codes
// stand for are counted in a pass over the file. False when they are more than
// `ArtworkDecoder::gifSymbolLimit` of the frame's pixels (or the library would refuse the file),
// or on a stop.
bool fits(const std::uint8_t* data, std::size_t size, const ArtworkDecoder::Options& options);

}  // namespace velto::ArtworkGIFWork
