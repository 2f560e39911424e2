#pragma once

#include <zlib.h>

#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <span>
#include <string>
#include <string_view>

#include "artwork/ArtworkDecodeSource.h"
#include "artwork/ArtworkDecoder.h"

namespace velto {

// A PNG made anew for the picture library as it reads: the chunks before the image data as they
// are, then all of the image data in one chunk, inflated here by zlib (once, a deflate block at a
// time, counting the blocks, stoppable between them) and stored again in uncompressed deflate
// blocks, which the library copies instead of inflating; then the chunks after it. The library's
// own inflater could neither be stopped nor bounded in the blocks it reads. Only what the header
// needs is inflated: a stream that holds more or less, or takes more blocks than the header
// allows (see `ArtworkDecoder::pngRowBlocks`), is cut short there, and the library refuses the
// file.
class ArtworkPNGSource final : public ArtworkDecodeSource {
  public:
    // `inflatedBytes` is what the header needs, `blockLimit` the most deflate blocks it allows.
    // None when the chunks overrun the file or the image data's zlib header is one the library
    // refuses.
    static std::unique_ptr<ArtworkPNGSource> open(const std::uint8_t* data, std::size_t size,
                                                  std::int64_t inflatedBytes,
                                                  std::int64_t blockLimit,
                                                  const ArtworkDecoder::Options& options);
    ArtworkPNGSource(const ArtworkPNGSource&) = delete;
    ArtworkPNGSource& operator=(const ArtworkPNGSource&) = delete;
    ~ArtworkPNGSource() override;

    std::size_t read(std::uint8_t* out, std::size_t size) override;
    bool atEnd() const override;
    // Whether the image data inflated to what the header needs, within the limit, unstopped.
    bool complete() const override;

  private:
    enum class Step { head, blocks, done };

    ArtworkPNGSource(std::int64_t inflatedBytes, std::int64_t blockLimit,
                     const ArtworkDecoder::Options& options);
    bool split(const std::uint8_t* data, std::size_t size);
    bool start();
    bool next();
    bool inflateStep(int& result);
    bool inflateInto(std::uint8_t* out, std::size_t size);
    bool endsHere();

    const std::int64_t inflatedBytes_;
    const std::int64_t blockLimit_;
    const ArtworkDecoder::Options& options_;
    bool cgbi_ = false;
    std::string_view head_;
    std::deque<std::span<const std::uint8_t>> pieces_;
    std::string tail_;
    z_stream stream_{};
    bool inflating_ = false;
    ArtworkDecoder::Work work_;
    Step step_ = Step::head;
    std::string own_;
    std::string_view literal_;
    std::int64_t written_ = 0;
    std::size_t storedLeft_ = 0;
    bool failed_ = false;
};

}  // namespace velto
