#pragma once

#include <string>
#include <vector>

#include "sources/model/Quality.h"
#include "sources/model/Track.h"

namespace velto {

// One stream quality a song's source offers, with the size text the source wrote for it.
struct TrackQualityOption {
    Quality quality = Quality::standard;
    std::string sizeText;  // trimmed; empty when the source gave none

    Quality id() const { return quality; }

    // The payload's "types" list as one option per quality, best first; empty when the payload
    // carries no usable list. Never fails.
    static std::vector<TrackQualityOption> available(const Track& track);

    bool operator==(const TrackQualityOption&) const = default;
};

}  // namespace velto
