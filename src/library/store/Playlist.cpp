#include "library/store/Playlist.h"

#include <algorithm>

namespace velto {

std::vector<PlaylistItem> Playlist::orderedItems() const {
    std::vector<PlaylistItem> ordered = items;
    std::stable_sort(ordered.begin(), ordered.end(), [](const auto& a, const auto& b) {
        if (a.sortIndex != b.sortIndex) return a.sortIndex < b.sortIndex;
        return a.track.musicId < b.track.musicId;
    });
    return ordered;
}

}  // namespace velto
