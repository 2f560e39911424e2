#pragma once

#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <string_view>

#include "sources/model/MusicSource.h"

namespace velto {

// One song as a source returned it. `payload` is the source's raw record as compact JSON with
// sorted keys (see writeSortedJSON); equal content gives equal bytes.
struct Track {
    MusicSource source = MusicSource::wy;
    std::string songmid;
    std::string title;
    std::string artist;
    std::string album;
    std::optional<std::string> interval;
    std::string payload;

    // Bounds no real catalogue reaches, so that no consumer of a song (ranking, library, views)
    // works through the megabytes a hostile answer may hold: a name keeps at most `longestName`
    // user-perceived characters, `longestNameCodePoints` code points and `longestNameBytes`
    // bytes, and a character at most `mostCodePointsPerCharacter` code points (one letter may
    // otherwise carry a megabyte of combining marks); a parser joins at most `mostArtists`
    // artists.
    static constexpr std::size_t longestName = 500;
    static constexpr std::size_t longestNameCodePoints = 2000;
    static constexpr std::size_t longestNameBytes = 6000;
    static constexpr std::size_t mostCodePointsPerCharacter = 32;
    static constexpr std::size_t mostArtists = 30;
    // `text` cut to the name bounds above (grapheme clusters; an invalid byte counts as one).
    static std::string boundedName(std::string_view text);

    // Builds a song from a source's raw record; throws SourceError::source("搜索结果缺少曲目信息").
    // Title, artist and album are bounded, in the song and in its payload.
    static Track fromRaw(MusicSource source, const nlohmann::json& raw);

    // "<source raw value>_<songmid>", the one identity of a song everywhere.
    std::string musicID() const;
    std::string id() const { return musicID(); }
    bool isPlayable() const;
    std::optional<double> durationSeconds() const;
    // The payload decoded through TrackPayloadCache; an empty object when it is not an object.
    std::shared_ptr<const nlohmann::json> rawPayload() const;

    // The song with its names cut to the name bounds, in its payload too; what an older version
    // stored or wrote may hold longer ones.
    Track bounded() &&;

    // Coded form: keys source, songmid, title, artist, album, interval (when present), payload
    // (Base64). fromJSON throws std::invalid_argument on a missing key, wrong type or unknown
    // source; it returns the song bounded.
    nlohmann::json toJSON() const;
    static Track fromJSON(const nlohmann::json& value);

    bool operator==(const Track&) const = default;
};

}  // namespace velto
