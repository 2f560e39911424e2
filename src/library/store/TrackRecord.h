#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

#include "sources/model/Track.h"

namespace velto {

// A stored song, unique by musicId (the song key), as read from the store by one operation.
struct TrackRecord {
    using Date = std::chrono::system_clock::time_point;

    std::int64_t rowId = 0;  // the store's own key; 0 for a record not stored yet
    std::string musicId;
    std::string title;
    std::string artist;
    std::string album;
    std::int64_t duration = 0;  // whole seconds
    std::string source;         // the source's raw value
    std::string payload;
    std::optional<std::string> accentHex;
    std::optional<Date> detailRefreshedAt;
    std::int64_t detailRefreshVersion = 0;
    std::optional<Date> detailRetryAfter;

    // A new record from a song: its key, fields and whole-second duration, no detail state.
    TrackRecord(const Track& track, std::optional<std::string> accentHex);
    TrackRecord() = default;

    // Rewrites title, artist, album, duration, source and payload; keeps the key, the accent
    // colour and the detail fields.
    void update(const Track& track);
    // The song again, its names bounded, or none when the source text is unknown, the key does
    // not start with it and "_", or the songmid would be empty.
    std::optional<Track> track() const;

    bool operator==(const TrackRecord&) const = default;
};

}  // namespace velto
