#include <gtest/gtest.h>

#include <algorithm>
#include <optional>

#include "ArtworkTestSupport.h"
#include "artwork/ArtworkPalette.h"
#include "artwork/M3Scheme.h"

using namespace velto;
using namespace velto::artworktest;

TEST(ArtworkPalette, AccentOfAPicture) {
    EXPECT_EQ(ArtworkPalette::accentHexFrom(*solid(100, 60, 255, 0, 0)), "#F12222");
    EXPECT_EQ(ArtworkPalette::accentHexFrom(*solid(10, 10, 51, 102, 204)), "#4372D0");
    // Too transparent, grey, too dark or too light: no accent.
    EXPECT_FALSE(ArtworkPalette::accentHexFrom(*solid(50, 50, 200, 0, 0, 190)));
    EXPECT_FALSE(ArtworkPalette::accentHexFrom(*solid(50, 50, 128, 128, 128)));
    EXPECT_FALSE(ArtworkPalette::accentHexFrom(*solid(50, 50, 20, 0, 0)));
    EXPECT_FALSE(ArtworkPalette::accentHexFrom(*solid(50, 50, 255, 240, 240)));

    // Equal weights in two buckets: the lower hue wins.
    std::vector<std::uint8_t> halves(44 * 44 * 4);
    for (std::size_t i = 0; i < halves.size(); i += 4) {
        const bool left = (i / 4) % 44 < 22;
        halves[i] = left ? 0 : 255, halves[i + 1] = left ? 255 : 0, halves[i + 3] = 255;
    }
    EXPECT_EQ(ArtworkPalette::accentHexFrom(*ArtworkImage::make(44, 44, halves)), "#F12222");
}

// The lightness (percent) of a colour text.
static double lightness(const std::string& hex) {
    const auto byte = [&](int at) { return std::stoi(hex.substr(1 + at, 2), nullptr, 16); };
    const int r = byte(0), g = byte(2), b = byte(4);
    return (std::max({r, g, b}) + std::min({r, g, b})) / 2.0 / 255 * 100;
}

TEST(ArtworkPalette, LightnessWindows) {
    // Pixels count from 12 to 92 percent lightness; the accent is held within 54 … 72.
    const struct {
        std::uint8_t r, g, b;
        std::optional<double> accent;
    } pixels[] = {
        {61, 0, 0, std::nullopt}, {62, 0, 0, 54},  // lightness 11.96 / 12.16
        {255, 214, 214, 72}, {255, 215, 215, std::nullopt},  // 91.96 / 92.16
    };
    for (const auto& p : pixels) {
        const auto accent = ArtworkPalette::accentHexFrom(*solid(44, 44, p.r, p.g, p.b));
        ASSERT_EQ(accent.has_value(), p.accent.has_value()) << int(p.r) << "," << int(p.g);
        if (accent) {
            EXPECT_NEAR(lightness(*accent), *p.accent, 0.5) << *accent;
        }
    }
    // A palette's colours are held within 56 … 74.
    const std::pair<const char*, double> texts[] = {{"#3D0000", 56}, {"#E65C5C", 63.1}, {"#FF9999", 74}};
    for (const auto& [text, expected] : texts)
        EXPECT_NEAR(lightness(ArtworkPalette::from(text).accentHex), expected, 0.5) << text;
}

TEST(ArtworkPalette, PaletteOfAColourText) {
    const ArtworkPalette fallback{"#61CFE5", "#61CFE5", {"#144C57", "#142139", "#112722"}, "#61CFE5"};
    for (const char* text : {"", "#12345", "#GG0000", "#FF00001"})
        EXPECT_EQ(ArtworkPalette::from(text), fallback) << text;
    const ArtworkPalette red{"#F22C2C", "#F22C2C", {"#581313", "#3B2512", "#290F19"}, "#F22C2C"};
    for (const char* text : {"#FF0000", "FF0000", "##FF0000", "#ff0000#"})
        EXPECT_EQ(ArtworkPalette::from(text), red) << text;
}

TEST(M3Scheme, DefaultsAndRoleEquality) {
    const M3Scheme scheme = M3Scheme::defaultScheme();
    EXPECT_EQ(scheme.seedHex, "#FF3738");
    EXPECT_FALSE(scheme.isDark);
    EXPECT_EQ(scheme.hex.surfaceContainerLowest, "#F5F7FB");
    EXPECT_EQ(scheme.hex.onSurfaceVariant, "#838190");
    EXPECT_EQ(scheme.hex, M3Scheme::HexValues{});
    M3Scheme::HexValues changed;
    changed.capsuleBackground = "#ffffff";
    EXPECT_NE(changed, scheme.hex);
}
