#pragma once

#include <cstdint>
#include <functional>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "sources/model/MusicSource.h"
#include "sources/model/Track.h"

// The records the source operations answer with. Coded records decode strictly (a missing
// required key or a wrong type throws std::invalid_argument), except PlaylistSummary and
// PlaylistCatalogPage, which fill defaults where the services differ. Every name a record is
// made or decoded with is cut to Track::boundedName, and a description to
// PlaylistSummary::boundedDescription.

namespace velto {

// One page of song search results.
struct SearchPage {
    std::vector<Track> list;
    std::int64_t total = 0;
    std::int64_t allPage = 0;

    nlohmann::json toJSON() const;
    static SearchPage fromJSON(const nlohmann::json& value);
};

struct ArtistSummary {
    std::string id;
    MusicSource source = MusicSource::wy;
    std::string name;
    std::optional<std::string> imageURL;
    std::optional<std::int64_t> songCount;
    std::optional<std::int64_t> albumCount;

    // Trims id and name (refusing "歌手结果缺少身份信息" when either is then empty), bounds the
    // name, normalises the cover address and drops negative counts.
    static ArtistSummary make(const std::string& id, MusicSource source, const std::string& name,
                              const std::optional<std::string>& imageURL,
                              std::optional<std::int64_t> songCount,
                              std::optional<std::int64_t> albumCount);

    std::string stableID() const;
    nlohmann::json toJSON() const;
    static ArtistSummary fromJSON(const nlohmann::json& value);
    bool operator==(const ArtistSummary&) const = default;
};

struct ArtistSearchPage {
    std::vector<ArtistSummary> list;
    std::int64_t total = 0;
    MusicSource source = MusicSource::wy;
    std::int64_t page = 1;
    std::int64_t limit = 1;
    bool hasMore = false;

    // Normalises: page at least 1, limit at least 1 (the list's count when none was given),
    // total at least the list's count, and no further page for an empty list.
    ArtistSearchPage(std::vector<ArtistSummary> list, std::int64_t total, MusicSource source,
                     std::int64_t page, std::int64_t limit,
                     std::optional<bool> hasMore = std::nullopt);
};

struct AlbumSummary {
    std::string id;
    MusicSource source = MusicSource::wy;
    std::string name;
    std::string artist;
    std::optional<std::string> imageURL;
    std::optional<std::string> releaseDate;  // "YYYY-MM-DD"
    std::optional<std::int64_t> trackCount;

    // Trims id, name and artist (refusing "专辑结果缺少身份信息" for an empty id or name),
    // bounds the names, normalises the cover address and release date and drops a negative
    // track count.
    static AlbumSummary make(const std::string& id, MusicSource source, const std::string& name,
                             const std::string& artist, const std::optional<std::string>& imageURL,
                             const std::optional<std::string>& releaseDate,
                             std::optional<std::int64_t> trackCount);

    std::string stableID() const;
    nlohmann::json toJSON() const;
    static AlbumSummary fromJSON(const nlohmann::json& value);
    bool operator==(const AlbumSummary&) const = default;
};

struct AlbumPage {
    std::vector<AlbumSummary> list;
    std::int64_t total = 0;
    MusicSource source = MusicSource::wy;
};

struct AlbumDetail {
    AlbumSummary album;
    std::vector<Track> tracks;
};

struct PlaylistCategory {
    std::string id;
    std::string name;

    bool operator==(const PlaylistCategory&) const = default;
};

struct PlaylistSummary {
    std::string id;
    std::string name;
    std::optional<std::string> img;
    std::string author;
    std::string playCount;
    std::optional<std::int64_t> total;
    std::optional<std::string> desc;
    std::optional<std::string> time;
    MusicSource source = MusicSource::wy;

    // A description runs over several lines and is never shown on one, so it has more room
    // than a name: at most `longestDescription` characters, four code points and twelve bytes
    // a character on average, and a name's code points in any one character.
    static constexpr std::size_t longestDescription = 5000;
    static std::string boundedDescription(std::string_view text);

    // "<source raw value>:<id>"
    std::string key() const;
    nlohmann::json toJSON() const;
    // The id may arrive as text or integer (otherwise "歌单缺少有效 ID"); a missing author or
    // play count reads as the empty text.
    static PlaylistSummary fromJSON(const nlohmann::json& value);
    bool operator==(const PlaylistSummary&) const = default;
};

struct PlaylistCatalogPage {
    std::vector<PlaylistSummary> list;
    std::int64_t total = 0;
    std::int64_t page = 1;
    std::int64_t limit = 20;
    MusicSource source = MusicSource::wy;

    nlohmann::json toJSON() const;
    // Missing total, page and limit default to the list's count, 1 and max(count, 20).
    static PlaylistCatalogPage fromJSON(const nlohmann::json& value);
    bool operator==(const PlaylistCatalogPage&) const = default;
};

struct PlaylistDetailInfo {
    std::string name;
    std::optional<std::string> img;
    std::optional<std::string> desc;
    std::string author;
    std::string playCount;

    nlohmann::json toJSON() const;
    static PlaylistDetailInfo fromJSON(const nlohmann::json& value);
    bool operator==(const PlaylistDetailInfo&) const = default;
};

struct PlaylistDetail {
    std::vector<Track> list;
    std::int64_t total = 0;
    std::int64_t page = 1;
    std::int64_t limit = 0;
    MusicSource source = MusicSource::wy;
    PlaylistDetailInfo info;

    bool supportsPagination() const;
    bool hasMore() const;
};

struct LyricInfo {
    std::string lyric;
    std::optional<std::string> tlyric;
    std::optional<std::string> rlyric;
    std::optional<std::string> lxlyric;

    nlohmann::json toJSON() const;
    static LyricInfo fromJSON(const nlohmann::json& value);
    bool operator==(const LyricInfo&) const = default;
};

}  // namespace velto

template <>
struct std::hash<velto::ArtistSummary> {
    std::size_t operator()(const velto::ArtistSummary& artist) const noexcept;
};

template <>
struct std::hash<velto::AlbumSummary> {
    std::size_t operator()(const velto::AlbumSummary& album) const noexcept;
};
