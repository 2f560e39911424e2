#pragma once

#include <cstdint>
#include <string>

namespace velto {

// What importing a backup into the personal playlist did.
struct PlaylistImportResult {
    std::int64_t insertedCount = 0;
    // Songs already there or listed earlier in the backup: the backup's count minus insertedCount.
    std::int64_t skippedCount = 0;
    std::int64_t totalCount = 0;  // the playlist's items afterwards
    std::string playlistName;     // the playlist's name afterwards

    bool operator==(const PlaylistImportResult&) const = default;
};

}  // namespace velto
