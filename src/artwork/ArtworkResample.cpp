#include "artwork/ArtworkResample.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <deque>
#include <utility>

namespace velto::ArtworkResample {
namespace {

struct Tap {
    int source;
    float weight;
};

// For each output index, the source indices it covers and their share of it.
std::vector<std::vector<Tap>> taps(int from, int to) {
    std::vector<std::vector<Tap>> result(static_cast<std::size_t>(to));
    const double scale = static_cast<double>(from) / to;
    for (int i = 0; i < to; ++i) {
        const double start = i * scale;
        const double end = std::min<double>(from, (i + 1) * scale);
        int first = static_cast<int>(std::floor(start));
        for (int j = first; j < from && j < end; ++j) {
            const double overlap = std::min<double>(end, j + 1) - std::max<double>(start, j);
            if (overlap > 0) result[i].push_back({j, static_cast<float>(overlap / (end - start))});
        }
        if (result[i].empty()) result[i].push_back({std::min(first, from - 1), 1.0f});
    }
    return result;
}

}  // namespace

std::vector<std::uint8_t> area(const std::uint8_t* pixels, int width, int height, int newWidth,
                               int newHeight) {
    const auto columns = taps(width, newWidth);
    const auto rows = taps(height, newHeight);
    const std::size_t rowFloats = static_cast<std::size_t>(newWidth) * 4;
    std::vector<std::uint8_t> out(rowFloats * static_cast<std::size_t>(newHeight));

    // Source rows resampled across, kept while later output rows still need them.
    std::deque<std::pair<int, std::vector<float>>> window;
    auto across = [&](int y) -> const std::vector<float>& {
        for (const auto& [index, values] : window)
            if (index == y) return values;
        std::vector<float> values(rowFloats, 0.0f);
        const std::uint8_t* src = pixels + static_cast<std::size_t>(y) * width * 4;
        for (int x = 0; x < newWidth; ++x) {
            float sum[4] = {0, 0, 0, 0};
            for (const Tap& tap : columns[x]) {
                const std::uint8_t* p = src + static_cast<std::size_t>(tap.source) * 4;
                for (int c = 0; c < 4; ++c) sum[c] += p[c] * tap.weight;
            }
            for (int c = 0; c < 4; ++c) values[static_cast<std::size_t>(x) * 4 + c] = sum[c];
        }
        window.emplace_back(y, std::move(values));
        return window.back().second;
    };

    std::vector<float> sum(rowFloats);
    for (int y = 0; y < newHeight; ++y) {
        const int firstNeeded = rows[y].front().source;
        while (!window.empty() && window.front().first < firstNeeded) window.pop_front();
        std::fill(sum.begin(), sum.end(), 0.0f);
        for (const Tap& tap : rows[y]) {
            const auto& values = across(tap.source);
            for (std::size_t i = 0; i < rowFloats; ++i) sum[i] += values[i] * tap.weight;
        }
        std::uint8_t* dst = out.data() + rowFloats * static_cast<std::size_t>(y);
        for (std::size_t i = 0; i < rowFloats; ++i)
            dst[i] = static_cast<std::uint8_t>(std::clamp(sum[i] + 0.5f, 0.0f, 255.0f));
    }
    return out;
}

ArtworkImagePtr area(const ArtworkImage& image, int newWidth, int newHeight) {
    return ArtworkImage::make(newWidth, newHeight,
                              area(image.pixels().data(), image.width(), image.height(), newWidth,
                                   newHeight));
}

}  // namespace velto::ArtworkResample
