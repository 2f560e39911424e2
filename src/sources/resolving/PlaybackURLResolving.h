#pragma once

#include <optional>
#include <stop_token>
#include <string>

#include "sources/model/MusicSource.h"
#include "sources/model/Quality.h"
#include "sources/model/Track.h"

namespace velto {

// Turns a song and a wished quality into an address the player can open (https or file://).
// Fails with SourceError ("音质不可用" in the message when only a lower quality exists) or
// CancellationError. Safe to call from several workers at once.
class PlaybackURLResolving {
public:
    virtual ~PlaybackURLResolving() = default;
    virtual std::string musicURL(const Track& track, Quality quality, std::stop_token stop) = 0;
    virtual bool supportsPlayback(MusicSource source) const = 0;

    // Throws the source's own unavailability message for disabled sources, otherwise
    // "当前播放解析器不支持此音源" when this resolver cannot serve the source.
    void requirePlaybackSupport(MusicSource source) const;
};

// Resolves again without any cached address for the song and quality.
class PlaybackURLRefreshing : public virtual PlaybackURLResolving {
public:
    virtual std::string refreshMusicURL(const Track& track, Quality quality,
                                        std::stop_token stop) = 0;
};

// Reports once the quality that the last successful resolution delivered.
class PlaybackQualityReporting {
public:
    virtual ~PlaybackQualityReporting() = default;
    virtual std::optional<Quality> consumeLastResolvedQuality() = 0;
};

}  // namespace velto
