#include "app/TrackListUtilities.h"

#include <algorithm>
#include <unordered_set>

namespace velto::TrackListUtilities {

namespace {
template <class T, class Key>
std::vector<T> firstOfEachKey(const std::vector<T>& items, Key key) {
    std::unordered_set<std::string> seen;
    std::vector<T> result;
    result.reserve(items.size());
    for (const auto& item : items) {
        if (seen.insert(key(item)).second) result.push_back(item);
    }
    return result;
}
}  // namespace

std::vector<Track> deduplicated(const std::vector<Track>& tracks) {
    return firstOfEachKey(tracks, [](const Track& track) { return track.musicID(); });
}

std::vector<AlbumSummary> deduplicated(const std::vector<AlbumSummary>& albums) {
    return firstOfEachKey(albums, [](const AlbumSummary& album) { return album.stableID(); });
}

std::vector<AlbumSummary> sortedNewestFirst(std::vector<AlbumSummary> albums) {
    std::stable_sort(albums.begin(), albums.end(), [](const AlbumSummary& a, const AlbumSummary& b) {
        return a.releaseDate.value_or("") > b.releaseDate.value_or("");
    });
    return albums;
}

}  // namespace velto::TrackListUtilities
