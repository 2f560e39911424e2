#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "library/store/TrackRecord.h"

namespace velto {

// One entry of a playlist with its song, as read by one operation.
struct PlaylistItem {
    std::int64_t rowId = 0;
    std::int64_t sortIndex = 0;
    std::optional<std::string> playlistId;
    TrackRecord track;

    bool operator==(const PlaylistItem&) const = default;
};

}  // namespace velto
