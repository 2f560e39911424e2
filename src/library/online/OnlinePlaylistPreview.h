#pragma once

#include <string>
#include <vector>

#include "library/online/OnlinePlaylistReference.h"
#include "sources/model/Track.h"

namespace velto {

// An online playlist as read for the import sheet, with how complete the reading was.
struct OnlinePlaylistPreview {
    OnlinePlaylistReference reference;
    std::string name;           // trimmed, never empty
    std::vector<Track> tracks;  // distinct songs in playlist order, as a backup gives them back
    int remoteTrackCount = 0;   // the larger of the reported count and the entries delivered
    int missingTrackCount = 0;  // reported but not delivered
    int invalidTrackCount = 0;  // delivered but not readable as songs
    int duplicateTrackCount = 0;

    bool operator==(const OnlinePlaylistPreview&) const = default;

    // Duplicates alone do not make a preview incomplete.
    bool isIncomplete() const { return missingTrackCount > 0 || invalidTrackCount > 0; }
    // The name and songs as a playlist backup; throws PlaylistBackupError.
    std::string backupData() const;
};

}  // namespace velto
