#include "sources/resolving/AlternatePlaybackURLResolver.h"

#include <exception>

#include "foundation/Cancellation.h"
#include "sources/model/SourceError.h"

namespace velto {

namespace {

// The text a user would see for the failure.
std::string describe(const std::exception_ptr& error) {
    try {
        std::rethrow_exception(error);
    } catch (const std::exception& failure) {
        return failure.what();
    } catch (...) {
        return "未知错误";
    }
}

}  // namespace

AlternatePlaybackURLResolver::AlternatePlaybackURLResolver(
    std::shared_ptr<PlaybackURLResolving> preferred, std::shared_ptr<PlaybackURLResolving> fallback,
    std::string preferredLabel, std::string fallbackLabel)
    : preferred_(std::move(preferred)),
      fallback_(std::move(fallback)),
      preferredLabel_(std::move(preferredLabel)),
      fallbackLabel_(std::move(fallbackLabel)) {}

bool AlternatePlaybackURLResolver::supportsPlayback(MusicSource source) const {
    return preferred_->supportsPlayback(source) || fallback_->supportsPlayback(source);
}

std::optional<Quality> AlternatePlaybackURLResolver::consumeLastResolvedQuality() {
    if (auto quality = consumeQualityOf(*preferred_)) return quality;
    return consumeQualityOf(*fallback_);
}

std::string AlternatePlaybackURLResolver::resolve(const Track& track, Quality quality,
                                                  bool refreshing, const std::stop_token& stop) {
    const bool preferredServes = preferred_->supportsPlayback(track.source);
    const bool fallbackServes = fallback_->supportsPlayback(track.source);
    if (!preferredServes && !fallbackServes) {
        requireEnabled(track.source);
        throw SourceError::source("当前播放解析器不支持此音源");
    }

    std::exception_ptr first;
    if (preferredServes) {
        try {
            return ask(*preferred_, track, quality, refreshing, stop);
        } catch (...) {
            first = std::current_exception();
        }
        if (isCancellation(first)) throw CancellationError();
        throwIfCancelled(stop);
    }
    if (!fallbackServes) std::rethrow_exception(first);

    std::exception_ptr second;
    try {
        return ask(*fallback_, track, quality, refreshing, stop);
    } catch (...) {
        second = std::current_exception();
    }
    if (isCancellation(second)) throw CancellationError();
    throwIfCancelled(stop);
    if (!first) std::rethrow_exception(second);
    throw SourceError::source(preferredLabel_ + "：" + describe(first) + "；" + fallbackLabel_ +
                              "：" + describe(second));
}

}  // namespace velto
