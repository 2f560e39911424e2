#include "sources/AlternatePlaybackURLResolver.h"

#include <exception>

#include "foundation/Cancellation.h"
#include "sources/SourceError.h"

namespace velto {

namespace {

std::string ask(PlaybackURLResolving& resolver, const Track& track, Quality quality,
                bool refreshing, const std::stop_token& stop) {
    if (refreshing) {
        if (auto* refresher = dynamic_cast<PlaybackURLRefreshing*>(&resolver)) {
            return refresher->refreshMusicURL(track, quality, stop);
        }
    }
    return resolver.musicURL(track, quality, stop);
}

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

bool isCancellationError(const std::exception_ptr& error) {
    try {
        std::rethrow_exception(error);
    } catch (const CancellationError&) {
        return true;
    } catch (...) {
        return false;
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

std::string AlternatePlaybackURLResolver::musicURL(const Track& track, Quality quality,
                                                   std::stop_token stop) {
    return resolve(track, quality, false, stop);
}

std::string AlternatePlaybackURLResolver::refreshMusicURL(const Track& track, Quality quality,
                                                          std::stop_token stop) {
    return resolve(track, quality, true, stop);
}

bool AlternatePlaybackURLResolver::supportsPlayback(MusicSource source) const {
    return preferred_->supportsPlayback(source) || fallback_->supportsPlayback(source);
}

std::optional<Quality> AlternatePlaybackURLResolver::consumeLastResolvedQuality() {
    if (auto* reporter = dynamic_cast<PlaybackQualityReporting*>(preferred_.get())) {
        if (auto quality = reporter->consumeLastResolvedQuality()) return quality;
    }
    if (auto* reporter = dynamic_cast<PlaybackQualityReporting*>(fallback_.get())) {
        return reporter->consumeLastResolvedQuality();
    }
    return std::nullopt;
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
        if (isCancellationError(first)) throw CancellationError();
        throwIfCancelled(stop);
    }
    if (!fallbackServes) std::rethrow_exception(first);

    std::exception_ptr second;
    try {
        return ask(*fallback_, track, quality, refreshing, stop);
    } catch (...) {
        second = std::current_exception();
    }
    if (isCancellationError(second)) throw CancellationError();
    throwIfCancelled(stop);
    if (!first) std::rethrow_exception(second);
    throw SourceError::source(preferredLabel_ + "：" + describe(first) + "；" + fallbackLabel_ +
                              "：" + describe(second));
}

}  // namespace velto
