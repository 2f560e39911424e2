#include "artwork/ArtworkResample.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstddef>

namespace velto::ArtworkResample {
namespace {

constexpr int weightBits = 14;
constexpr int weightOne = 1 << weightBits;
// Rows resampled across keep this many extra bits between the two passes.
constexpr int middleBits = 8;

// As std::lround for a value that is not negative, inline: the weights of a picture of millions
// of rows take one each, and a call into the maths library for it cost more than the rest.
std::int32_t roundHalfUp(double value) {
    auto whole = static_cast<std::int32_t>(value);
    return value - whole >= 0.5 ? whole + 1 : whole;
}

}  // namespace

// For each output index: the first source index it covers and fixed-point weights (their share
// of the output pixel) that sum to exactly weightOne.
struct AreaRows::Taps {
    std::vector<int> start;
    std::vector<int> count;
    std::vector<int> offset;
    // Each at most weightOne: two bytes hold it, so a row of millions of pixels weighs less.
    std::vector<std::int16_t> weights;
    int widest = 1;

    Taps(int from, int to, const std::stop_token& stop) : start(to), count(to), offset(to) {
        // A source index is under two outputs at most.
        weights.reserve(static_cast<std::size_t>(from) + static_cast<std::size_t>(to));
        const double scale = static_cast<double>(from) / to;
        for (int i = 0; i < to; ++i) {
            // An output may stand for millions of sources (a picture a row high, shrunk).
            if (stop.stop_requested()) return;
            const double begin = i * scale;
            const double end = std::min<double>(from, (i + 1) * scale);
            const int first = std::min(static_cast<int>(std::floor(begin)), from - 1);
            offset[i] = static_cast<int>(weights.size());
            start[i] = first;
            // Differences of rounded running shares: never negative, and they sum to exactly
            // weightOne however many sources one output covers.
            const auto share = [&](double at) {
                const double covered = std::clamp((at - begin) / (end - begin), 0.0, 1.0);
                return roundHalfUp(covered * weightOne);
            };
            std::int32_t before = share(first);
            int n = 0;
            for (int j = first; j < from && (j < end || j == first); ++j, ++n) {
                const std::int32_t after = share(j + 1);
                weights.push_back(static_cast<std::int16_t>(after - before));
                before = after;
            }
            count[i] = n;
            widest = std::max(widest, n);
        }
    }
};

AreaRows::AreaRows(int width, int height, int newWidth, int newHeight, std::stop_token stop)
    : width_(width),
      height_(height),
      newWidth_(newWidth),
      newHeight_(newHeight),
      columns_(std::make_unique<const Taps>(width, newWidth, stop)),
      rows_(std::make_unique<const Taps>(height, newHeight, stop)),
      sameWidth_(width == newWidth),
      rowValues_(static_cast<std::size_t>(newWidth) * 4),
      ringRows_(rows_->widest),
      ring_(rowValues_ * static_cast<std::size_t>(ringRows_)),
      sum_(rowValues_) {
    out_.reserve(rowValues_ * static_cast<std::size_t>(newHeight));
    due_ = newHeight_ > 0 ? rows_->start[0] + rows_->count[0] : INT_MAX;
}

AreaRows::~AreaRows() = default;

void AreaRows::add(const std::uint8_t* row) {
    add(row, width_);
}

void AreaRows::add(const std::uint8_t* row, int columns) {
    if (added_ == height_) return;
    across(row, addedSlot_, columns);
    if (columns < width_) return;
    acrossMade_ = 0;
    ++added_;
    if (++addedSlot_ == ringRows_) addedSlot_ = 0;
    while (added_ >= due_) {
        down(made_++);
        due_ = made_ < newHeight_ ? rows_->start[made_] + rows_->count[made_] : INT_MAX;
    }
}

std::vector<std::uint8_t> AreaRows::take() {
    return std::move(out_);
}

// The outputs of the row being added, kept at `slot` of the ring, whose sources are among its
// first `come` columns.
void AreaRows::across(const std::uint8_t* src, int slot, int come) {
    const Taps& columns = *columns_;
    std::uint16_t* dst = ring_.data() + rowValues_ * static_cast<std::size_t>(slot);
    if (sameWidth_) {
        // Nothing to resample across: each value as it is, with the extra bits.
        for (std::size_t i = static_cast<std::size_t>(acrossMade_) * 4;
             i < static_cast<std::size_t>(come) * 4; ++i)
            dst[i] = static_cast<std::uint16_t>(src[i] << middleBits);
        acrossMade_ = come;
        return;
    }
    int x = acrossMade_;
    for (; x < newWidth_ && columns.start[x] + columns.count[x] <= come; ++x) {
        std::int32_t sum[4] = {0, 0, 0, 0};
        const std::int16_t* w = columns.weights.data() + columns.offset[x];
        const std::uint8_t* p = src + static_cast<std::size_t>(columns.start[x]) * 4;
        for (int t = 0; t < columns.count[x]; ++t, p += 4) {
            sum[0] += p[0] * w[t], sum[1] += p[1] * w[t];
            sum[2] += p[2] * w[t], sum[3] += p[3] * w[t];
        }
        for (int c = 0; c < 4; ++c) {
            dst[static_cast<std::size_t>(x) * 4 + c] = static_cast<std::uint16_t>(
                (sum[c] + (1 << (weightBits - middleBits - 1))) >> (weightBits - middleBits));
        }
    }
    acrossMade_ = x;
}

void AreaRows::down(int y) {
    const Taps& rows = *rows_;
    std::fill(sum_.begin(), sum_.end(), 0);
    const std::int16_t* w = rows.weights.data() + rows.offset[y];
    // The ring's slots walked in turn, not found by a division each: an output row of a tall
    // picture shrunk stands for thousands of source rows.
    int slot = rows.start[y] % ringRows_;
    for (int t = 0; t < rows.count[y]; ++t) {
        const std::uint16_t* values = ring_.data() + rowValues_ * static_cast<std::size_t>(slot);
        const std::int32_t weight = w[t];
        for (std::size_t i = 0; i < rowValues_; ++i) sum_[i] += values[i] * weight;
        if (++slot == ringRows_) slot = 0;
    }
    const std::size_t at = out_.size();
    out_.resize(at + rowValues_);
    std::uint8_t* dst = out_.data() + at;
    constexpr int shift = weightBits + middleBits;
    for (std::size_t i = 0; i < rowValues_; ++i)
        dst[i] = static_cast<std::uint8_t>(std::min((sum_[i] + (1 << (shift - 1))) >> shift, 255));
}

std::vector<std::uint8_t> area(const std::uint8_t* pixels, int width, int height, int newWidth,
                               int newHeight) {
    AreaRows rows(width, height, newWidth, newHeight);
    for (int y = 0; y < height; ++y) rows.add(pixels + static_cast<std::size_t>(y) * width * 4);
    return rows.take();
}

ArtworkImagePtr area(const ArtworkImage& image, int newWidth, int newHeight) {
    return ArtworkImage::make(
        newWidth, newHeight,
        area(image.pixels().data(), image.width(), image.height(), newWidth, newHeight));
}

}  // namespace velto::ArtworkResample
