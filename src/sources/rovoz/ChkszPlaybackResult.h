#pragma once

#include <string>

#include "sources/model/Quality.h"

namespace velto {

// A stream address from the RoVOz service and the quality it says it delivered.
struct ChkszPlaybackResult {
    std::string url;  // absolute, https
    Quality actualQuality = Quality::standard;

    bool operator==(const ChkszPlaybackResult&) const = default;
};

}  // namespace velto
