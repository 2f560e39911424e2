#pragma once

#include "library/store/Playlist.h"

namespace velto {

// The personal playlist (without its items) and whether the song was added now.
struct PersonalPlaylistCollectionResult {
    Playlist playlist;
    bool inserted = false;
};

}  // namespace velto
