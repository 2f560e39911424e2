#pragma once

#include <vector>

#include "sources/model/Track.h"

namespace velto {

// Songs as a list shows them, with whether each may play (Track::isPlayable) read once where
// the list was made. That reads the song's payload, which may be large: a list made on a worker
// carries the answers to the main thread, which then reads no payload to draw its rows.
struct ListedTracks {
    std::vector<Track> tracks;
    std::vector<bool> released;  // one a song, in the same order

    ListedTracks() = default;
    // Reads every song's payload, here.
    explicit ListedTracks(std::vector<Track> songs);
    // Track::isPlayable of each song, in order.
    static std::vector<bool> releasedOf(const std::vector<Track>& songs);

    // The first song of each key, in order, with what was read of it.
    ListedTracks deduplicated() const;
    void append(const ListedTracks& more);

    bool operator==(const ListedTracks&) const = default;
};

}  // namespace velto
