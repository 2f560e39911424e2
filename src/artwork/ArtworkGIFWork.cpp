#include "artwork/ArtworkGIFWork.h"

#include <algorithm>
#include <vector>

namespace velto::ArtworkGIFWork {

bool fits(const std::uint8_t* data, std::size_t size, const ArtworkDecoder::Options& options) {
    std::size_t at = 0;
    auto get8 = [&]() -> int { return at < size ? data[at++] : 0; };
    auto get16 = [&] { return get8() | get8() << 8; };
    auto skip = [&](std::size_t count) { at += std::min(count, size - at); };
    skip(6);  // the signature, which the caller checked
    const int screenWidth = get16(), screenHeight = get16();
    const int flags = get8();
    skip(2);  // background colour, aspect ratio
    if (flags & 0x80) skip(3 * (2u << (flags & 7)));
    std::int64_t pixels = 0;
    for (bool frame = false; !frame;) {
        switch (get8()) {
            case 0x2C: {
                const int x = get16(), y = get16(), width = get16(), height = get16();
                if (x + width > screenWidth || y + height > screenHeight) return false;
                const int localFlags = get8();
                if (localFlags & 0x80)
                    skip(3 * (2u << (localFlags & 7)));
                else if (!(flags & 0x80))
                    return false;
                pixels = static_cast<std::int64_t>(width) * height;
                frame = true;
                break;
            }
            case 0x21: {  // an extension: a graphic control one read as the library reads it
                if (get8() == 0xF9) {
                    const int length = get8();
                    skip(static_cast<std::size_t>(length));
                    if (length != 4) break;
                }
                while (const int length = get8()) skip(static_cast<std::size_t>(length));
                break;
            }
            default:  // the end of the file before any frame, or bytes of no block
                return false;
        }
    }

    const int minimumSize = get8();
    if (minimumSize > 12) return false;
    const int clear = 1 << minimumSize;
    const std::int64_t limit = ArtworkDecoder::gifSymbolLimit(pixels);
    // The library's table: codes up to 4095 are read, entries up to 8191 made.
    std::vector<std::int32_t> lengths(8192, 1);
    int codeSize = minimumSize + 1, next = clear + 2, previous = -1, blockLeft = 0, bitCount = 0;
    std::uint32_t bits = 0;
    bool cleared = false;
    ArtworkDecoder::Work work;
    for (;;) {
        if (bitCount < codeSize) {
            if (blockLeft == 0) {
                blockLeft = get8();
                if (blockLeft == 0) return true;
                if (options.onWork) options.onWork(work);
                if (options.stop.stop_requested()) return false;
            }
            --blockLeft;
            bits |= static_cast<std::uint32_t>(get8()) << bitCount;
            bitCount += 8;
            continue;
        }
        const int code = static_cast<int>(bits & ((1u << codeSize) - 1));
        bits >>= codeSize;
        bitCount -= codeSize;
        if (code == clear) {
            codeSize = minimumSize + 1, next = clear + 2, previous = -1, cleared = true;
            ++work.symbols;
        } else if (code == clear + 1) {
            return true;  // the library skips the rest of the frame's data
        } else if (code <= next && cleared) {
            if (previous >= 0) {
                if (next == 8192) return false;  // the table overflows
                lengths[static_cast<std::size_t>(next++)] =
                    lengths[static_cast<std::size_t>(previous)] + 1;
            } else if (code == next) {
                return false;
            }
            work.symbols += lengths[static_cast<std::size_t>(code)];
            if ((next & ((1 << codeSize) - 1)) == 0 && next <= 0xFFF) ++codeSize;
            previous = code;
        } else {
            return false;  // a code past the table, or one before the first clear code
        }
        if (work.symbols > limit) return false;
    }
}

}  // namespace velto::ArtworkGIFWork
