#include "sources/resolving/ComposedPlaybackURLResolver.h"

namespace velto {

std::string ComposedPlaybackURLResolver::musicURL(const Track& track, Quality quality,
                                                  std::stop_token stop) {
    return resolve(track, quality, false, stop);
}

std::string ComposedPlaybackURLResolver::refreshMusicURL(const Track& track, Quality quality,
                                                         std::stop_token stop) {
    return resolve(track, quality, true, stop);
}

std::string ComposedPlaybackURLResolver::ask(PlaybackURLResolving& resolver, const Track& track,
                                             Quality quality, bool refreshing,
                                             const std::stop_token& stop) {
    if (refreshing) {
        if (auto* refresher = dynamic_cast<PlaybackURLRefreshing*>(&resolver)) {
            return refresher->refreshMusicURL(track, quality, stop);
        }
    }
    return resolver.musicURL(track, quality, stop);
}

std::optional<Quality> ComposedPlaybackURLResolver::consumeQualityOf(
    PlaybackURLResolving& resolver) {
    if (auto* reporter = dynamic_cast<PlaybackQualityReporting*>(&resolver)) {
        return reporter->consumeLastResolvedQuality();
    }
    return std::nullopt;
}

}  // namespace velto
