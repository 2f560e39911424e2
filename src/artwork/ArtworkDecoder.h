#pragma once

#include <cstdint>
#include <functional>
#include <stop_token>
#include <string_view>

#include "artwork/ArtworkDecodeBudget.h"
#include "artwork/ArtworkImage.h"

namespace velto::ArtworkDecoder {

// A picture needing more pixels than this at its decode scale is refused before any bitmap is
// allocated, whatever its header claims.
inline constexpr std::int64_t defaultPixelLimit = 40'000'000;

// What a JPEG's scans make the decoder do. Each scan reads every block of its components, and a
// refinement scan walks every coefficient of its band in each block even when the file holds
// nothing but end-of-band runs; so the CPU follows the blocks summed over the scans, not the
// size of the file (a 50 KB file can ask for 125 M).
struct Work {
    int scans = 0;
    std::int64_t blocks = 0;  // summed over the scans
    // PNG: the deflate blocks of the image data inflated so far, and those of them begun that
    // bring code tables of their own.
    std::int64_t deflateBlocks = 0;
    std::int64_t tableBlocks = 0;
    // PNG: of the deflate blocks inflated so far, those that made fewer than
    // `pngSymbolsPerBlock` bytes.
    std::int64_t shortBlocks = 0;
    // GIF: the symbols (pixels) the first frame's LZW codes stand for, a clear code counted as
    // one, counted so far.
    std::int64_t symbols = 0;
    // PNG: the strips of rows handed to the picture library so far.
    int strips = 0;
};

// A refinement of the whole band, the costliest kind of scan, reads a block in 40 to 55 ns on the
// development machine (more as the picture grows), so 12 M blocks bound a JPEG's scans to about
// 0.65 s of CPU there. libjpeg's standard progression reads a picture's blocks 5 to 6 times:
// at most 11.8 M for a picture within the 256 MB decode budget (a grey one; 10.4 M in colour).
// A single scan of 12 M blocks is a baseline picture of some 500 M pixels.
inline constexpr std::int64_t defaultWorkLimit = 12'000'000;
// No encoder writes this many scans (libjpeg's progression has 6 to 10; TurboJPEG refuses more
// than 500 too).
inline constexpr int scanLimit = 500;

// A GIF decoder walks each LZW code's whole string, a symbol a step, even past the end of the
// frame: its work follows the symbols the codes stand for, not the size of the file (12 bits can
// stand for 4095 symbols; 1 MB, 3 G of them, 8 s). An encoder's codes stand for the frame's
// pixels, a symbol each: a first frame whose codes stand for more than twice its pixels and this
// allowance is refused. The codes are counted before decoding, without expanding them.
inline constexpr std::int64_t gifSymbolAllowance = 65'536;
constexpr std::int64_t gifSymbolLimit(std::int64_t framePixels) {
    return 2 * framePixels + gifSymbolAllowance;
}

// A deflate block with code tables of its own costs its inflater about a microsecond to build
// them, however little it holds (an empty one is 11.5 bytes: 16 MB of them, 1.4 M microseconds);
// a stored or fixed-code one some 15 ns. An encoder's blocks hold image data: zlib ends one every
// 16 K symbols, but every 127 at its smallest memory level, and a writer that flushes in a row
// ends one there and adds an empty one. So a row of n bytes flushed twice may take n / 127
// blocks, rounded up, and three more; a PNG whose image data takes more blocks than its rows
// may, and this allowance, is refused when it gets there.
inline constexpr std::int64_t pngBlockAllowance = 64;
inline constexpr std::int64_t pngSymbolsPerBlock = 127;
constexpr std::int64_t pngRowBlocks(std::int64_t rowBytes) {
    return (rowBytes + pngSymbolsPerBlock - 1) / pngSymbolsPerBlock + 3;
}
// Blocks with tables are bounded apart, so that rows a byte wide cannot make a cover's 16 MB all
// of them: a PNG whose image data begins more than it needs at zlib's smallest blocks (one every
// 127 bytes, one more for each row of 127 bytes or more that a flush cuts, and the allowance),
// and more than this floor, is refused before their tables are built. The floor, about 0.1 s of
// CPU, leaves pictures of narrower rows a block with tables for each of 100,000 rows.
inline constexpr std::int64_t pngTableBlockLimit = 100'000;
// Blocks that inflate fewer bytes than zlib's smallest hold symbols come only where a writer
// flushes (the block it cuts, and an empty one after it) and at the stream's end; each costs
// its inflater its setting up, however little it holds, so past this many (some 15 ms) a PNG
// is refused. A writer flushing every row reaches it at 500,000 rows.
inline constexpr std::int64_t pngShortBlockLimit = 1'000'000;
// A picture stored without interlacing, `rows` of `rowBytes` each (its filter byte counted).
constexpr std::int64_t pngBlockLimit(std::int64_t rows, std::int64_t rowBytes) {
    return pngBlockAllowance + rows * pngRowBlocks(rowBytes);
}

struct Options {
    std::int64_t pixelLimit = defaultPixelLimit;
    // JPEG only: decode at the smallest DCT scale that still reaches the target. Off decodes at
    // full size first (kept for comparison in the benchmarks).
    bool scaledDecode = true;
    // What the decode may cost in memory is judged from the header (full size, components,
    // progressive or not, sample depth) and reserved here before anything is allocated; a
    // picture over the whole budget is refused, one that fits waits its turn.
    ArtworkDecodeBudget* budget = &ArtworkDecodeBudget::shared();
    // JPEG only: the work a picture's scans ask for is judged from the scan headers of the
    // whole file before anything is allocated, and a picture over this many blocks (or over
    // `scanLimit` scans) is refused; a decode that gets there all the same (the library
    // finding scans the judgement did not) is stopped there.
    std::int64_t workLimit = defaultWorkLimit;
    // Ends the decode, which then gives none: while it waits for the budget, between the rows
    // and scans of a JPEG, between the deflate blocks, the rows and the strips of a PNG, between
    // the data blocks of a GIF, and between the rows taken in after decoding.
    std::stop_token stop;
    // Called with the work counted so far, before the limits are checked: as each scan of a JPEG
    // starts (that scan's included), after each deflate block of a PNG's image data and as each
    // strip of it is handed to the library, and as each data sub-block of a GIF's first frame is
    // reached in the count before decoding. For tests and benchmarks; it must not throw.
    std::function<void(const Work&)> onWork;
    // GIF and BMP: called once the library has read the whole file, as it goes on to decode
    // alone. (A PNG goes to it in strips of rows.) For tests and benchmarks; it must not throw.
    std::function<void()> onRead;
    // Called as each row of the decoded picture is taken in (premultiplied, and resized with
    // the next when the picture is kept smaller), with the rows so far. For tests and
    // benchmarks; it must not throw.
    std::function<void(std::int64_t rows)> onRow;
};

// Decodes JPEG (libjpeg-turbo; EXIF orientation applied, CMYK converted), PNG, GIF (first frame)
// and BMP into a picture whose longest side is at most `maximumPixelDimension` (never enlarged).
// None for bytes that are no such picture, one over the pixel limit, the memory budget or the
// work limits, or a decode stopped.
ArtworkImagePtr downsample(std::string_view data, std::int64_t maximumPixelDimension,
                           const Options& options = {});

}  // namespace velto::ArtworkDecoder
