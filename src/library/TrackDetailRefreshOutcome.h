#pragma once

#include <chrono>

#include "sources/model/Track.h"

namespace velto {

// What a detail refresh did. Only `refreshed` carries the fetched song; the others carry the
// caller's own.
struct TrackDetailRefreshOutcome {
    enum class Kind { cached, refreshed, retryDeferred, failedWithExistingData };

    Kind kind = Kind::cached;
    Track track;
    std::chrono::system_clock::time_point until{};  // retryDeferred only

    bool operator==(const TrackDetailRefreshOutcome&) const = default;
};

}  // namespace velto
