#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <stop_token>
#include <vector>

#include "artwork/ArtworkImage.h"

namespace velto::ArtworkResample {

// Area (box) resampling of premultiplied RGBA: every output pixel is the coverage-weighted mean
// of the source pixels under it. Shrinks without aliasing; enlarging blends only at edges.
std::vector<std::uint8_t> area(const std::uint8_t* pixels, int width, int height, int newWidth,
                               int newHeight);

ArtworkImagePtr area(const ArtworkImage& image, int newWidth, int newHeight);

// The same, taking the source a row at a time: each output row is made as soon as the rows
// under it have come, and only those are kept. Its weights, one for each source column and row,
// are worked out at once; a stop ends that, leaving a resampler that makes nothing of worth.
class AreaRows {
  public:
    AreaRows(int width, int height, int newWidth, int newHeight, std::stop_token stop = {});
    AreaRows(const AreaRows&) = delete;
    AreaRows& operator=(const AreaRows&) = delete;
    ~AreaRows();

    // The next source row, `width` pixels. Or its first `columns` pixels so far: the same row,
    // with more of it, comes again until it is whole (a row of millions of pixels is not taken
    // in one go).
    void add(const std::uint8_t* row);
    void add(const std::uint8_t* row, int columns);
    // The output, once every source row has come.
    std::vector<std::uint8_t> take();

  private:
    struct Taps;
    void across(const std::uint8_t* row, int slot, int columns);
    void down(int y);

    int width_, height_, newWidth_, newHeight_;
    std::unique_ptr<const Taps> columns_, rows_;
    bool sameWidth_;
    std::size_t rowValues_;
    std::vector<std::uint8_t> out_;
    // A ring of source rows already resampled across; the rows an output row needs always fit.
    int ringRows_;
    std::vector<std::uint16_t> ring_;
    std::vector<std::int32_t> sum_;
    int added_ = 0;
    int addedSlot_ = 0;  // where in the ring the row being added goes
    int made_ = 0;
    // The source rows the next output row needs to have come (all of them: none is left).
    int due_ = 0;
    // Of the row being added, the outputs made across.
    int acrossMade_ = 0;
};

}  // namespace velto::ArtworkResample
