#include "support/HostileCovers.h"

#include <turbojpeg.h>
#include <zlib.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <memory>
#include <span>
#include <stdexcept>
#include <string_view>
#include <vector>

namespace velto::HostileCovers {
namespace {

void put32(std::string& out, std::uint32_t value) {
    for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<char>(value >> shift));
}

std::uint32_t crc32(std::string_view bytes) {
    static const auto table = [] {
        std::array<std::uint32_t, 256> t{};
        for (std::uint32_t n = 0; n < 256; ++n) {
            std::uint32_t c = n;
            for (int k = 0; k < 8; ++k) c = c & 1 ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            t[n] = c;
        }
        return t;
    }();
    std::uint32_t c = 0xFFFFFFFFu;
    for (unsigned char byte : bytes) c = table[(c ^ byte) & 0xFF] ^ (c >> 8);
    return c ^ 0xFFFFFFFFu;
}

void chunk(std::string& out, std::string_view type, const std::string& body) {
    put32(out, static_cast<std::uint32_t>(body.size()));
    const std::string typed = std::string(type) + body;
    out += typed;
    put32(out, crc32(typed));
}

// Deflate bits, least significant first; Huffman codes go in most significant bit first.
class BitWriter {
public:
    void bits(std::uint32_t value, int count) {
        for (int i = 0; i < count; ++i) push((value >> i) & 1);
    }
    void code(std::uint32_t value, int count) {
        for (int i = count - 1; i >= 0; --i) push((value >> i) & 1);
    }
    std::string finish() {
        if (used_) out_.push_back(static_cast<char>(current_));
        return std::move(out_);
    }

private:
    void push(std::uint32_t bit) {
        current_ |= bit << used_;
        if (++used_ == 8) {
            out_.push_back(static_cast<char>(current_));
            current_ = 0, used_ = 0;
        }
    }
    std::string out_;
    std::uint32_t current_ = 0;
    int used_ = 0;
};

// A dynamic-Huffman block that holds nothing: 92 bits, three code tables for a decoder to build.
// Code lengths are coded with 18 (a run of zeros) as "0", 0 as "10" and 1 as "11"; the only
// literal/length code is end-of-block's, one bit long, and there are no distance codes.
void emptyDynamicBlock(BitWriter& writer) {
    writer.bits(0, 1);   // not the last block
    writer.bits(2, 2);   // dynamic codes
    writer.bits(0, 5);   // 257 literal/length codes
    writer.bits(0, 5);   // one distance code
    writer.bits(14, 4);  // 18 code-length code lengths, in their order 16 17 18 0 8 7 ... 2 14 1
    for (int length : {0, 0, 1, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 2})
        writer.bits(static_cast<std::uint32_t>(length), 3);
    writer.code(0, 1), writer.bits(138 - 11, 7);  // literals 0-137 unused
    writer.code(0, 1), writer.bits(118 - 11, 7);  // literals 138-255 unused
    writer.code(3, 2);                            // end-of-block: one bit
    writer.code(2, 2);                            // the distance code unused
    writer.code(0, 1);                            // end-of-block
}

// A zlib stream of `count` zero bytes: `emptyBlocks` empty dynamic blocks, then one literal and
// back-references of 258 bytes at distance 1 in a fixed-Huffman block.
std::string zlibZeros(std::uint64_t count, std::int64_t emptyBlocks = 0,
                      std::int64_t emptyFixedBlocks = 0) {
    BitWriter writer;
    for (std::int64_t i = 0; i < emptyBlocks; ++i) emptyDynamicBlock(writer);
    for (std::int64_t i = 0; i < emptyFixedBlocks; ++i) {
        writer.bits(0, 1);  // not the last block
        writer.bits(1, 2);  // fixed codes
        writer.code(0, 7);  // end of block
    }
    writer.bits(1, 1);  // last block
    writer.bits(1, 2);  // fixed codes
    std::uint64_t written = 0;
    auto literalZero = [&] { writer.code(0x30, 8), ++written; };
    if (count > 0) literalZero();
    while (count - written >= 258) {
        writer.code(0xC5, 8);  // length 258
        writer.code(0, 5);     // distance 1
        written += 258;
    }
    while (written < count) literalZero();
    writer.code(0, 7);  // end of block
    std::string out("\x78\x01", 2);
    out += writer.finish();
    put32(out, static_cast<std::uint32_t>(count % 65521) << 16 | 1);  // Adler-32 of zeros
    return out;
}

// Bits of JPEG entropy-coded data, most significant first, a 0 stuffed after each 0xFF byte.
class JpegBits {
public:
    void put(std::uint32_t value, int count) {
        for (int i = count - 1; i >= 0; --i) {
            current_ = current_ << 1 | ((value >> i) & 1);
            if (++used_ == 8) flush();
        }
    }
    std::string finish() {
        while (used_ != 0) put(1, 1);  // padded with ones
        return std::move(out_);
    }

private:
    void flush() {
        out_.push_back(static_cast<char>(current_));
        if (current_ == 0xFF) out_.push_back('\0');
        current_ = 0, used_ = 0;
    }
    std::string out_;
    std::uint32_t current_ = 0;
    int used_ = 0;
};

void segment(std::string& out, unsigned char marker, const std::string& body) {
    const std::size_t length = body.size() + 2;
    out += {char(0xFF), static_cast<char>(marker), static_cast<char>(length >> 8),
            static_cast<char>(length & 0xFF)};
    out += body;
}

}  // namespace

