#pragma once

#include <memory>

#include "sources/PlaybackURLResolving.h"

namespace velto {

// Asks one resolver for the wished quality and, while the failure says that quality is
// unavailable or the song restricted, for each lower quality in turn.
class HighestAvailableQualityPlaybackURLResolver : public PlaybackURLRefreshing,
                                                   public PlaybackQualityReporting {
  public:
    explicit HighestAvailableQualityPlaybackURLResolver(
        std::shared_ptr<PlaybackURLResolving> resolver);

    std::string musicURL(const Track& track, Quality quality, std::stop_token stop) override;
    std::string refreshMusicURL(const Track& track, Quality quality, std::stop_token stop) override;
    bool supportsPlayback(MusicSource source) const override;
    std::optional<Quality> consumeLastResolvedQuality() override;

  private:
    std::string resolve(const Track& track, Quality quality, bool refreshing,
                        const std::stop_token& stop);

    const std::shared_ptr<PlaybackURLResolving> resolver_;
};

}  // namespace velto
