#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace velto::HostileCovers {

// A small progressive JPEG whose frame header claims `width` × `height` (4:2:0 colour): a few
// hundred bytes that a decoder trusting the header would allocate the whole picture for.
std::string progressiveJpeg(int width, int height);

// A small baseline JPEG (4:2:0 colour) whose frame header claims `width` × `height`: the
// decoder finds the data short and fills the rest of the picture with grey.
std::string baselineJpeg(int width, int height);

// One scan of a progressive JPEG: its band of coefficients (spectral selection `ss` to `se`)
// and its bit positions (successive approximation: `ah` the previous low bit, 0 in a first scan;
// `al` the new one).
struct JpegScan {
    int ss, se, ah, al;
};

// A progressive greyscale JPEG of `width` × `height` whose coefficients are all zero, coded in
// the given scans as they are, rules of progression or not (libjpeg only warns at a scan that
// breaks them). A DC scan costs a bit a block; an AC scan nothing but end-of-band runs, about
// 90 bytes at 10000², so the file stays small whatever work its scans ask for.
std::string zeroProgressiveJpeg(int width, int height, const std::vector<JpegScan>& scans);

// The refinement bomb: a DC scan, then `refinements` AC refinement scans of the whole band, the
// same one over and over (each one a "bogus progression" that libjpeg only warns about). 500
// scans in all by default, just within TurboJPEG's scan limit; every refinement makes the
// decoder walk every coefficient of every block.
std::string refinementJpeg(int width, int height, int refinements = 499);

// A PNG of all-zero samples at the given bit depth and colour type (0 grey, 2 RGB, 4 grey with
// alpha, 6 RGBA), its image data deflated to about 1 byte per 160. The data inflates to
// `inflatedBytes`, or (when negative) to exactly what the header needs. `emptyBlocks` deflate
// blocks that hold nothing (dynamic-Huffman ones, 11.5 bytes each), then `emptyFixedBlocks`
// (fixed-code ones, 10 bits each), come ahead of the data, one block. Interlaced, the header
// says so; the data is the same size only where the passes' rows hold as many bytes as the
// picture's (a picture a pixel wide).
std::string zeroPng(int width, int height, int bitDepth, int colourType,
                    std::int64_t inflatedBytes = -1, std::int64_t emptyBlocks = 0,
                    std::int64_t emptyFixedBlocks = 0, bool interlaced = false);

// How zlib deflates a PNG's image data: at a memory level from 1 to 9 (at 1 and 2 it ends a
// block every 127 and 255 symbols), and after each row with the given flush (Z_SYNC_FLUSH or
// Z_FULL_FLUSH, as a writer that streams its rows does; Z_NO_FLUSH for none), the row handed
// over in `rowParts` parts, each flushed; with the given strategy.
struct PngDeflation {
    int memoryLevel = 8;
    int rowFlush = 0;
    int rowParts = 1;
    int strategy = 0;  // Z_DEFAULT_STRATEGY; Z_HUFFMAN_ONLY writes literals only
};

// A PNG of any colour type (0 grey, 2 RGB, 3 palette, 4 grey with alpha, 6 RGBA) and depth,
// interlaced or not. `samples` hold each pixel's samples, row after row, a value of `depth` bits
// each; `palette` and `transparency` are the bodies of those chunks, left out when empty.
struct PngPicture {
    int width = 0;
    int height = 0;
    int colourType = 6;
    int depth = 8;
    bool interlaced = false;
    std::string palette;
    std::string transparency;
    std::vector<std::uint16_t> samples;
};

// Its rows (each pass's when interlaced) are filtered with each of the five filters in turn.
std::string png(const PngPicture& picture, PngDeflation deflation = {});

// GIF LZW codes at a minimum code size of 2: the four colours of the palette below, then these.
inline constexpr int gifClear = 4;

// A GIF of one frame filling its `width` × `height` screen, drawn in black, red, green and blue
// (codes 0 to 3) with the given codes, an end code after them; the codes are written at the sizes
// the decoder reads them.
std::string gif(int width, int height, const std::vector<int>& codes);

// `count` codes, each a pixel of `colour` but for a clear code first and every 4000 codes,
// before the code table fills.
std::vector<int> rootCodes(std::int64_t count, int colour);

// The chain GIF: a 1×1 picture whose codes, round after round until the file reaches `bytes`,
// are a clear code, a pixel, then each the code just made (one symbol longer than the one before)
// up to the largest code of 4091 symbols, then that one again until the code table is full. A
// decoder that walks each code's string draws one pixel and walks 25 M symbols a round of 11.7 KB.
std::string chainGif(std::size_t bytes);

}  // namespace velto::HostileCovers