std::string zeroProgressiveJpeg(int width, int height, const std::vector<JpegScan>& scans) {
    std::string out("\xFF\xD8", 2);
    segment(out, 0xDB, std::string(1, '\0') + std::string(64, '\1'));  // quantisers of 1
    segment(out, 0xC2,
            {8, static_cast<char>(height >> 8), static_cast<char>(height),
             static_cast<char>(width >> 8), static_cast<char>(width), 1, 1, 0x11, 0});
    // DC table 0: one code, "0", for a difference of nothing. AC table 0: the end-of-band runs
    // EOB0 to EOB14 (symbols 0x00 to 0xE0), four bits each, the code of EOBr being r.
    std::string tables;
    tables += '\x00';
    tables += std::string(1, '\1') + std::string(15, '\0');
    tables += '\0';
    tables += '\x10';
    tables += std::string(3, '\0') + std::string(1, '\x0F') + std::string(12, '\0');
    for (int r = 0; r < 15; ++r) tables += static_cast<char>(r << 4);
    segment(out, 0xC4, tables);

    const std::int64_t blocks =
        static_cast<std::int64_t>((width + 7) / 8) * static_cast<std::int64_t>((height + 7) / 8);
    for (const JpegScan& scan : scans) {
        segment(out, 0xDA,
                {1, 1, 0, static_cast<char>(scan.ss), static_cast<char>(scan.se),
                 static_cast<char>(scan.ah << 4 | scan.al)});
        JpegBits bits;
        if (scan.ss == 0) {
            // A first DC scan codes each block's difference (code "0"); a refinement its bit.
            for (std::int64_t i = 0; i < blocks; ++i) bits.put(0, 1);
        } else {
            // Runs of at most 32767 blocks: EOBr, then r bits of the run less 2^r.
            for (std::int64_t left = blocks; left > 0;) {
                const auto run = static_cast<std::uint32_t>(std::min<std::int64_t>(left, 32767));
                int r = 0;
                while ((run >> (r + 1)) != 0) ++r;
                bits.put(static_cast<std::uint32_t>(r), 4);
                bits.put(run - (1u << r), r);
                left -= run;
            }
        }
        out += bits.finish();
    }
    out += "\xFF\xD9";
    return out;
}

std::string refinementJpeg(int width, int height, int refinements) {
    std::vector<JpegScan> scans{{0, 0, 0, 0}};
    scans.insert(scans.end(), static_cast<std::size_t>(std::max(refinements, 0)), {1, 63, 1, 0});
    return zeroProgressiveJpeg(width, height, scans);
}

