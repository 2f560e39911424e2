#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "artwork/ArtworkImage.h"

namespace velto {

// One accent colour drawn from a cover, and the small family of colours derived from it.
// Colours are "#RRGGBB" text in upper case.
struct ArtworkPalette {
    std::string accentHex;
    std::string tintHex;
    std::vector<std::string> ambientHex;
    std::string glowHex;

    // The most vivid mid-toned hue of the picture, sampled at 44 × 44; none when no pixel is
    // opaque, coloured and neither too dark nor too light.
    static std::optional<std::string> accentHexFrom(const ArtworkImage& image);
    // The palette of a colour text; anything that is not one gives the fallback colour.
    static ArtworkPalette from(std::string_view accentHex);

    bool operator==(const ArtworkPalette&) const = default;
};

}  // namespace velto
