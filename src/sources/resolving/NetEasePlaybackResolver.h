#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "sources/resolving/PlaybackURLResolving.h"

namespace velto {

class NetEaseWebClient;

// Stream addresses of NetEase songs from the web interface. Refuses a stream below the wished
// quality (so the ladder can step down) and remembers what it last delivered.
class NetEasePlaybackResolver : public PlaybackURLRefreshing, public PlaybackQualityReporting {
  public:
    explicit NetEasePlaybackResolver(std::shared_ptr<NetEaseWebClient> client);

    std::string musicURL(const Track& track, Quality quality, std::stop_token stop) override;
    // The same request again: this path keeps no address of its own to bypass.
    std::string refreshMusicURL(const Track& track, Quality quality, std::stop_token stop) override;
    bool supportsPlayback(MusicSource source) const override;
    std::optional<Quality> consumeLastResolvedQuality() override;

    // The quality a delivered stream has, from the service's level (any case) and bitrate.
    static Quality deliveredQuality(const std::string& level, std::int64_t bitrate);
    // The text that names a quality in the "该音质不可用" message.
    static const char* label(Quality quality);

  private:
    std::string resolve(const Track& track, Quality quality, const std::stop_token& stop);

    const std::shared_ptr<NetEaseWebClient> client_;
    std::mutex lock_;
    std::optional<Quality> lastResolvedQuality_;
};

}  // namespace velto