std::string progressiveJpeg(int width, int height) {
    std::unique_ptr<void, int (*)(tjhandle)> handle(tjInitCompress(), tjDestroy);
    std::vector<unsigned char> pixels(16 * 16 * 4, 128);
    unsigned char* out = nullptr;
    unsigned long size = 0;
    if (!handle || tjCompress2(handle.get(), pixels.data(), 16, 0, 16, TJPF_RGBX, &out, &size,
                               TJSAMP_420, 90, TJFLAG_PROGRESSIVE) != 0) {
        throw std::runtime_error("the progressive encoder failed");
    }
    std::string data(reinterpret_cast<const char*>(out), size);
    tjFree(out);
    for (std::size_t at = 2; at + 9 < data.size();) {
        const auto marker = static_cast<unsigned char>(data[at + 1]);
        const std::size_t length = static_cast<unsigned char>(data[at + 2]) << 8 |
                                   static_cast<unsigned char>(data[at + 3]);
        if (marker == 0xC2) {
            data[at + 5] = static_cast<char>(height >> 8), data[at + 6] = static_cast<char>(height);
            data[at + 7] = static_cast<char>(width >> 8), data[at + 8] = static_cast<char>(width);
            return data;
        }
        at += 2 + length;
    }
    throw std::runtime_error("no progressive frame header");
}

std::string baselineJpeg(int width, int height) {
    std::unique_ptr<void, int (*)(tjhandle)> handle(tjInitCompress(), tjDestroy);
    std::vector<unsigned char> pixels(16 * 16 * 4, 128);
    unsigned char* out = nullptr;
    unsigned long size = 0;
    if (!handle || tjCompress2(handle.get(), pixels.data(), 16, 0, 16, TJPF_RGBX, &out, &size,
                               TJSAMP_420, 90, 0) != 0) {
        throw std::runtime_error("the baseline encoder failed");
    }
    std::string data(reinterpret_cast<const char*>(out), size);
    tjFree(out);
    const auto sof = data.find("\xFF\xC0");
    if (sof == std::string::npos) throw std::runtime_error("no baseline frame header");
    data[sof + 5] = static_cast<char>(height >> 8), data[sof + 6] = static_cast<char>(height);
    data[sof + 7] = static_cast<char>(width >> 8), data[sof + 8] = static_cast<char>(width);
    return data;
}

std::string zeroPng(int width, int height, int bitDepth, int colourType,
                    std::int64_t inflatedBytes, std::int64_t emptyBlocks,
                    std::int64_t emptyFixedBlocks, bool interlaced) {
    const int channels = colourType == 6 ? 4 : colourType == 2 ? 3 : colourType == 4 ? 2 : 1;
    std::string header;
    put32(header, static_cast<std::uint32_t>(width));
    put32(header, static_cast<std::uint32_t>(height));
    header += {static_cast<char>(bitDepth), static_cast<char>(colourType), 0, 0,
               static_cast<char>(interlaced)};
    const std::uint64_t rowBytes =
        1 + (static_cast<std::uint64_t>(width) * channels * bitDepth + 7) / 8;
    std::string out("\x89PNG\r\n\x1a\n", 8);
    chunk(out, "IHDR", header);
    chunk(out, "IDAT", zlibZeros(inflatedBytes < 0 ? rowBytes * static_cast<std::uint64_t>(height)
                                                   : static_cast<std::uint64_t>(inflatedBytes),
                                 emptyBlocks, emptyFixedBlocks));
    chunk(out, "IEND", "");
    return out;
}

