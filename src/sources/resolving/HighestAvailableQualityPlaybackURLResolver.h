#pragma once

#include <memory>

#include "sources/resolving/ComposedPlaybackURLResolver.h"

namespace velto {

// Asks one resolver for the wished quality and, while the failure says that quality is
// unavailable or the song restricted, for each lower quality in turn.
class HighestAvailableQualityPlaybackURLResolver : public ComposedPlaybackURLResolver {
  public:
    explicit HighestAvailableQualityPlaybackURLResolver(
        std::shared_ptr<PlaybackURLResolving> resolver);

    bool supportsPlayback(MusicSource source) const override;
    std::optional<Quality> consumeLastResolvedQuality() override;

  private:
    std::string resolve(const Track& track, Quality quality, bool refreshing,
                        const std::stop_token& stop) override;

    const std::shared_ptr<PlaybackURLResolving> resolver_;
};

}  // namespace velto
