#include "artwork/ArtworkPNGStrips.h"

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace velto {
namespace {

// The most an uncompressed deflate block holds.
constexpr std::size_t storedMost = 65535;

std::size_t read32(const std::uint8_t* p) {
    return std::size_t{p[0]} << 24 | std::size_t{p[1]} << 16 | std::size_t{p[2]} << 8 | p[3];
}

bool isType(const std::uint8_t* chunk, const char* type) {
    return std::equal(chunk + 4, chunk + 8, type);
}

// Where the header chunk starts: after the CgBI variant's own first chunk, if any.
std::size_t headerChunkAt(const std::uint8_t* data, std::size_t size) {
    std::size_t at = 8;
    if (size >= 16 && std::equal(data + 12, data + 16, "CgBI")) at += 12 + read32(data + 8);
    return at;
}

// Adam7: each pass's first column and row, and its steps.
constexpr int passes[7][4] = {{0, 0, 8, 8}, {4, 0, 8, 8}, {0, 4, 4, 8}, {2, 0, 4, 4},
                              {0, 2, 2, 4}, {1, 0, 2, 2}, {0, 1, 1, 2}};

std::int64_t passSide(std::int64_t side, int first, int step) {
    return (side - first + step - 1) / step;
}

// `width` pixels of `Size` bytes from `from` to every `step`th pixel from `to`: a copy of a size
// known here, not a call for each pixel.
template <std::size_t Size>
void placeEach(const std::uint8_t* from, std::int64_t width, std::uint8_t* to, int step) {
    for (std::int64_t x = 0; x < width; ++x)
        std::memcpy(to + static_cast<std::size_t>(x * step) * Size,
                    from + static_cast<std::size_t>(x) * Size, Size);
}

void placePixels(const std::uint8_t* from, std::int64_t width, std::uint8_t* to, int step,
                 int pixelBytes) {
    switch (pixelBytes) {
        case 1:
            return placeEach<1>(from, width, to, step);
        case 2:
            return placeEach<2>(from, width, to, step);
        case 3:
            return placeEach<3>(from, width, to, step);
        case 4:
            return placeEach<4>(from, width, to, step);
        case 6:
            return placeEach<6>(from, width, to, step);
        default:
            return placeEach<8>(from, width, to, step);
    }
}

const std::string_view endChunk{"\0\0\0\0IEND\xAE\x42\x60\x82", 12};

}  // namespace

std::optional<ArtworkPNGStrips::Header> ArtworkPNGStrips::header(const std::uint8_t* data,
                                                                 std::size_t size) {
    const std::size_t at = headerChunkAt(data, size);
    if (at > size || size - at < 25 || !isType(data + at, "IHDR")) return std::nullopt;
    const std::uint8_t* fields = data + at + 8;
    Header header;
    header.width = static_cast<std::int64_t>(read32(fields));
    header.height = static_cast<std::int64_t>(read32(fields + 4));
    header.depth = fields[8];
    const int type = fields[9];
    // The colour types and depths PNG has: some others the library takes (RGB, grey with alpha
    // and RGBA under 8 bits) in pixels that are no whole number of bytes, nor divide one.
    const int depth = header.depth;
    const bool grey =
        type == 0 && (depth == 1 || depth == 2 || depth == 4 || depth == 8 || depth == 16);
    const bool palette = type == 3 && (depth == 1 || depth == 2 || depth == 4 || depth == 8);
    const bool whole = (type == 2 || type == 4 || type == 6) && (depth == 8 || depth == 16);
    if (!grey && !palette && !whole) return std::nullopt;
    header.channels = type == 2 ? 3 : type == 4 ? 2 : type == 6 ? 4 : 1;
    header.interlaced = fields[12] != 0;
    header.blockLimit = ArtworkDecoder::pngBlockAllowance;
    std::int64_t cutRows = 0;  // rows a flush may end a block with tables in
    auto addPass = [&](std::int64_t w, std::int64_t h) {
        if (w < 1 || h < 1) return;
        const std::int64_t rowBytes = 1 + (w * header.channels * header.depth + 7) / 8;
        header.bytes += h * rowBytes;
        header.blockLimit += h * ArtworkDecoder::pngRowBlocks(rowBytes);
        if (rowBytes >= ArtworkDecoder::pngSymbolsPerBlock) cutRows += h;
    };
    if (!header.interlaced) {
        addPass(header.width, header.height);
    } else {
        for (const auto& [x, y, dx, dy] : passes)
            addPass(passSide(header.width, x, dx), passSide(header.height, y, dy));
    }
    header.tableBlockLimit =
        std::max(ArtworkDecoder::pngBlockAllowance +
                     header.bytes / ArtworkDecoder::pngSymbolsPerBlock + cutRows,
                 ArtworkDecoder::pngTableBlockLimit);
    return header;
}

std::unique_ptr<ArtworkPNGStrips> ArtworkPNGStrips::open(const std::uint8_t* data, std::size_t size,
                                                         const Header& header,
                                                         const ArtworkDecoder::Options& options) {
    auto strips = std::unique_ptr<ArtworkPNGStrips>(new ArtworkPNGStrips(header, options));
    if (!strips->split(data, size) || !strips->start()) return nullptr;
    return strips;
}

ArtworkPNGStrips::ArtworkPNGStrips(const Header& header, const ArtworkDecoder::Options& options)
    : header_(header),
      options_(options),
      rowBytes_(1 + (header.width * header.channels * header.depth + 7) / 8) {}

ArtworkPNGStrips::~ArtworkPNGStrips() {
    if (inflating_) inflateEnd(&stream_);
}

// The chunks before the image data (the header's and what the library needs of the others kept
// apart), the image data's pieces, the chunks after it up to IEND.
bool ArtworkPNGStrips::split(const std::uint8_t* data, std::size_t size) {
    cgbi_ = size >= 16 && std::equal(data + 12, data + 16, "CgBI");
    const std::size_t headerAt = headerChunkAt(data, size);
    std::size_t firstData = 0;
    for (std::size_t at = 8; at + 12 <= size;) {
        const std::size_t length = read32(data + at);
        if (length > size - at - 12) return false;
        const auto* chunk = reinterpret_cast<const char*>(data + at);
        if (isType(data + at, "IDAT")) {
            if (pieces_.empty()) firstData = at;
            pieces_.emplace_back(data + at + 8, length);
        } else if (!pieces_.empty()) {
            tail_.append(chunk, length + 12);
        } else if (at == headerAt) {
            if (length != 13) return false;  // as the library
            essentials_ = {reinterpret_cast<const char*>(data), at + 12 + length};
        } else if (isType(data + at, "PLTE") || isType(data + at, "tRNS")) {
            extras_.append(chunk, length + 12);
        }
        if (isType(data + at, "IEND")) break;
        at += 12 + length;
    }
    if (pieces_.empty() || essentials_.empty()) return false;
    head_ = {reinterpret_cast<const char*>(data), firstData};
    return true;
}

// Reads the zlib header as the library would accept it (there is none in the CgBI variant) and
// sets up a raw inflater after it: the library checks no Adler-32, so zlib does not either.
bool ArtworkPNGStrips::start() {
    if (!cgbi_) {
        std::uint8_t header[2];
        for (std::uint8_t& byte : header) {
            while (!pieces_.empty() && pieces_.front().empty()) pieces_.pop_front();
            if (pieces_.empty()) return false;
            byte = pieces_.front().front();
            pieces_.front() = pieces_.front().subspan(1);
        }
        if ((header[0] * 256 + header[1]) % 31 != 0 || (header[1] & 32) || (header[0] & 15) != 8)
            return false;
    }
    if (inflateInit2(&stream_, -15) != Z_OK) return false;
    inflating_ = true;
    return true;
}

bool ArtworkPNGStrips::prepare() {
    // Left as allocated (not zeroed: that would be a long wait no stop ends); all is written.
    raw_.reset(new std::uint8_t[static_cast<std::size_t>(header_.bytes)]);
    if (!inflateInto(raw_.get(), static_cast<std::size_t>(header_.bytes)) || !endsHere())
        return false;
    inflateEnd(&stream_);
    inflating_ = false;
    if (!header_.interlaced) {
        if (!unfilter(raw_.get(), header_.width, header_.height)) return false;
        image_ = std::move(raw_);
        return true;
    }
    image_.reset(new std::uint8_t[static_cast<std::size_t>(rowBytes_ * header_.height)]);
    // A strip's worth at a time, a stop seen between: not a call a row, for rows of a byte.
    const std::int64_t imageBytes = rowBytes_ * header_.height;
    for (std::int64_t at = 0; at < imageBytes; at += stripBytes) {
        if (options_.stop.stop_requested()) return false;
        std::memset(image_.get() + at, 0,
                    static_cast<std::size_t>(std::min<std::int64_t>(stripBytes, imageBytes - at)));
    }
    std::uint8_t* pass = raw_.get();
    for (const auto& [x, y, dx, dy] : passes) {
        const std::int64_t width = passSide(header_.width, x, dx);
        const std::int64_t height = passSide(header_.height, y, dy);
        if (width < 1 || height < 1) continue;
        if (!unfilter(pass, width, height) || !placePass(pass, width, height, x, y, dx, dy))
            return false;
        pass += height * (1 + (width * header_.channels * header_.depth + 7) / 8);
    }
    raw_.reset();
    return !options_.stop.stop_requested();
}

// Undoes the filters of `height` rows of `width` pixels, each after its filter byte, which is
// then 0.
bool ArtworkPNGStrips::unfilter(std::uint8_t* rows, std::int64_t width, std::int64_t height) {
    const auto length =
        static_cast<std::size_t>((width * header_.channels * header_.depth + 7) / 8);
    const std::size_t step = std::max(1, header_.channels * header_.depth / 8);
    // Above the first row: zeros, a piece's worth and the pixel before it.
    const std::vector<std::uint8_t> zeros(std::min<std::size_t>(length, stripBytes) + step);
    const std::uint8_t* above = nullptr;
    for (std::int64_t y = 0; y < height; ++y) {
        std::uint8_t* row = rows + static_cast<std::size_t>(y) * (length + 1);
        const int filter = row[0];
        if (filter > 4) return false;
        row[0] = 0;
        std::uint8_t* x = row + 1;
        // A piece of a row at a time, so that a stop is seen within a row that holds much.
        for (std::size_t from = 0; from < length; from += stripBytes) {
            if (options_.stop.stop_requested()) return false;
            const std::size_t to = std::min(length, from + std::size_t{stripBytes});
            // The piece above this one: up[k] is above x[from + k], from k = -step on.
            const std::uint8_t* up = above ? above + from : zeros.data() + step;
            const auto k = [from](std::size_t i) { return static_cast<std::ptrdiff_t>(i - from); };
            switch (filter) {
                case 1:
                    for (std::size_t i = std::max(from, step); i < to; ++i) x[i] += x[i - step];
                    break;
                case 2:
                    for (std::size_t i = from; i < to; ++i) x[i] += up[k(i)];
                    break;
                case 3: {
                    // The first pixel has none to its left; the rest, without asking each time.
                    std::size_t i = from;
                    for (; i < std::min(to, step); ++i)
                        x[i] += static_cast<std::uint8_t>(up[k(i)] / 2);
                    for (; i < to; ++i)
                        x[i] += static_cast<std::uint8_t>((x[i - step] + up[k(i)]) / 2);
                    break;
                }
                case 4: {
                    std::size_t i = from;
                    for (; i < std::min(to, step); ++i) x[i] += up[k(i)];  // Paeth of 0, b, 0
                    for (; i < to; ++i) {
                        const int a = x[i - step], b = up[k(i)];
                        const int c = up[k(i) - std::ptrdiff_t(step)];
                        const int pa = std::abs(b - c), pb = std::abs(a - c),
                                  pc = std::abs(a + b - 2 * c);
                        x[i] += static_cast<std::uint8_t>(pa <= pb && pa <= pc ? a
                                                          : pb <= pc           ? b
                                                                               : c);
                    }
                    break;
                }
            }
        }
        above = x;
    }
    return true;
}

// Puts an unfiltered pass's pixels in their places in the picture; false on a stop.
bool ArtworkPNGStrips::placePass(const std::uint8_t* rows, std::int64_t width, std::int64_t height,
                                 int x0, int y0, int dx, int dy) {
    const std::int64_t bits = header_.channels * header_.depth;
    const std::size_t length = static_cast<std::size_t>((width * bits + 7) / 8) + 1;
    for (std::int64_t y = 0; y < height; ++y) {
        if (options_.stop.stop_requested()) return false;
        const std::uint8_t* from = rows + static_cast<std::size_t>(y) * length + 1;
        std::uint8_t* to = image_.get() + static_cast<std::size_t>((y0 + y * dy) * rowBytes_) + 1;
        if (bits >= 8) {
            placePixels(from, width,
                        to + static_cast<std::size_t>(x0) * static_cast<std::size_t>(bits / 8), dx,
                        static_cast<int>(bits / 8));
            continue;
        }
        // Samples of 1, 2 or 4 bits, the first in a byte's high bits.
        const int mask = (1 << bits) - 1;
        for (std::int64_t x = 0; x < width; ++x) {
            const std::int64_t at = x * bits, place = (x0 + x * dx) * bits;
            const int value = from[at / 8] >> (8 - bits - at % 8) & mask;
            to[place / 8] |= static_cast<std::uint8_t>(value << (8 - bits - place % 8));
        }
    }
    return true;
}

// `chunks`, which end with the header's, saying `columns` columns and `rows` rows, not
// interlaced.
std::string ArtworkPNGStrips::chunksWithSize(std::string_view chunks, std::int64_t columns,
                                             std::int64_t rows) const {
    std::string out(chunks);
    const std::size_t fields = essentials_.size() - 4 - 13;
    for (int i = 0; i < 4; ++i) {
        out[fields + i] = static_cast<char>(columns >> (24 - 8 * i));
        out[fields + 4 + i] = static_cast<char>(rows >> (24 - 8 * i));
    }
    out[fields + 12] = '\0';
    return out;
}

std::string ArtworkPNGStrips::nextStrip() {
    const std::int64_t left = header_.height - nextRow_;
    if (left <= 0) return {};
    const std::int64_t rows = std::clamp<std::int64_t>(stripBytes / rowBytes_, 1, left);
    // A row larger than a strip goes in pieces of whole bytes, a row of its own each.
    const std::int64_t bits = header_.channels * header_.depth;
    const std::int64_t pieceColumns = std::max<std::int64_t>(8, stripBytes * 8 / bits / 8 * 8);
    const bool inPieces = rowBytes_ - 1 > stripBytes;
    const std::int64_t columns =
        inPieces ? std::min(pieceColumns, header_.width - nextColumn_) : header_.width;
    const bool first = nextRow_ == 0 && nextColumn_ == 0;
    std::string out = first ? chunksWithSize(head_, columns, rows)
                            : chunksWithSize(essentials_, columns, rows) + extras_;
    const char* rowsAt = reinterpret_cast<const char*>(image_.get()) + nextRow_ * rowBytes_;
    std::string piece;
    if (inPieces) {
        piece.push_back('\0');
        piece.append(rowsAt + 1 + nextColumn_ * bits / 8,
                     static_cast<std::size_t>((columns * bits + 7) / 8));
        rowsAt = piece.data();
    }
    // One chunk of image data: the zlib header (none in the CgBI variant), the rows in stored
    // blocks, the stream's check value (which the library does not read, nor the chunk's).
    const std::int64_t bytes =
        inPieces ? static_cast<std::int64_t>(piece.size()) : rows * rowBytes_;
    const std::int64_t blocks = (bytes + std::int64_t{storedMost} - 1) / std::int64_t{storedMost};
    const std::int64_t length = (cgbi_ ? 0 : 2 + 4) + bytes + 5 * blocks;
    for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<char>(length >> shift));
    out += "IDAT";
    if (!cgbi_) out += "\x78\x01";
    for (std::int64_t written = 0; written < bytes;) {
        const auto size =
            static_cast<std::size_t>(std::min<std::int64_t>(storedMost, bytes - written));
        const bool last = written + static_cast<std::int64_t>(size) == bytes;
        out += {static_cast<char>(last ? 1 : 0), static_cast<char>(size & 0xFF),
                static_cast<char>(size >> 8), static_cast<char>(~size & 0xFF),
                static_cast<char>((~size >> 8) & 0xFF)};
        out.append(rowsAt + written, size);
        written += static_cast<std::int64_t>(size);
    }
    out.append(cgbi_ ? 4 : 8, '\0');
    out += first ? std::string_view(tail_) : endChunk;
    nextColumn_ += columns;
    if (nextColumn_ == header_.width) {
        nextColumn_ = 0;
        nextRow_ += rows;
    }
    ++work_.strips;
    if (options_.onWork) options_.onWork(work_);
    return out;
}

