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

    static TrackDetailRefreshOutcome cached(Track track) {
        return make(Kind::cached, std::move(track));
    }
    static TrackDetailRefreshOutcome refreshed(Track track) {
        return make(Kind::refreshed, std::move(track));
    }
    static TrackDetailRefreshOutcome retryDeferred(Track track,
                                                   std::chrono::system_clock::time_point until) {
        return make(Kind::retryDeferred, std::move(track), until);
    }
    static TrackDetailRefreshOutcome failedWithExistingData(Track track) {
        return make(Kind::failedWithExistingData, std::move(track));
    }

    bool operator==(const TrackDetailRefreshOutcome&) const = default;

  private:
    static TrackDetailRefreshOutcome make(Kind kind, Track track,
                                          std::chrono::system_clock::time_point until = {}) {
        TrackDetailRefreshOutcome outcome;
        outcome.kind = kind;
        outcome.track = std::move(track);
        outcome.until = until;
        return outcome;
    }
};

}  // namespace velto
