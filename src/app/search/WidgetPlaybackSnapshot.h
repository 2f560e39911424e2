#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace velto {

// What a widget needs to show and control playback. The JSON form has one key per field;
// `updatedAt` travels as seconds since 2001-01-01 00:00:00 UTC.
struct WidgetPlaybackSnapshot {
    std::string title;
    std::string artist;
    std::string album;
    std::string quality;
    bool isPlaying = false;
    bool hasTrack = false;
    bool isShuffleOn = false;
    std::int64_t favoritesCount = 0;
    std::chrono::system_clock::time_point updatedAt;

    // "暂无播放" / "点按开启随心听", made once on first use.
    static const WidgetPlaybackSnapshot& empty();

    bool operator==(const WidgetPlaybackSnapshot&) const = default;
    // Equal in every field but `updatedAt`.
    bool sameContent(const WidgetPlaybackSnapshot& other) const;

    // None when a text is not valid UTF-8.
    std::optional<std::string> toJSON() const;
    // Every key is required except "isShuffleOn" (missing or null: false); none on any mismatch.
    static std::optional<WidgetPlaybackSnapshot> fromJSON(std::string_view text);

    static std::chrono::system_clock::time_point fromSecondsSince2001(double seconds);
    static double secondsSince2001(std::chrono::system_clock::time_point time);
};

}  // namespace velto
