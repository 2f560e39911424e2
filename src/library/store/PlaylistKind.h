#pragma once

#include <string_view>

namespace velto {

// What a playlist holds. Stored as its raw text; any text other than "video" counts as music.
enum class PlaylistKind { music, video };

constexpr std::string_view rawValue(PlaylistKind kind) {
    return kind == PlaylistKind::video ? "video" : "music";
}

}  // namespace velto
