#pragma once

#include <cstdint>
#include <string>

namespace velto::HostileCovers {

// A small progressive JPEG whose frame header claims `width` × `height` (4:2:0 colour): a few
// hundred bytes that a decoder trusting the header would allocate the whole picture for.
std::string progressiveJpeg(int width, int height);

// A PNG of all-zero samples at the given bit depth and colour type (0 grey, 2 RGB, 4 grey with
// alpha, 6 RGBA), its image data deflated to about 1 byte per 160. The data inflates to
// `inflatedBytes`, or (when negative) to exactly what the header needs.
std::string zeroPng(int width, int height, int bitDepth, int colourType,
                    std::int64_t inflatedBytes = -1);

}  // namespace velto::HostileCovers
