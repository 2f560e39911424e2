#pragma once

#include <chrono>
#include <cstdint>
#include <optional>

#include "library/store/Playlist.h"
#include "library/sqlite/SqliteDatabase.h"
#include "library/store/TrackRecord.h"

namespace velto {

// How the library's records map onto rows. Column lists and readers belong together: a reader
// takes the columns of its list starting at `first`.
namespace LibraryRows {

inline constexpr const char* playlistColumns =
    "p.id, p.name, p.sort_index, p.is_system, p.kind_raw, p.is_shared, p.is_private, "
    "p.is_primary_personal, p.is_archived, p.item_count";
inline constexpr int playlistColumnCount = 10;

inline constexpr const char* trackColumns =
    "t.id, t.music_id, t.title, t.artist, t.album, t.duration, t.source, t.payload, "
    "t.accent_hex, t.detail_refreshed_at, t.detail_refresh_version, t.detail_retry_after";
inline constexpr int trackColumnCount = 12;
// The same columns for a RETURNING clause, which takes no table names.
inline constexpr const char* trackReturning =
    "id, music_id, title, artist, album, duration, source, payload, accent_hex, "
    "detail_refreshed_at, detail_refresh_version, detail_retry_after";

inline std::int64_t storedDate(std::chrono::system_clock::time_point date) {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(date.time_since_epoch()).count();
}

inline std::optional<std::int64_t> storedDate(
    const std::optional<std::chrono::system_clock::time_point>& date) {
    if (!date) return std::nullopt;
    return storedDate(*date);
}

inline std::optional<std::chrono::system_clock::time_point> readDate(
    const SqliteDatabase::Query& row, int column) {
    auto value = row.optionalInteger(column);
    if (!value) return std::nullopt;
    return std::chrono::system_clock::time_point(
        std::chrono::duration_cast<std::chrono::system_clock::duration>(
            std::chrono::nanoseconds(*value)));
}

inline Playlist readPlaylist(const SqliteDatabase::Query& row, int first = 0) {
    Playlist playlist;
    playlist.id = row.text(first);
    playlist.name = row.text(first + 1);
    playlist.sortIndex = row.integer(first + 2);
    playlist.isSystem = row.boolean(first + 3);
    playlist.kindRaw = row.text(first + 4);
    playlist.isShared = row.boolean(first + 5);
    playlist.isPrivate = row.boolean(first + 6);
    playlist.isPrimaryPersonal = row.boolean(first + 7);
    playlist.isArchived = row.boolean(first + 8);
    playlist.itemCount = row.integer(first + 9);
    return playlist;
}

inline TrackRecord readTrack(const SqliteDatabase::Query& row, int first = 0) {
    TrackRecord record;
    record.rowId = row.integer(first);
    record.musicId = row.text(first + 1);
    record.title = row.text(first + 2);
    record.artist = row.text(first + 3);
    record.album = row.text(first + 4);
    record.duration = row.integer(first + 5);
    record.source = row.text(first + 6);
    record.payload = row.blob(first + 7);
    record.accentHex = row.optionalText(first + 8);
    record.detailRefreshedAt = readDate(row, first + 9);
    record.detailRefreshVersion = row.integer(first + 10);
    record.detailRetryAfter = readDate(row, first + 11);
    return record;
}

}  // namespace LibraryRows
}  // namespace velto
