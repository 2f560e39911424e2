#pragma once

#include <stop_token>
#include <string>

#include "sources/rovoz/ChkszPlaybackResult.h"
#include "sources/model/Quality.h"
#include "sources/model/SourceRecords.h"
#include "sources/model/Track.h"

namespace velto {

// Kugou songs read through the RoVOz music API.
class ChkszKugouProviding {
  public:
    virtual ~ChkszKugouProviding() = default;
    virtual SearchPage search(const std::string& keyword, int page, std::stop_token stop) = 0;
    virtual LyricInfo lyric(const Track& track, std::stop_token stop) = 0;
    virtual std::string picURL(const Track& track, std::stop_token stop) = 0;
    virtual Track trackDetail(const Track& track, std::stop_token stop) = 0;
    virtual ChkszPlaybackResult musicURL(const Track& track, Quality quality,
                                         std::stop_token stop) = 0;
};

}  // namespace velto
