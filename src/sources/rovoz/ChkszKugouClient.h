#pragma once

#include <functional>
#include <memory>

#include "sources/rovoz/ChkszAPIRequesting.h"
#include "sources/rovoz/ChkszKugouProviding.h"
#include "sources/rovoz/KugouMetadataCache.h"
#include "sources/model/MusicSource.h"

namespace velto {

// Kugou search, stream addresses, lyrics, covers and details, all from one RoVOz endpoint,
// with recent detail answers cached. Kugou is a disabled source, so every operation stops at
// its first check until the source table enables it.
class ChkszKugouClient : public ChkszKugouProviding {
  public:
    // Throws the source's unavailability error for a disabled source.
    using EnabledCheck = std::function<void(MusicSource)>;

    explicit ChkszKugouClient(
        std::shared_ptr<ChkszAPIRequesting> api,
        KugouMetadataCache::Clock clock = [] { return std::chrono::steady_clock::now(); },
        EnabledCheck requireEnabled = velto::requireEnabled);

    SearchPage search(const std::string& keyword, int page, std::stop_token stop) override;
    LyricInfo lyric(const Track& track, std::stop_token stop) override;
    std::string picURL(const Track& track, std::stop_token stop) override;
    Track trackDetail(const Track& track, std::stop_token stop) override;
    ChkszPlaybackResult musicURL(const Track& track, Quality quality,
                                 std::stop_token stop) override;

    // The "size" the service is asked for, per quality.
    static std::string sizeName(Quality quality);

  private:
    void requireTrack(const Track& track) const;
    std::string detail(const Track& track, Quality quality, std::stop_token stop);

    std::shared_ptr<ChkszAPIRequesting> api_;
    KugouMetadataCache metadata_;
    EnabledCheck requireEnabled_;
};

}  // namespace velto