std::string png(const PngPicture& picture, PngDeflation deflation) {
    const int type = picture.colourType, depth = picture.depth;
    const std::size_t channels = type == 6 ? 4 : type == 2 ? 3 : type == 4 ? 2 : 1;
    const auto width = static_cast<std::size_t>(picture.width);
    const auto height = static_cast<std::size_t>(picture.height);
    if (picture.samples.size() != width * height * channels)
        throw std::invalid_argument("the samples do not fill the picture");
    const std::size_t step = std::max<std::size_t>(1, channels * depth / 8);
    auto paeth = [](int a, int b, int c) {
        const int p = a + b - c, pa = std::abs(p - a), pb = std::abs(p - b), pc = std::abs(p - c);
        return pa <= pb && pa <= pc ? a : pb <= pc ? b : c;
    };
    z_stream stream{};
    if (deflateInit2(&stream, Z_DEFAULT_COMPRESSION, Z_DEFLATED, 15, deflation.memoryLevel,
                     deflation.strategy) != Z_OK)
        throw std::runtime_error("zlib refused the settings");
    std::string data;
    auto deflateBytes = [&](std::span<std::uint8_t> bytes, int flush) {
        stream.next_in = bytes.data();
        stream.avail_in = static_cast<uInt>(bytes.size());
        int result;
        do {
            char out[16384];
            stream.next_out = reinterpret_cast<Bytef*>(out);
            stream.avail_out = sizeof out;
            result = deflate(&stream, flush);
            data.append(out, sizeof out - stream.avail_out);
        } while (stream.avail_out == 0 || (flush == Z_FINISH && result != Z_STREAM_END));
    };
    // The rows of each pass (the whole picture when not interlaced), packed, then filtered.
    static constexpr int passes[7][4] = {{0, 0, 8, 8}, {4, 0, 8, 8}, {0, 4, 4, 8}, {2, 0, 4, 4},
                                         {0, 2, 2, 4}, {1, 0, 2, 2}, {0, 1, 1, 2}};
    static constexpr int whole[1][4] = {{0, 0, 1, 1}};
    const auto layout = picture.interlaced ? std::span<const int[4]>(passes)
                                           : std::span<const int[4]>(whole);
    int filter = 0;
    for (const auto& [x0, y0, dx, dy] : layout) {
        if (width <= static_cast<std::size_t>(x0) || height <= static_cast<std::size_t>(y0))
            continue;
        const std::size_t passWidth = (width + dx - 1 - x0) / dx;
        const std::size_t rowBytes = (passWidth * channels * depth + 7) / 8;
        std::vector<std::uint8_t> above(rowBytes), line(rowBytes), row(rowBytes + 1);
        for (std::size_t y = y0; y < height; y += dy) {
            std::fill(line.begin(), line.end(), 0);
            std::size_t bit = 0;
            for (std::size_t x = x0; x < width; x += dx) {
                for (std::size_t c = 0; c < channels; ++c, bit += depth) {
                    const unsigned value = picture.samples[(y * width + x) * channels + c];
                    if (depth == 16) {
                        line[bit / 8] = static_cast<std::uint8_t>(value >> 8);
                        line[bit / 8 + 1] = static_cast<std::uint8_t>(value);
                    } else {
                        line[bit / 8] |= static_cast<std::uint8_t>(value << (8 - depth - bit % 8));
                    }
                }
            }
            filter = (filter + 1) % 5;
            row[0] = static_cast<std::uint8_t>(filter);
            for (std::size_t i = 0; i < rowBytes; ++i) {
                const int a = i >= step ? line[i - step] : 0, b = above[i];
                const int c = i >= step ? above[i - step] : 0;
                const int predicted = filter == 1   ? a
                                      : filter == 2 ? b
                                      : filter == 3 ? (a + b) / 2
                                      : filter == 4 ? paeth(a, b, c)
                                                    : 0;
                row[i + 1] = static_cast<std::uint8_t>(line[i] - predicted);
            }
            std::swap(above, line);
            const std::size_t parts = static_cast<std::size_t>(std::max(deflation.rowParts, 1));
            for (std::size_t part = 0; part < parts; ++part) {
                const std::size_t from = row.size() * part / parts;
                const std::size_t to = row.size() * (part + 1) / parts;
                deflateBytes(std::span(row).subspan(from, to - from), deflation.rowFlush);
            }
        }
    }
    deflateBytes({}, Z_FINISH);
    deflateEnd(&stream);

    std::string header;
    put32(header, static_cast<std::uint32_t>(width));
    put32(header, static_cast<std::uint32_t>(height));
    header += {static_cast<char>(depth), static_cast<char>(type), 0, 0,
               static_cast<char>(picture.interlaced ? 1 : 0)};
    std::string out("\x89PNG\r\n\x1a\n", 8);
    chunk(out, "IHDR", header);
    if (!picture.palette.empty()) chunk(out, "PLTE", picture.palette);
    if (!picture.transparency.empty()) chunk(out, "tRNS", picture.transparency);
    chunk(out, "IDAT", data);
    chunk(out, "IEND", "");
    return out;
}

