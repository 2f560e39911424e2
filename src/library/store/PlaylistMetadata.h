#pragma once

#include "library/store/PlaylistKind.h"

namespace velto {

struct PlaylistMetadata {
    PlaylistKind kind = PlaylistKind::music;
    bool isShared = false;
    bool isPrivate = false;

    bool operator==(const PlaylistMetadata&) const = default;
};

}  // namespace velto