// One step of the inflater, to the end of a deflate block at most; false when it failed, went
// past the block limit or was stopped.
bool ArtworkPNGStrips::inflateStep(int& result) {
    if (options_.stop.stop_requested()) return false;
    while (stream_.avail_in == 0 && !pieces_.empty()) {
        const std::size_t count = std::min<std::size_t>(pieces_.front().size(), UINT_MAX);
        stream_.next_in = const_cast<Bytef*>(pieces_.front().data());
        stream_.avail_in = static_cast<uInt>(count);
        pieces_.front() = pieces_.front().subspan(count);
        if (pieces_.front().empty()) pieces_.pop_front();
    }
    // Judged as it begins, before the inflater builds its tables. Past the last block comes the
    // stream's check value, no block.
    const bool pastLast = stream_.data_type & 64;
    if (atBlock_ && !pastLast && bringsTables() && ++work_.tableBlocks > header_.tableBlockLimit)
        return false;
    if (atBlock_) blockStart_ = stream_.total_out;
    atBlock_ = false;
    const Bytef* before = stream_.next_in;
    result = inflate(&stream_, Z_BLOCK);
    if (stream_.next_in != before) lastTaken_ = stream_.next_in[-1];
    // No progress without more data: the data ends before its stream does.
    if (result == Z_BUF_ERROR && stream_.avail_in == 0) return false;
    if (result != Z_OK && result != Z_STREAM_END) return false;
    if (stream_.data_type & 128) {  // stopped at the end of a block
        atBlock_ = true;
        ++work_.deflateBlocks;
        if (stream_.total_out - blockStart_ < uLong{ArtworkDecoder::pngSymbolsPerBlock})
            ++work_.shortBlocks;
        if (options_.onWork) options_.onWork(work_);
        if (work_.deflateBlocks > header_.blockLimit) return false;
        if (work_.shortBlocks > ArtworkDecoder::pngShortBlockLimit) return false;
    }
    return true;
}

