#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "sources/model/Track.h"

namespace velto {

// The personal-playlist backup file: a JSON document "velto.personal-playlist", version 1, with
// a playlist's name and its songs. Reading and writing apply the same rules, so whatever is
// written reads back, and every song read has checked identifiers and a cleaned cover address.
// Failures are PlaylistBackupError; nothing partial is ever returned.
struct PlaylistBackup {
    static constexpr std::size_t maximumFileSize = 10'485'760;
    static constexpr std::size_t maximumTrackCount = 50'000;

    struct Contents {
        std::string name;  // trimmed
        std::vector<Track> tracks;
    };

    // Throws invalidFile (name), tooLarge (count or bytes) or invalidTrack.
    static std::string encode(std::string_view name, const std::vector<Track>& tracks);
    // Checks, in order: size, header (format, then version), structure, name, count, songs.
    static Contents decode(std::string_view bytes);
};

}  // namespace velto
