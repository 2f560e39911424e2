// Playlist backup files: whatever reads must write again and read back to the same songs.
#include <cstddef>
#include <cstdint>
#include <string>

#include "FuzzCheck.h"
#include "library/exchange/PlaylistBackup.h"
#include "library/exchange/PlaylistBackupError.h"

using namespace velto;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    PlaylistBackup::Contents first;
    try {
        first = PlaylistBackup::decode(fuzz::text(data, size));
    } catch (const PlaylistBackupError& error) {
        FUZZ_CHECK(error.kind() != PlaylistBackupError::Kind::pendingChanges &&
                   error.kind() != PlaylistBackupError::Kind::saveFailed);
        return 0;
    }
    std::string bytes;
    try {
        bytes = PlaylistBackup::encode(first.name, first.tracks);
    } catch (const PlaylistBackupError& error) {
        // Pretty printing may push a dense file past the size limit, and nothing else.
        FUZZ_CHECK(error.kind() == PlaylistBackupError::Kind::tooLarge);
        return 0;
    }
    const auto second = PlaylistBackup::decode(bytes);
    FUZZ_CHECK(second.name == first.name);
    FUZZ_CHECK(second.tracks.size() == first.tracks.size());
    for (std::size_t i = 0; i < first.tracks.size(); ++i) {
        const Track& a = first.tracks[i];
        const Track& b = second.tracks[i];
        FUZZ_CHECK(a.musicID() == b.musicID());
        FUZZ_CHECK(a.title == b.title && a.artist == b.artist && a.album == b.album);
        FUZZ_CHECK(a.interval == b.interval);
    }
    // The first round trip may drop what writing leaves out (an empty "_types"); after it the
    // songs stay exactly as they are.
    const auto third = PlaylistBackup::decode(PlaylistBackup::encode(second.name, second.tracks));
    FUZZ_CHECK(third.tracks == second.tracks);
    return 0;
}
