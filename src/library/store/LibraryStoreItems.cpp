#include <algorithm>
#include <map>

#include "library/store/BlockMove.h"
#include "library/store/LibraryRows.h"
#include "library/store/LibraryStore.h"

namespace velto {

namespace {
using Mode = SqliteTransaction::Mode;
}  // namespace

std::int64_t LibraryStore::end(const char* aggregate, const std::string& playlistId) {
    auto row = db().query(std::string("SELECT ") + aggregate +
                          "(sort_index) FROM playlist_items WHERE playlist_id = ?");
    row.bind(1, playlistId);
    row.step();
    return row.integer(0);
}

std::optional<TrackRecord> LibraryStore::record(const std::string& musicId) {
    auto row = db().query(std::string("SELECT ") + LibraryRows::trackColumns +
                          " FROM track_records t WHERE t.music_id = ?");
    row.bind(1, musicId);
    if (!row.step()) return std::nullopt;
    return LibraryRows::readTrack(row);
}

TrackRecord LibraryStore::upsert(const Track& track) {
    TrackRecord fresh(track, std::nullopt);
    auto row = db().query(
        std::string("INSERT INTO track_records (music_id, title, artist, album, duration,"
                    " source, payload) VALUES (?, ?, ?, ?, ?, ?, ?)"
                    " ON CONFLICT (music_id) DO UPDATE SET title = excluded.title,"
                    " artist = excluded.artist, album = excluded.album,"
                    " duration = excluded.duration, source = excluded.source,"
                    " payload = excluded.payload RETURNING ") +
        LibraryRows::trackReturning);
    row.bind(1, fresh.musicId)
        .bind(2, fresh.title)
        .bind(3, fresh.artist)
        .bind(4, fresh.album)
        .bind(5, fresh.duration)
        .bind(6, fresh.source)
        .bindBlob(7, fresh.payload);
    if (!row.step()) db().fail(0, "upsert returned no row");
    TrackRecord stored = LibraryRows::readTrack(row);
    row.run();
    return stored;
}

PlaylistItem LibraryStore::insertItem(std::int64_t sortIndex, const std::string& playlistId,
                                      const TrackRecord& record) {
    db().query("INSERT INTO playlist_items (sort_index, playlist_id, track_id) VALUES (?, ?, ?)")
        .bind(1, sortIndex)
        .bind(2, playlistId)
        .bind(3, record.rowId)
        .run();
    return PlaylistItem{db().lastInsertRowId(), sortIndex, playlistId, record};
}

bool LibraryStore::contains(const std::string& playlistId, const std::string& musicId) {
    auto row = db().query(
        "SELECT 1 FROM track_records t JOIN playlist_items i ON i.track_id = t.id"
        " WHERE t.music_id = ? AND i.playlist_id = ? LIMIT 1");
    row.bind(1, musicId).bind(2, playlistId);
    return row.step();
}

PlaylistItem LibraryStore::insert(const Track& track, const Playlist& target,
                                  std::optional<int> position) {
    const Playlist stored = requirePlaylist(target.id);
    if (stored.isVideo()) throw LibraryError(LibraryError::Kind::incompatiblePlaylistKind);
    const TrackRecord record = upsert(track);

    const std::int64_t count = stored.itemCount;
    const std::int64_t p = std::clamp<std::int64_t>(position.value_or(count), 0, count);
    // The values are positions only where they run 0...n-1; anything else (gaps left by the
    // recent plays, older files) is renumbered first, or the song would land in the wrong place.
    if (p == count) {
        // Appending needs only that every value lies below n, which the two ends tell. Each end
        // is its own query: only a lone min() or max() is read straight from the index.
        if (count > 0 && (end("min", stored.id) != 0 || end("max", stored.id) != count - 1))
            writePositions(orderedItemIds(stored.id));
    } else {
        writePositions(orderedItemIds(stored.id));
        db().query(
                "UPDATE playlist_items SET sort_index = sort_index + 1"
                " WHERE playlist_id = ? AND sort_index >= ?")
            .bind(1, stored.id)
            .bind(2, p)
            .run();
    }
    return insertItem(p, stored.id, record);
}

PlaylistItem LibraryStore::add(const Track& track, const Playlist& playlist,
                               std::optional<int> position) {
    Transaction transaction(db());
    auto item = insert(track, playlist, position);
    transaction.commit();
    return item;
}

PersonalPlaylistCollectionResult LibraryStore::collect(const Track& track) {
    Transaction transaction(db());
    auto normalized = normalizePersonalPlaylist(transaction);
    if (contains(normalized.playlist.id, track.musicID())) {
        transaction.commit();
        return {std::move(normalized.playlist), false};
    }
    insert(track, normalized.playlist, std::nullopt);
    Playlist personal = requirePlaylist(normalized.playlist.id);
    transaction.commit();
    return {std::move(personal), true};
}

void LibraryStore::removeItem(int position, const Playlist& playlist) {
    Transaction transaction(db());
    auto ids = orderedItemIds(playlist.id);
    if (position < 0 || position >= static_cast<int>(ids.size())) return;
    db().query("DELETE FROM playlist_items WHERE id = ?")
        .bind(1, ids[static_cast<std::size_t>(position)])
        .run();
    ids.erase(ids.begin() + position);
    writePositions(ids);
    transaction.commit();
}

void LibraryStore::moveItems(const Playlist& playlist, const std::set<int>& fromOffsets,
                             int toOffset) {
    Transaction transaction(db());
    auto ids = orderedItemIds(playlist.id);
    if (!applyBlockMove(ids, fromOffsets, toOffset)) return;
    writePositions(ids);
    transaction.commit();
}

Playlist LibraryStore::recentPlaylist() {
    if (auto found = playlist(recentPlaylistID)) return std::move(*found);
    Playlist recent;
    recent.id = recentPlaylistID;
    recent.name = "最近播放";
    recent.sortIndex = -1;
    recent.isSystem = true;
    insertPlaylist(recent);
    return recent;
}

Playlist LibraryStore::recordRecent(const Track& track) {
    Transaction transaction(db());
    Playlist recent = recentPlaylist();
    const TrackRecord stored = upsert(track);

    auto previous =
        db().query("SELECT id FROM playlist_items WHERE playlist_id = ? AND track_id = ? LIMIT 1");
    previous.bind(1, recent.id).bind(2, stored.rowId);
    if (previous.step()) {
        const auto id = previous.integer(0);
        previous.run();
        db().query("DELETE FROM playlist_items WHERE id = ?").bind(1, id).run();
    }
    // Gaps may stay, but a value below zero would sort ahead of the new first entry.
    const bool negative = end("min", recent.id) < 0;
    if (negative) writePositions(orderedItemIds(recent.id));
    db().query("UPDATE playlist_items SET sort_index = sort_index + 1 WHERE playlist_id = ?")
        .bind(1, recent.id)
        .run();
    insertItem(0, recent.id, stored);

    db().query(
            "DELETE FROM playlist_items WHERE id IN (SELECT i.id FROM playlist_items i"
            " JOIN track_records t ON t.id = i.track_id WHERE i.playlist_id = ?"
            " ORDER BY i.sort_index, t.music_id LIMIT -1 OFFSET ?)")
        .bind(1, recent.id)
        .bind(2, static_cast<std::int64_t>(recentLimit_))
        .run();

    recent = requirePlaylist(recent.id);
    loadItems(recent);
    transaction.commit();
    return recent;
}

std::vector<Track> LibraryStore::recentTracks() {
    Transaction transaction(db(), Mode::read);
    std::vector<Track> tracks;
    auto recent = playlist(recentPlaylistID);
    if (recent) {
        loadItems(*recent);
        for (const auto& item : recent->orderedItems())
            if (auto song = item.track.track()) tracks.push_back(std::move(*song));
    }
    transaction.commit();
    return tracks;
}

void LibraryStore::deleteTrack(const Track& track) {
    Transaction transaction(db());
    auto stored = record(track.musicID());
    if (!stored) return;

    std::vector<std::string> playlistIds;
    {
        auto rows = db().query(
            "SELECT DISTINCT playlist_id FROM playlist_items WHERE track_id = ?"
            " AND playlist_id IS NOT NULL");
        rows.bind(1, stored->rowId);
        while (rows.step()) playlistIds.push_back(rows.text(0));
    }
    db().query("DELETE FROM playlist_items WHERE track_id = ?").bind(1, stored->rowId).run();
    for (const auto& id : playlistIds) writePositions(orderedItemIds(id));
    db().query("DELETE FROM track_records WHERE id = ?").bind(1, stored->rowId).run();
    transaction.commit();
}

void LibraryStore::cacheAccentHex(const std::optional<std::string>& accentHex, const Track& track) {
    Transaction transaction(db());
    const TrackRecord stored = upsert(track);
    db().query("UPDATE track_records SET accent_hex = ? WHERE id = ?")
        .bind(1, accentHex)
        .bind(2, stored.rowId)
        .run();
    transaction.commit();
}

TrackRecord LibraryStore::updateTrack(const Track& track) {
    Transaction transaction(db());
    TrackRecord stored = upsert(track);
    transaction.commit();
    return stored;
}

}  // namespace velto