namespace {

// LZW codes (minimum code size 2: clear 4, end 5) written at the sizes a decoder reads them, each
// one bit wider once the table reaches the next power of two, up to 12 bits.
class LzwWriter {
public:
    void put(int code) {
        bits_ |= static_cast<std::uint64_t>(code) << used_;
        used_ += size_;
        while (used_ >= 8) {
            bytes_.push_back(static_cast<char>(bits_ & 0xFF));
            bits_ >>= 8, used_ -= 8;
        }
        if (code == gifClear) {
            size_ = 3, next_ = gifClear + 2, previous_ = -1;
            return;
        }
        if (previous_ >= 0) ++next_;
        if ((next_ & ((1 << size_) - 1)) == 0 && next_ <= 0xFFF) ++size_;
        previous_ = code;
    }
    int next() const { return next_; }
    // About the size of the sub-blocks finish() writes.
    std::size_t size() const { return bytes_.size() + bytes_.size() / 255 + 2; }
    // The codes and an end code, in sub-blocks of up to 255 bytes and their terminator.
    std::string finish() {
        put(gifClear + 1);
        if (used_ > 0) bytes_.push_back(static_cast<char>(bits_ & 0xFF));
        std::string out;
        for (std::size_t at = 0; at < bytes_.size(); at += 255) {
            const std::size_t length = std::min<std::size_t>(255, bytes_.size() - at);
            out.push_back(static_cast<char>(length));
            out.append(bytes_, at, length);
        }
        out.push_back('\0');
        return out;
    }

private:
    std::string bytes_;
    std::uint64_t bits_ = 0;
    int used_ = 0, size_ = 3, next_ = gifClear + 2, previous_ = -1;
};

std::string gifWith(int width, int height, const std::string& lzw) {
    auto put16 = [](std::string& out, int value) {
        out.push_back(static_cast<char>(value & 0xFF));
        out.push_back(static_cast<char>(value >> 8));
    };
    std::string out = "GIF89a";
    put16(out, width), put16(out, height);
    out += {'\x81', 0, 0};  // a global table of four colours
    out += std::string("\0\0\0\xFF\0\0\0\xFF\0\0\0\xFF", 12);
    out += '\x2C';
    put16(out, 0), put16(out, 0), put16(out, width), put16(out, height);
    out += {0, 2};  // no table of its own, not interlaced; minimum code size 2
    return out + lzw + "\x3B";
}

}  // namespace

std::string gif(int width, int height, const std::vector<int>& codes) {
    LzwWriter writer;
    for (int code : codes) writer.put(code);
    return gifWith(width, height, writer.finish());
}

std::vector<int> rootCodes(std::int64_t count, int colour) {
    std::vector<int> codes;
    for (std::int64_t i = 0; i < count; ++i) codes.push_back(i % 4000 == 0 ? gifClear : colour);
    return codes;
}

std::string chainGif(std::size_t bytes) {
    LzwWriter writer;
    do {
        writer.put(gifClear);
        writer.put(0);
        while (writer.next() <= 0xFFF) writer.put(writer.next());
        while (writer.next() < 8192) writer.put(0xFFF);
    } while (writer.size() + 40 < bytes);
    return gifWith(1, 1, writer.finish());
}

}  // namespace velto::HostileCovers
