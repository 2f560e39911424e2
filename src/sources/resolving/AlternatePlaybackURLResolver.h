#pragma once

#include <memory>
#include <string>

#include "sources/resolving/ComposedPlaybackURLResolver.h"

namespace velto {

// Asks a preferred resolver and, when it fails (cancellation aside), a fallback one; when both
// fail the two messages are joined under their labels.
class AlternatePlaybackURLResolver : public ComposedPlaybackURLResolver {
  public:
    AlternatePlaybackURLResolver(std::shared_ptr<PlaybackURLResolving> preferred,
                                 std::shared_ptr<PlaybackURLResolving> fallback,
                                 std::string preferredLabel, std::string fallbackLabel);

    bool supportsPlayback(MusicSource source) const override;
    std::optional<Quality> consumeLastResolvedQuality() override;

  private:
    std::string resolve(const Track& track, Quality quality, bool refreshing,
                        const std::stop_token& stop) override;

    const std::shared_ptr<PlaybackURLResolving> preferred_;
    const std::shared_ptr<PlaybackURLResolving> fallback_;
    const std::string preferredLabel_;
    const std::string fallbackLabel_;
};

}  // namespace velto
