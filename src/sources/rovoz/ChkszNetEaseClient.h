#pragma once

#include <memory>

#include "sources/rovoz/ChkszAPIRequesting.h"
#include "sources/rovoz/ChkszNetEaseProviding.h"

namespace velto {

// Song search, lyrics and stream addresses of NetEase songs through the RoVOz API.
class ChkszNetEaseClient : public ChkszNetEaseProviding {
  public:
    explicit ChkszNetEaseClient(std::shared_ptr<ChkszAPIRequesting> api);

    SearchPage search(const std::string& keyword, int page, int limit,
                      std::stop_token stop) override;
    LyricInfo lyric(const Track& track, std::stop_token stop) override;
    ChkszPlaybackResult musicURL(const Track& track, Quality quality,
                                 std::stop_token stop) override;

    // The delivered quality from the answered level (any case) or else the bitrate.
    static Quality quality(const std::optional<std::string>& level,
                           std::optional<std::int64_t> bitrate);

  private:
    std::shared_ptr<ChkszAPIRequesting> api_;
};

}  // namespace velto
