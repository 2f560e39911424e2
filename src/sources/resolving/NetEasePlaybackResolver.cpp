#include "sources/resolving/NetEasePlaybackResolver.h"

#include <cctype>
#include <utility>

#include "foundation/Cancellation.h"
#include "sources/netease/NetEaseLevel.h"
#include "sources/netease/NetEaseWebClient.h"
#include "sources/model/SourceError.h"

namespace velto {

namespace {

struct RequestParameters {
    const char* level;
    const char* encodeType;
};

RequestParameters parametersFor(Quality quality) {
    return {netEaseLevelName(quality), quality >= Quality::lossless ? "flac" : "mp3"};
}

std::string lowercased(std::string text) {
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

}  // namespace

NetEasePlaybackResolver::NetEasePlaybackResolver(std::shared_ptr<NetEaseWebClient> client)
    : client_(std::move(client)) {}

std::string NetEasePlaybackResolver::musicURL(const Track& track, Quality quality,
                                              std::stop_token stop) {
    return resolve(track, quality, stop);
}

std::string NetEasePlaybackResolver::refreshMusicURL(const Track& track, Quality quality,
                                                     std::stop_token stop) {
    return resolve(track, quality, stop);
}

bool NetEasePlaybackResolver::supportsPlayback(MusicSource source) const {
    return source == MusicSource::wy;
}

std::optional<Quality> NetEasePlaybackResolver::consumeLastResolvedQuality() {
    std::lock_guard guard(lock_);
    return std::exchange(lastResolvedQuality_, std::nullopt);
}

Quality NetEasePlaybackResolver::deliveredQuality(const std::string& level, std::int64_t bitrate) {
    const std::string name = lowercased(level);
    if (name == "jymaster" || name == "sky" || name == "vivid" || name == "jyeffect" ||
        bitrate >= 2'000'000) {
        return Quality::master;
    }
    if (name == "hires" || bitrate >= 1'500'000) return Quality::hiRes;
    if (name == "lossless" || bitrate >= 700'000) return Quality::lossless;
    if (name == "exhigh" || bitrate >= 300'000) return Quality::high;
    return Quality::standard;
}

const char* NetEasePlaybackResolver::label(Quality quality) {
    switch (quality) {
        case Quality::standard:
            return "标准品质 128K";
        case Quality::high:
            return "高品质 320K";
        case Quality::lossless:
            return "无损 FLAC";
        case Quality::hiRes:
            return "Hi-Res";
        // Nothing is above master, so it is never named as the lower delivery.
        case Quality::master:
            break;
    }
    return "master";
}

std::string NetEasePlaybackResolver::resolve(const Track& track, Quality quality,
                                             const std::stop_token& stop) {
    throwIfCancelled(stop);
    if (track.source != MusicSource::wy) {
        throw SourceError::source("当前解析器只支持网易云音源");
    }
    const auto parameters = parametersFor(quality);
    auto answer =
        client_->playableURL(track.songmid, parameters.level, parameters.encodeType, stop);
    const Quality delivered = deliveredQuality(answer.quality.level, answer.quality.bitrate);
    if (delivered < quality) {
        throw SourceError::source(std::string("该音质不可用，实际返回 ") + label(delivered));
    }
    {
        std::lock_guard guard(lock_);
        lastResolvedQuality_ = delivered;
    }
    return std::move(answer.url);
}

}  // namespace velto
