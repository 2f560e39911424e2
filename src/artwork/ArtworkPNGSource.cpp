#include "artwork/ArtworkPNGSource.h"

#include <algorithm>
#include <climits>
#include <cstring>

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

}  // namespace

std::unique_ptr<ArtworkPNGSource> ArtworkPNGSource::open(const std::uint8_t* data, std::size_t size,
                                                         std::int64_t inflatedBytes,
                                                         std::int64_t blockLimit,
                                                         const ArtworkDecoder::Options& options) {
    auto source = std::unique_ptr<ArtworkPNGSource>(
        new ArtworkPNGSource(inflatedBytes, blockLimit, options));
    if (!source->split(data, size) || !source->start()) return nullptr;
    return source;
}

ArtworkPNGSource::ArtworkPNGSource(std::int64_t inflatedBytes, std::int64_t blockLimit,
                                   const ArtworkDecoder::Options& options)
    : inflatedBytes_(inflatedBytes), blockLimit_(blockLimit), options_(options) {}

ArtworkPNGSource::~ArtworkPNGSource() {
    if (inflating_) inflateEnd(&stream_);
}

std::size_t ArtworkPNGSource::read(std::uint8_t* out, std::size_t size) {
    std::size_t given = 0;
    while (given < size && !failed_) {
        if (!literal_.empty()) {
            const std::size_t count = std::min(size - given, literal_.size());
            std::memcpy(out + given, literal_.data(), count);
            literal_.remove_prefix(count), given += count;
        } else if (storedLeft_ > 0) {
            const std::size_t count = std::min(size - given, storedLeft_);
            if (!inflateInto(out + given, count))
                failed_ = true;
            else
                given += count, storedLeft_ -= count;
        } else if (!next()) {
            break;
        }
    }
    return given;
}

bool ArtworkPNGSource::atEnd() const {
    return failed_ || (step_ == Step::done && literal_.empty());
}

bool ArtworkPNGSource::complete() const {
    return !failed_ && step_ == Step::done;
}

// The chunks before the image data, the image data's pieces, the chunks after it up to IEND.
bool ArtworkPNGSource::split(const std::uint8_t* data, std::size_t size) {
    cgbi_ = size >= 16 && std::equal(data + 12, data + 16, "CgBI");
    std::size_t firstData = 0;
    for (std::size_t at = 8; at + 12 <= size;) {
        const std::size_t length = read32(data + at);
        if (length > size - at - 12) return false;
        if (isType(data + at, "IDAT")) {
            if (pieces_.empty()) firstData = at;
            pieces_.emplace_back(data + at + 8, length);
        } else if (!pieces_.empty()) {
            tail_.append(reinterpret_cast<const char*>(data + at), length + 12);
        }
        if (isType(data + at, "IEND")) break;
        at += 12 + length;
    }
    if (pieces_.empty()) return false;
    head_ = {reinterpret_cast<const char*>(data), firstData};
    return true;
}

// Reads the zlib header as the library would accept it (there is none in the CgBI variant) and
// sets up a raw inflater after it: the library checks no Adler-32, so zlib does not either.
bool ArtworkPNGSource::start() {
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

// Sets up what comes next: the head with the new chunk's header, each stored block's header and
// then its data, then the stream's and the chunk's check values (which the library does not
// read) and the chunks after the data. False at the end.
bool ArtworkPNGSource::next() {
    switch (step_) {
        case Step::head: {
            const std::int64_t blocks =
                (inflatedBytes_ + std::int64_t{storedMost} - 1) / std::int64_t{storedMost};
            const std::int64_t length = (cgbi_ ? 0 : 2 + 4) + inflatedBytes_ + 5 * blocks;
            own_.assign(head_);
            for (int shift = 24; shift >= 0; shift -= 8)
                own_.push_back(static_cast<char>(length >> shift));
            own_ += "IDAT";
            if (!cgbi_) own_ += "\x78\x01";
            step_ = Step::blocks;
            break;
        }
        case Step::blocks: {
            if (written_ == inflatedBytes_) {
                if (!endsHere()) {
                    failed_ = true;
                    return false;
                }
                own_.assign(cgbi_ ? 4 : 8, '\0');
                own_ += tail_;
                step_ = Step::done;
                break;
            }
            const auto length = static_cast<std::size_t>(
                std::min<std::int64_t>(storedMost, inflatedBytes_ - written_));
            const bool last = written_ + static_cast<std::int64_t>(length) == inflatedBytes_;
            own_ = {static_cast<char>(last ? 1 : 0), static_cast<char>(length & 0xFF),
                    static_cast<char>(length >> 8), static_cast<char>(~length & 0xFF),
                    static_cast<char>((~length >> 8) & 0xFF)};
            storedLeft_ = length;
            written_ += static_cast<std::int64_t>(length);
            break;
        }
        case Step::done:
            return false;
    }
    literal_ = own_;
    return true;
}

// One step of the inflater, to the end of a deflate block at most; false when it failed, went
// past the block limit or was stopped.
bool ArtworkPNGSource::inflateStep(int& result) {
    if (options_.stop.stop_requested()) return false;
    while (stream_.avail_in == 0 && !pieces_.empty()) {
        const std::size_t count = std::min<std::size_t>(pieces_.front().size(), UINT_MAX);
        stream_.next_in = const_cast<Bytef*>(pieces_.front().data());
        stream_.avail_in = static_cast<uInt>(count);
        pieces_.front() = pieces_.front().subspan(count);
        if (pieces_.front().empty()) pieces_.pop_front();
    }
    result = inflate(&stream_, Z_BLOCK);
    // No progress without more data: the data ends before its stream does.
    if (result == Z_BUF_ERROR && stream_.avail_in == 0) return false;
    if (result != Z_OK && result != Z_STREAM_END) return false;
    if (stream_.data_type & 128) {  // stopped at the end of a block
        ++work_.deflateBlocks;
        if (options_.onWork) options_.onWork(work_);
        if (work_.deflateBlocks > blockLimit_) return false;
    }
    return true;
}

bool ArtworkPNGSource::inflateInto(std::uint8_t* out, std::size_t size) {
    stream_.next_out = out;
    stream_.avail_out = static_cast<uInt>(size);
    while (stream_.avail_out > 0) {
        int result = Z_OK;
        if (!inflateStep(result)) return false;
        if (result == Z_STREAM_END && stream_.avail_out > 0) return false;  // short
    }
    return true;
}

// Whether the stream ends with what the header needs, not a byte more.
bool ArtworkPNGSource::endsHere() {
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
