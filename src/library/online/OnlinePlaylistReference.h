#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "sources/model/MusicSource.h"

namespace velto {

// A playlist to read: its source and its identifier, the decimal form of a positive number
// (1 to 18 digits, no leading zero).
struct OnlinePlaylistReference {
    MusicSource source = MusicSource::wy;
    std::string id;

    bool operator==(const OnlinePlaylistReference&) const = default;

    // ASCII digits only, at most 18, above zero; leading zeros dropped. Anything else: none.
    static std::optional<std::string> normalizedID(std::string_view text);
    // The source whose catalogue host the address names; none without a known host.
    static std::optional<MusicSource> sourceFor(std::string_view url);
    // The playlist an address points at. Throws OnlinePlaylistImportError unsupportedLink (not
    // a known host, not a plain web address) or notPlaylistLink (no playlist identifier).
    static OnlinePlaylistReference from(std::string_view url);
};

}  // namespace velto
