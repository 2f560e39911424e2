#pragma once

#include <optional>
#include <stop_token>
#include <string>

#include "sources/resolving/PlaybackURLResolving.h"

namespace velto {

// A resolver made of other resolvers: both entries lead to one resolve() that knows whether the
// caller wants a fresh address, and passes that wish on to the resolvers it asks.
class ComposedPlaybackURLResolver : public PlaybackURLRefreshing, public PlaybackQualityReporting {
  public:
    std::string musicURL(const Track& track, Quality quality, std::stop_token stop) final;
    std::string refreshMusicURL(const Track& track, Quality quality, std::stop_token stop) final;

  protected:
    virtual std::string resolve(const Track& track, Quality quality, bool refreshing,
                                const std::stop_token& stop) = 0;

    // Refreshes through `resolver` when asked to and it can; a plain resolution otherwise.
    static std::string ask(PlaybackURLResolving& resolver, const Track& track, Quality quality,
                           bool refreshing, const std::stop_token& stop);
    // The quality `resolver` last delivered, when it reports one.
    static std::optional<Quality> consumeQualityOf(PlaybackURLResolving& resolver);
};

}  // namespace velto