// Whether the block whose header comes next has code tables of its own. Its first three bits
// (last, then the type's two) start with those the inflater left of the last byte it took, the
// high ones, and go on into the next byte.
bool ArtworkPNGStrips::bringsTables() const {
    const int left = stream_.total_in == 0 ? 0 : stream_.data_type & 7;
    unsigned bits = left > 0 ? static_cast<unsigned>(lastTaken_) >> (8 - left) : 0;
    if (left < 3) {
        // None: the data ends there, and the inflater fails.
        if (stream_.avail_in == 0) return false;
        bits |= static_cast<unsigned>(stream_.next_in[0]) << left;
    }
    return (bits >> 1 & 3) == 2;
}

bool ArtworkPNGStrips::inflateInto(std::uint8_t* out, std::size_t size) {
    // A piece at a time, so that a stop is seen within a block that holds much.
    for (std::size_t done = 0; done < size;) {
        const std::size_t piece = std::min<std::size_t>(size - done, stripBytes);
        stream_.next_out = out + done;
        stream_.avail_out = static_cast<uInt>(piece);
        while (stream_.avail_out > 0) {
            int result = Z_OK;
            if (!inflateStep(result)) return false;
            if (result == Z_STREAM_END && stream_.avail_out > 0) return false;  // short
        }
        done += piece;
    }
    return true;
}

// Whether the stream ends with what the header needs, not a byte more.
bool ArtworkPNGStrips::endsHere() {
    std::uint8_t beyond = 0;
    stream_.next_out = &beyond;
    stream_.avail_out = 1;
    for (;;) {
        int result = Z_OK;
        if (!inflateStep(result) || stream_.avail_out == 0) return false;
        if (result == Z_STREAM_END) return true;
    }
}

}  // namespace velto
