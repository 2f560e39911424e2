#pragma once

#include <zlib.h>

#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "artwork/ArtworkDecoder.h"

namespace velto {

// A PNG handed to the picture library in strips of rows, each a PNG of its own, so that a stop
// is seen between them: the library decodes a file it has read in one call that nothing can end.
// Its image data is inflated here by zlib (once, a deflate block at a time, counting the blocks,
// stoppable between them), its filters undone and its interlaced passes put in place; each strip
// holds its rows unfiltered in uncompressed deflate blocks, which the library copies. Only what
// the header needs is inflated: a stream that holds more or less, or takes more blocks than the
// header allows (see `ArtworkDecoder::pngRowBlocks`, `pngTableBlockLimit` and
// `pngShortBlockLimit`), is refused, and so is a header naming a colour type at a depth PNG does
// not have.
class ArtworkPNGStrips {
  public:
    // What the header says. `bytes` is what the image data inflates to, interlaced passes
    // counted; `blockLimit` the most deflate blocks it may take, `tableBlockLimit` the most
    // of those with code tables of their own.
    struct Header {
        std::int64_t width = 0;
        std::int64_t height = 0;
        int depth = 0;
        int channels = 0;  // samples a pixel as stored: 1 for a palette index
        bool interlaced = false;
        std::int64_t bytes = 0;
        std::int64_t blockLimit = 0;
        std::int64_t tableBlockLimit = 0;
    };
    // None for a header that does not say.
    static std::optional<Header> header(const std::uint8_t* data, std::size_t size);

    // None when the chunks overrun the file or the image data's zlib header is one the library
    // refuses.
    static std::unique_ptr<ArtworkPNGStrips> open(const std::uint8_t* data, std::size_t size,
                                                  const Header& header,
                                                  const ArtworkDecoder::Options& options);
    ArtworkPNGStrips(const ArtworkPNGStrips&) = delete;
    ArtworkPNGStrips& operator=(const ArtworkPNGStrips&) = delete;
    ~ArtworkPNGStrips();

    // Inflates the image data and undoes its filters; false when it is not what the header
    // needs, takes too many blocks, names a filter there is not, or on a stop.
    bool prepare();
    // The next rows, about `stripBytes` of them (at least one), as a PNG the library decodes
    // alone; empty when none are left. A row larger than that comes in pieces of about as many
    // bytes, each a PNG of one row, from its left. The first strip keeps every chunk of the
    // file, so the library judges them once; the others only those it needs.
    std::string nextStrip();
    static constexpr std::int64_t stripBytes = 256 * 1024;

  private:
    ArtworkPNGStrips(const Header& header, const ArtworkDecoder::Options& options);
    bool split(const std::uint8_t* data, std::size_t size);
    bool start();
    bool inflateStep(int& result);
    bool bringsTables() const;
    bool inflateInto(std::uint8_t* out, std::size_t size);
    bool endsHere();
    bool unfilter(std::uint8_t* rows, std::int64_t width, std::int64_t height);
    bool placePass(const std::uint8_t* rows, std::int64_t width, std::int64_t height, int x0,
                   int y0, int dx, int dy);
    std::string chunksWithSize(std::string_view chunks, std::int64_t columns,
                               std::int64_t rows) const;

    const Header header_;
    const ArtworkDecoder::Options& options_;
    bool cgbi_ = false;
    std::string_view head_;        // the chunks before the image data
    std::string_view essentials_;  // the chunks up to and with the header, kept in every strip
    std::string extras_;           // the palette and transparency chunks
    std::deque<std::span<const std::uint8_t>> pieces_;
    std::string tail_;
    z_stream stream_{};
    bool inflating_ = false;
    bool atBlock_ = true;         // the inflater stands before a block's header
    std::uint8_t lastTaken_ = 0;  // the last byte of the data the inflater took
    uLong blockStart_ = 0;        // the bytes inflated before the block under way
    ArtworkDecoder::Work work_;
    std::unique_ptr<std::uint8_t[]> raw_;    // as inflated; unfiltered in place
    std::unique_ptr<std::uint8_t[]> image_;  // the rows in place, each after a filter byte of 0
    std::int64_t rowBytes_ = 0;              // of `image_`, the filter byte counted
    std::int64_t nextRow_ = 0;
    std::int64_t nextColumn_ = 0;
};

}  // namespace velto
