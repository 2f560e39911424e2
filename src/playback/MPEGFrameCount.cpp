#include "playback/MPEGFrameCount.h"

#include <taglib/tiostream.h>

#include <algorithm>
#include <utility>
#include <vector>

namespace velto::MPEGFrameCount {

namespace {

struct Header {
    int versionBits = 0;  // 3 = MPEG-1, 2 = MPEG-2, 0 = MPEG-2.5
    int layer = 0;
    int sampleRate = 0;
    int kbps = 0;
    int samples = 0;
    std::int64_t length = 0;

    bool sameStream(const Header& other) const {
        return versionBits == other.versionBits && layer == other.layer &&
               sampleRate == other.sampleRate;
    }
};

std::optional<Header> header(const unsigned char* b) {
    if (b[0] != 0xFF || (b[1] & 0xE0) != 0xE0) return std::nullopt;
    Header h;
    h.versionBits = (b[1] >> 3) & 3;
    const int layerBits = (b[1] >> 1) & 3;
    const int rateIndex = b[2] >> 4;
    const int sampleRateIndex = (b[2] >> 2) & 3;
    // A free-format frame has no length to step by.
    if (h.versionBits == 1 || layerBits == 0 || rateIndex == 0 || rateIndex == 15 ||
        sampleRateIndex == 3)
        return std::nullopt;
    h.layer = 4 - layerBits;
    const bool one = h.versionBits == 3;
    static constexpr int kbps[5][15] = {
        {0, 32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448},
        {0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384},
        {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320},
        {0, 32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256},
        {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160}};
    const int table = one ? h.layer - 1 : (h.layer == 1 ? 3 : 4);
    h.kbps = kbps[table][rateIndex];
    static constexpr int sampleRates[3] = {44100, 48000, 32000};
    h.sampleRate = sampleRates[sampleRateIndex] >> (one ? 0 : h.versionBits == 2 ? 1 : 2);
    const int padding = (b[2] >> 1) & 1;
    h.samples = h.layer == 1 ? 384 : (h.layer == 3 && !one ? 576 : 1152);
    const std::int64_t bits = std::int64_t(h.kbps) * 1000;
    h.length = h.layer == 1 ? (12 * bits / h.sampleRate + padding) * 4
                            : h.samples / 8 * bits / h.sampleRate + padding;
    return h;
}

// Reads the stream forwards in large blocks, so that stepping from frame to frame costs one
// read per block and not one per frame.
class Reader {
  public:
    explicit Reader(TagLib::IOStream& stream) : stream_(stream) {}

    // The bytes from `at` on, `want` of them or fewer where the stream ends.
    std::pair<const unsigned char*, std::int64_t> window(std::int64_t at, std::int64_t want) {
        const std::int64_t held = start_ + std::int64_t(buffer_.size());
        if (at < start_ || at + want > held) {
            stream_.seek(static_cast<long>(at));
            const auto block =
                stream_.readBlock(static_cast<unsigned long>(std::max(want, blockSize)));
            read_ += block.size();
            buffer_.assign(block.begin(), block.end());
            start_ = at;
        }
        const std::int64_t available = start_ + std::int64_t(buffer_.size()) - at;
        return {buffer_.data() + (at - start_), std::min(want, available)};
    }

    std::uint64_t read() const { return read_; }

  private:
    // Large enough to count as a block read, not as one of the small reads of a search.
    static constexpr std::int64_t blockSize = 64 << 10;
    TagLib::IOStream& stream_;
    std::vector<unsigned char> buffer_;
    std::int64_t start_ = 0;
    std::uint64_t read_ = 0;
};

// A frame of the stream at `at` of `bytes`, that the next frame follows when `chained`: one
// sync pattern alone is too often found in audio data.
std::optional<Header> frameAt(const unsigned char* bytes, std::int64_t size, std::int64_t at,
                              const Header& stream, bool chained) {
    if (at + 4 > size) return std::nullopt;
    auto h = header(bytes + at);
    if (!h || !h->sameStream(stream)) return std::nullopt;
    if (chained) {
        const std::int64_t next = at + h->length;
        if (next + 4 > size) return std::nullopt;
        auto following = header(bytes + next);
        if (!following || !following->sameStream(stream)) return std::nullopt;
    }
    return h;
}

// Whether frames in a few stretches spread over the stream have bitrates other than the first.
bool bitrateVaries(TagLib::IOStream& stream, std::int64_t first, std::int64_t end,
                   const Header& firstFrame) {
    constexpr int stretches = 8;
    constexpr std::int64_t stretch = 4 << 10;
    for (int i = 1; i <= stretches; ++i) {
        const std::int64_t from = first + (end - first) * i / (stretches + 1);
        stream.seek(static_cast<long>(from));
        const auto block = stream.readBlock(static_cast<unsigned long>(stretch));
        const auto* b = reinterpret_cast<const unsigned char*>(block.data());
        const std::int64_t size = block.size();
        for (std::int64_t at = 0; at + 4 <= size; ++at) {
            auto h = frameAt(b, size, at, firstFrame, true);
            if (!h) continue;
            if (h->kbps != firstFrame.kbps) return true;
            at += h->length - 1;  // on from frame to frame
        }
    }
    return false;
}

}  // namespace

std::optional<double> seconds(TagLib::IOStream& stream, std::int64_t first, std::int64_t end) {
    if (first < 0 || end <= first) return std::nullopt;
    Reader reader(stream);
    auto [b, size] = reader.window(first, 4);
    const auto firstFrame = size == 4 ? header(b) : std::nullopt;
    if (!firstFrame || !bitrateVaries(stream, first, end, *firstFrame)) return std::nullopt;

    // Junk between frames is looked past only so far; beyond that the audio has ended.
    constexpr std::int64_t resyncReach = 64 << 10;
    constexpr std::int64_t largestFrame = 8 << 10;
    std::uint64_t samples = 0;
    std::int64_t counted = 0;  // bytes of the frames counted
    std::int64_t at = first;
    bool capped = false;
    while (at < end) {
        if (reader.read() >= countedBytesCap) {
            capped = true;
            break;
        }
        auto [bytes, available] = reader.window(at, largestFrame);
        if (auto h = frameAt(bytes, available, 0, *firstFrame, false)) {
            if (at + h->length > end) break;
            samples += std::uint64_t(h->samples);
            counted += h->length;
            at += h->length;
            continue;
        }
        auto [ahead, reach] = reader.window(at, resyncReach + largestFrame);
        std::int64_t found = 0;
        for (std::int64_t probe = 1; probe < std::min(reach, resyncReach); ++probe)
            if (frameAt(ahead, reach, probe, *firstFrame, true)) {
                found = probe;
                break;
            }
        if (found == 0) break;
        at += found;
    }
    if (samples == 0) return std::nullopt;
    double result = double(samples) / firstFrame->sampleRate;
    if (capped) result *= double(end - first) / double(counted);
    return result;
}

}  // namespace velto::MPEGFrameCount
