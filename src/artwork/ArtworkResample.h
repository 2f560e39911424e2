#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "artwork/ArtworkImage.h"

namespace velto::ArtworkResample {

// Area (box) resampling of premultiplied RGBA: every output pixel is the coverage-weighted mean
// of the source pixels under it. Shrinks without aliasing; enlarging blends only at edges.
std::vector<std::uint8_t> area(const std::uint8_t* pixels, int width, int height, int newWidth,
                               int newHeight);

ArtworkImagePtr area(const ArtworkImage& image, int newWidth, int newHeight);

// The same, taking the source a row at a time: each output row is made as soon as the rows
// under it have come, and only those are kept.
class AreaRows {
  public:
    AreaRows(int width, int height, int newWidth, int newHeight);
    AreaRows(const AreaRows&) = delete;
    AreaRows& operator=(const AreaRows&) = delete;
    ~AreaRows();

    // The next source row, `width` pixels.
    void add(const std::uint8_t* row);
    // The output, once every source row has come.
    std::vector<std::uint8_t> take();

  private:
    struct Taps;
    void across(const std::uint8_t* row, int y);
    void down(int y);

    int height_, newWidth_, newHeight_;
    std::unique_ptr<const Taps> columns_, rows_;
    std::size_t rowValues_;
    std::vector<std::uint8_t> out_;
    // A ring of source rows already resampled across; the rows an output row needs always fit.
    int ringRows_;
    std::vector<std::uint16_t> ring_;
    std::vector<std::int32_t> sum_;
    int added_ = 0;
    int made_ = 0;
};

}  // namespace velto::ArtworkResample
