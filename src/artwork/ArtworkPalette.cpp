#include "artwork/ArtworkPalette.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>

#include "artwork/ArtworkResample.h"

namespace velto {
namespace {

constexpr int sampleSide = 44;

struct HSL {
    double h = 0;  // degrees
    double s = 0;  // percent
    double l = 0;  // percent

    static HSL fromRGB(double r, double g, double b) {
        const double max = std::max({r, g, b});
        const double min = std::min({r, g, b});
        const double delta = max - min;
        HSL color;
        color.l = (max + min) * 50;
        if (delta == 0) return color;
        color.s = delta / (1 - std::abs(2 * color.l / 100 - 1)) * 100;
        double sector;
        if (max == r) sector = std::fmod((g - b) / delta, 6.0);
        else if (max == g) sector = (b - r) / delta + 2;
        else sector = (r - g) / delta + 4;
        color.h = 60 * sector;
        if (color.h < 0) color.h += 360;
        return color;
    }

    static std::optional<HSL> fromHex(std::string_view text) {
        while (!text.empty() && text.front() == '#') text.remove_prefix(1);
        while (!text.empty() && text.back() == '#') text.remove_suffix(1);
        if (text.size() != 6) return std::nullopt;
        std::array<int, 3> bytes{};
        for (int i = 0; i < 3; ++i) {
            int value = 0;
            for (char c : text.substr(static_cast<std::size_t>(i) * 2, 2)) {
                int digit;
                if (c >= '0' && c <= '9') digit = c - '0';
                else if (c >= 'a' && c <= 'f') digit = c - 'a' + 10;
                else if (c >= 'A' && c <= 'F') digit = c - 'A' + 10;
                else return std::nullopt;
                value = value * 16 + digit;
            }
            bytes[static_cast<std::size_t>(i)] = value;
        }
        return fromRGB(bytes[0] / 255.0, bytes[1] / 255.0, bytes[2] / 255.0);
    }

    std::string hex() const {
        const double c = (1 - std::abs(2 * l / 100 - 1)) * s / 100;
        const double x = c * (1 - std::abs((h / 60 - 2 * std::trunc(h / 120)) - 1));
        double r, g, b;
        if (h >= 0 && h < 60) r = c, g = x, b = 0;
        else if (h >= 60 && h < 120) r = x, g = c, b = 0;
        else if (h >= 120 && h < 180) r = 0, g = c, b = x;
        else if (h >= 180 && h < 240) r = 0, g = x, b = c;
        else if (h >= 240 && h < 300) r = x, g = 0, b = c;
        else r = c, g = 0, b = x;
        const double m = l / 100 - c / 2;
        const auto channel = [m](double part) { return static_cast<int>(std::round((m + part) * 255)); };
        char text[16];
        std::snprintf(text, sizeof text, "#%02X%02X%02X", channel(r), channel(g), channel(b));
        return text;
    }
};

}  // namespace

std::optional<std::string> ArtworkPalette::accentHexFrom(const ArtworkImage& image) {
    const auto sample = ArtworkResample::area(image.pixels().data(), image.width(),
                                              image.height(), sampleSide, sampleSide);
    struct Bucket {
        double weight = 0, h = 0, s = 0, l = 0;
    };
    std::array<Bucket, 24> buckets{};
    for (std::size_t i = 0; i < sample.size(); i += 4) {
        const std::uint8_t* p = sample.data() + i;
        if (p[3] / 255.0 < 200.0 / 255.0) continue;
        const HSL color = HSL::fromRGB(p[0] / 255.0, p[1] / 255.0, p[2] / 255.0);
        if (std::max({p[0], p[1], p[2]}) == std::min({p[0], p[1], p[2]})) continue;
        if (color.l < 12 || color.l > 92 || color.s < 14) continue;
        const double weight = color.s * (1 - std::abs(color.l - 55) / 70);
        const auto index = std::min<std::size_t>(static_cast<std::size_t>(color.h / 15), 23);
        Bucket& bucket = buckets[index];
        bucket.weight += weight;
        bucket.h += weight * color.h;
        bucket.s += weight * color.s;
        bucket.l += weight * color.l;
    }
    const Bucket* best = &buckets[0];
    for (const Bucket& bucket : buckets)
        if (bucket.weight > best->weight) best = &bucket;
    if (!(best->weight > 0)) return std::nullopt;
    HSL mean;
    mean.h = std::fmod(best->h / best->weight, 360.0);
    mean.s = std::clamp(best->s / best->weight, 32.0, 88.0);
    mean.l = std::clamp(best->l / best->weight, 54.0, 72.0);
    return mean.hex();
}

ArtworkPalette ArtworkPalette::from(std::string_view accentHex) {
    HSL color = HSL::fromHex(accentHex).value_or(HSL{190, 72, 64});
    color.s = std::clamp(color.s, 30.0, 88.0);
    color.l = std::clamp(color.l, 56.0, 74.0);
    const std::string accent = color.hex();
    const double s = color.s;
    const std::vector<std::string> ambient = {
        HSL{color.h, std::min(s * 0.88, 64.0), 21}.hex(),
        HSL{std::fmod(color.h + 28, 360.0), std::min(s * 0.68, 54.0), 15}.hex(),
        HSL{std::fmod(color.h + 336, 360.0), std::min(s * 0.54, 46.0), 11}.hex(),
    };
    return ArtworkPalette{accent, accent, ambient, accent};
}

}  // namespace velto
