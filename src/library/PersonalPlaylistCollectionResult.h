#pragma once

#include "library/Playlist.h"

namespace velto {

// The personal playlist (without its items) and whether the song was added now.
struct PersonalPlaylistCollectionResult {
    Playlist playlist;
    bool inserted = false;
};

}  // namespace velto
