#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "library/store/PlaylistItem.h"
#include "library/store/PlaylistKind.h"

namespace velto {

// A stored playlist as one operation read it. `itemCount` is always filled; `items` only by
// the operations that say so (LibraryStore), so that favouriting a song stays independent of
// the length of the playlist.
struct Playlist {
    std::string id;  // upper-case hyphenated UUID
    std::string name;
    std::int64_t sortIndex = 0;
    bool isSystem = false;
    std::string kindRaw = "music";
    bool isShared = false;
    bool isPrivate = false;
    bool isPrimaryPersonal = false;
    bool isArchived = false;
    std::vector<PlaylistItem> items;
    std::int64_t itemCount = 0;

    bool isVideo() const { return kindRaw == "video"; }
    PlaylistKind kind() const { return isVideo() ? PlaylistKind::video : PlaylistKind::music; }
    // The items by sortIndex, ties by the song key in byte order; a new list on every call.
    std::vector<PlaylistItem> orderedItems() const;

    bool operator==(const Playlist&) const = default;
};

}  // namespace velto
