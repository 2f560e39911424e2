#include "app/ListedTracks.h"

#include <unordered_set>

namespace velto {

ListedTracks::ListedTracks(std::vector<Track> songs)
    : tracks(std::move(songs)), released(releasedOf(tracks)) {}

std::vector<bool> ListedTracks::releasedOf(const std::vector<Track>& songs) {
    std::vector<bool> released;
    released.reserve(songs.size());
    for (const Track& track : songs) released.push_back(track.isPlayable());
    return released;
}

ListedTracks ListedTracks::deduplicated() const {
    std::unordered_set<std::string> seen;
    ListedTracks kept;
    kept.tracks.reserve(tracks.size());
    kept.released.reserve(tracks.size());
    for (std::size_t i = 0; i < tracks.size(); ++i) {
        if (!seen.insert(tracks[i].musicID()).second) continue;
        kept.tracks.push_back(tracks[i]);
        kept.released.push_back(released[i]);
    }
    return kept;
}

void ListedTracks::append(const ListedTracks& more) {
    tracks.insert(tracks.end(), more.tracks.begin(), more.tracks.end());
    released.insert(released.end(), more.released.begin(), more.released.end());
}

}  // namespace velto
