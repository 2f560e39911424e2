#include "sources/resolving/HighestAvailableQualityPlaybackURLResolver.h"

#include <algorithm>

#include "foundation/Cancellation.h"
#include "sources/resolving/PlaybackFallbackPolicy.h"
#include "sources/model/SourceError.h"

namespace velto {

HighestAvailableQualityPlaybackURLResolver::HighestAvailableQualityPlaybackURLResolver(
    std::shared_ptr<PlaybackURLResolving> resolver)
    : resolver_(std::move(resolver)) {}

bool HighestAvailableQualityPlaybackURLResolver::supportsPlayback(MusicSource source) const {
    return resolver_->supportsPlayback(source);
}

std::optional<Quality> HighestAvailableQualityPlaybackURLResolver::consumeLastResolvedQuality() {
    return consumeQualityOf(*resolver_);
}

std::string HighestAvailableQualityPlaybackURLResolver::resolve(const Track& track, Quality quality,
                                                                bool refreshing,
                                                                const std::stop_token& stop) {
    resolver_->requirePlaybackSupport(track.source);
    const auto& ladder = Qualities::descendingOrder;
    auto rung = std::find(ladder.begin(), ladder.end(), quality);
    for (; rung != ladder.end(); ++rung) {
        throwIfCancelled(stop);
        try {
            return ask(*resolver_, track, *rung, refreshing, stop);
        } catch (const CancellationError&) {
            throw CancellationError();
        } catch (const SourceError& error) {
            const bool stepsDown = error.kind() == SourceError::Kind::source &&
                                   PlaybackFallbackPolicy::allowsFallback(error.message());
            if (!stepsDown || std::next(rung) == ladder.end()) throw;
        }
    }
    // Only reached for a quality outside the ladder, which the enumeration does not have.
    throw SourceError::source("当前播放解析器不支持此音源");
}

}  // namespace velto
