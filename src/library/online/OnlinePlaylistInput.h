#pragma once

#include <string>
#include <string_view>
#include <variant>

#include "library/online/OnlinePlaylistReference.h"

namespace velto {

// What pasted text asks to import: a playlist to read at once, or a short share link that has
// to be followed first.
struct OnlinePlaylistInput {
    struct ShortLink {
        std::string url;  // always https
        bool operator==(const ShortLink&) const = default;
    };

    std::variant<OnlinePlaylistReference, ShortLink> value;

    bool operator==(const OnlinePlaylistInput&) const = default;
    const OnlinePlaylistReference* reference() const { return std::get_if<OnlinePlaylistReference>(&value); }
    const ShortLink* shortLink() const { return std::get_if<ShortLink>(&value); }

    // Longest paste looked at, in user-perceived characters.
    static constexpr std::size_t maximumLength = 8192;

    // Share text, an address or a bare identifier (which takes `source`; a link names its own).
    // Throws OnlinePlaylistImportError. Runs in time linear in the text.
    static OnlinePlaylistInput parse(std::string_view text, MusicSource source);
};

}  // namespace velto
