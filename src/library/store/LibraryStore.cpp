#include "library/store/LibraryStore.h"

#include <algorithm>
#include <unordered_set>

#include "foundation/Log.h"
#include "foundation/RandomUUID.h"
#include "foundation/text/UnicodeNormalization.h"
#include "foundation/text/UnicodeTrim.h"
#include "library/store/BlockMove.h"
#include "library/store/LibraryRows.h"
#include "library/store/PersonalPlaylistDefaults.h"

namespace velto {

namespace {

using Mode = SqliteTransaction::Mode;

void sortPlaylists(std::vector<Playlist>& playlists) {
    struct Keyed {
        std::string name;
        Playlist* playlist;
    };
    std::vector<Keyed> keyed;
    keyed.reserve(playlists.size());
    for (auto& playlist : playlists)
        keyed.push_back({UnicodeNormalization::nfc(playlist.name), &playlist});
    // UTF-8 byte order is code point order.
    std::sort(keyed.begin(), keyed.end(), [](const Keyed& a, const Keyed& b) {
        if (a.playlist->sortIndex != b.playlist->sortIndex)
            return a.playlist->sortIndex < b.playlist->sortIndex;
        if (a.name != b.name) return a.name < b.name;
        return a.playlist->id < b.playlist->id;
    });
    std::vector<Playlist> sorted;
    sorted.reserve(playlists.size());
    for (auto& entry : keyed) sorted.push_back(std::move(*entry.playlist));
    playlists = std::move(sorted);
}

// Each playlist's position in the list becomes its sortIndex.
void writePlaylistPositions(SqliteDatabase& db, const std::vector<Playlist>& playlists) {
    for (std::size_t position = 0; position < playlists.size(); ++position) {
        if (playlists[position].sortIndex == static_cast<std::int64_t>(position)) continue;
        db.query("UPDATE playlists SET sort_index = ? WHERE id = ?")
            .bind(1, static_cast<std::int64_t>(position))
            .bind(2, playlists[position].id)
            .run();
    }
}

}  // namespace

LibraryStore::LibraryStore(std::shared_ptr<VeltoModelContainer> container, int recentLimit,
                           std::shared_ptr<UserDefaults> defaults)
    : container_(std::move(container)),
      recentLimit_(std::max(1, recentLimit)),
      defaults_(std::move(defaults)) {}

std::vector<Playlist> LibraryStore::listPlaylists(bool includeSystem, bool includeArchived) {
    std::vector<Playlist> result;
    auto rows =
        db().query(std::string("SELECT ") + LibraryRows::playlistColumns + " FROM playlists p");
    while (rows.step()) {
        Playlist playlist = LibraryRows::readPlaylist(rows);
        if (!includeArchived && playlist.isArchived) continue;
        if (!includeSystem && playlist.isSystem) continue;
        result.push_back(std::move(playlist));
    }
    sortPlaylists(result);
    return result;
}

std::vector<Playlist> LibraryStore::playlists(bool includeSystem, bool includeArchived) {
    Transaction transaction(db(), Mode::read);
    auto result = listPlaylists(includeSystem, includeArchived);
    for (auto& playlist : result) loadItems(playlist);
    transaction.commit();
    return result;
}

std::optional<Playlist> LibraryStore::playlist(const std::string& id) {
    auto row = db().query(std::string("SELECT ") + LibraryRows::playlistColumns +
                          " FROM playlists p WHERE p.id = ?");
    row.bind(1, id);
    if (!row.step()) return std::nullopt;
    return LibraryRows::readPlaylist(row);
}

Playlist LibraryStore::requirePlaylist(const std::string& id) {
    auto found = playlist(id);
    if (!found) throw std::out_of_range("no playlist " + id);
    return std::move(*found);
}

void LibraryStore::loadItems(Playlist& playlist) {
    playlist.items.clear();
    auto rows = db().query(std::string("SELECT i.id, i.sort_index, i.playlist_id, ") +
                           LibraryRows::trackColumns +
                           " FROM playlist_items i JOIN track_records t ON t.id = i.track_id"
                           " WHERE i.playlist_id = ? ORDER BY i.sort_index, t.music_id");
    rows.bind(1, playlist.id);
    playlist.items.reserve(static_cast<std::size_t>(std::max<std::int64_t>(0, playlist.itemCount)));
    while (rows.step()) {
        PlaylistItem item;
        item.rowId = rows.integer(0);
        item.sortIndex = rows.integer(1);
        item.playlistId = rows.optionalText(2);
        item.track = LibraryRows::readTrack(rows, 3);
        playlist.items.push_back(std::move(item));
    }
    playlist.itemCount = static_cast<std::int64_t>(playlist.items.size());
}

std::vector<std::int64_t> LibraryStore::orderedItemIds(const std::string& playlistId) {
    std::vector<std::int64_t> ids;
    auto rows = db().query(
        "SELECT i.id FROM playlist_items i JOIN track_records t ON t.id = i.track_id"
        " WHERE i.playlist_id = ? ORDER BY i.sort_index, t.music_id");
    rows.bind(1, playlistId);
    while (rows.step()) ids.push_back(rows.integer(0));
    return ids;
}

void LibraryStore::writePositions(const std::vector<std::int64_t>& itemIds) {
    for (std::size_t position = 0; position < itemIds.size(); ++position) {
        auto update =
            db().query("UPDATE playlist_items SET sort_index = ? WHERE id = ? AND sort_index != ?");
        update.bind(1, static_cast<std::int64_t>(position))
            .bind(2, itemIds[position])
            .bind(3, static_cast<std::int64_t>(position))
            .run();
    }
}

std::int64_t LibraryStore::nextSortIndex() {
    auto row = db().query("SELECT max(sort_index) FROM playlists");
    row.step();
    auto largest = row.optionalInteger(0);
    return largest ? *largest + 1 : 0;
}

std::string LibraryStore::insertPlaylist(const Playlist& playlist) {
    auto insert = db().query(
        "INSERT INTO playlists (id, name, sort_index, is_system, kind_raw, is_shared, is_private,"
        " is_primary_personal, is_archived) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?)");
    insert.bind(1, playlist.id)
        .bind(2, playlist.name)
        .bind(3, playlist.sortIndex)
        .bind(4, playlist.isSystem)
        .bind(5, playlist.kindRaw)
        .bind(6, playlist.isShared)
        .bind(7, playlist.isPrivate)
        .bind(8, playlist.isPrimaryPersonal)
        .bind(9, playlist.isArchived)
        .run();
    return playlist.id;
}

LibraryStore::Normalization LibraryStore::normalizePersonalPlaylist(Transaction& transaction) {
    bool changed = false;
    const auto candidates = listPlaylists(false, false);

    const Playlist* chosen = nullptr;
    for (const auto& candidate : candidates)
        if (candidate.isPrimaryPersonal && !candidate.isVideo()) {
            chosen = &candidate;
            break;
        }
    if (!chosen)
        for (const auto& candidate : candidates)
            if (!candidate.isVideo()) {
                chosen = &candidate;
                break;
            }

    Playlist personal;
    if (chosen) {
        personal = *chosen;
    } else {
        personal.id = makeRandomUUID();
        personal.name = std::string(PersonalPlaylistDefaults::name);
        personal.sortIndex = nextSortIndex();
        personal.isPrimaryPersonal = true;
        insertPlaylist(personal);
        changed = true;
    }

    if (PersonalPlaylistDefaults::legacyNames().contains(personal.name)) {
        personal.name = std::string(PersonalPlaylistDefaults::name);
        db().query("UPDATE playlists SET name = ? WHERE id = ?")
            .bind(1, personal.name)
            .bind(2, personal.id)
            .run();
        changed = true;
    }
    if (!personal.isPrimaryPersonal) {
        personal.isPrimaryPersonal = true;
        db().query("UPDATE playlists SET is_primary_personal = 1 WHERE id = ?")
            .bind(1, personal.id)
            .run();
        changed = true;
    }

    // Other primaries give their songs to the personal playlist and step back.
    std::optional<std::unordered_set<std::string>> keys;
    std::int64_t next = 0;
    for (const auto& other : candidates) {
        if (other.id == personal.id || !other.isPrimaryPersonal) continue;
        if (!keys) {
            Playlist current = personal;
            loadItems(current);
            keys.emplace();
            for (const auto& item : current.items) {
                keys->insert(item.track.musicId);
                next = std::max(next, item.sortIndex + 1);
            }
        }
        Playlist donor = other;
        loadItems(donor);
        for (const auto& item : donor.orderedItems()) {
            if (!keys->insert(item.track.musicId).second) continue;
            insertItem(next++, personal.id, item.track);
        }
        db().query("UPDATE playlists SET is_primary_personal = 0, is_archived = 1 WHERE id = ?")
            .bind(1, other.id)
            .run();
        changed = true;
    }

    if (!defaults_->boolValue(unarchiveFlagKey).value_or(false)) {
        std::vector<Playlist> all;
        try {
            all = listPlaylists(false, true);
        } catch (const SqliteError& error) {
            Log::error("library", "unarchiving skipped: " + error.detail());
        }
        for (const auto& entry : all) {
            if (entry.id == personal.id || !entry.isArchived || entry.isSystem ||
                entry.itemCount != 0)
                continue;
            db().query("UPDATE playlists SET is_archived = 0 WHERE id = ?").bind(1, entry.id).run();
            changed = true;
        }
        transaction.afterCommit(
            [defaults = defaults_] { defaults->setBool(unarchiveFlagKey, true); });
    }

    personal = requirePlaylist(personal.id);
    return {std::move(personal), changed};
}

Playlist LibraryStore::ensurePersonalPlaylist() {
    Transaction transaction(db());
    auto normalized = normalizePersonalPlaylist(transaction);
    loadItems(normalized.playlist);
    transaction.commit();
    return std::move(normalized.playlist);
}

std::string LibraryStore::validatedName(const std::string& name) {
    auto trimmed = UnicodeTrim::trimBlanksAndNewlines(name);
    if (trimmed.empty()) throw LibraryError(LibraryError::Kind::emptyPlaylistName);
    return std::string(trimmed);
}

Playlist LibraryStore::createPlaylist(const std::string& name, const PlaylistMetadata& metadata) {
    Playlist playlist;
    playlist.name = validatedName(name);
    Transaction transaction(db());
    playlist.id = makeRandomUUID();
    playlist.sortIndex = nextSortIndex();
    playlist.kindRaw = std::string(rawValue(metadata.kind));
    playlist.isShared = metadata.isShared;
    playlist.isPrivate = metadata.isPrivate;
    insertPlaylist(playlist);
    transaction.commit();
    return playlist;
}

void LibraryStore::rename(const Playlist& target, const std::string& name) {
    Transaction transaction(db());
    auto stored = playlist(target.id);
    if (!stored) return;
    if (stored->isSystem) throw LibraryError(LibraryError::Kind::systemPlaylistImmutable);
    const auto validName = validatedName(name);
    db().query("UPDATE playlists SET name = ? WHERE id = ?")
        .bind(1, validName)
        .bind(2, target.id)
        .run();
    transaction.commit();
}

void LibraryStore::deletePlaylist(const Playlist& target) {
    Transaction transaction(db());
    auto stored = playlist(target.id);
    if (!stored) return;
    if (stored->isSystem) throw LibraryError(LibraryError::Kind::systemPlaylistImmutable);
    if (stored->isPrimaryPersonal)
        throw LibraryError(LibraryError::Kind::personalPlaylistImmutable);
    db().query("DELETE FROM playlists WHERE id = ?").bind(1, target.id).run();
    normalizePlaylistOrder();
    transaction.commit();
}

void LibraryStore::normalizePlaylistOrder() {
    writePlaylistPositions(db(), listPlaylists(false, false));
}

void LibraryStore::movePlaylists(const std::set<int>& fromOffsets, int toOffset) {
    Transaction transaction(db());
    auto visible = listPlaylists(false, false);
    if (!applyBlockMove(visible, fromOffsets, toOffset)) return;
    writePlaylistPositions(db(), visible);
    transaction.commit();
}

}  // namespace velto
