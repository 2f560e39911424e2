#include <unordered_set>

#include "foundation/Log.h"
#include "library/store/LibraryStore.h"
#include "library/exchange/PlaylistBackup.h"
#include "library/exchange/PlaylistBackupError.h"

namespace velto {

std::string LibraryStore::exportPersonalPlaylist() {
    return exportPlaylist(ensurePersonalPlaylist());
}

std::string LibraryStore::exportPlaylist(const Playlist& personal) {
    std::vector<Track> tracks;
    const auto items = personal.orderedItems();
    tracks.reserve(items.size());
    for (const auto& item : items) {
        auto track = item.track.track();
        if (!track) throw PlaylistBackupError(PlaylistBackupError::Kind::invalidTrack);
        tracks.push_back(std::move(*track));
    }
    return PlaylistBackup::encode(personal.name, tracks);
}

PlaylistImportResult LibraryStore::importPersonalPlaylist(std::string_view bytes) {
    return importPersonalPlaylist(bytes, [](SqliteDatabase&) {});
}

PlaylistImportResult LibraryStore::importPersonalPlaylist(
    std::string_view bytes, const std::function<void(SqliteDatabase&)>& save) {
    // The file is read before the store is looked at.
    const PlaylistBackup::Contents backup = PlaylistBackup::decode(bytes);
    // Every operation commits or rolls back before it returns, so this only guards against a
    // caller's own open transaction, whose work a rollback here would take with it.
    if (db().inTransaction()) throw PlaylistBackupError(PlaylistBackupError::Kind::pendingChanges);

    try {
        Transaction transaction(db());
        Normalization normalized = normalizePersonalPlaylist(transaction);
        Playlist personal = std::move(normalized.playlist);
        if (personal.itemCount == 0) {
            db().query("UPDATE playlists SET name = ? WHERE id = ?")
                .bind(1, backup.name)
                .bind(2, personal.id)
                .run();
        }
        loadItems(personal);
        std::unordered_set<std::string> keys;
        keys.reserve(personal.items.size() + backup.tracks.size());
        for (const auto& item : personal.items) keys.insert(item.track.musicId);

        std::int64_t inserted = 0;
        for (const auto& track : backup.tracks) {
            if (!keys.insert(track.musicID()).second) continue;
            insert(track, personal, std::nullopt);
            ++inserted;
        }
        save(db());
        const Playlist after = requirePlaylist(personal.id);
        transaction.commit();
        return {inserted, static_cast<std::int64_t>(backup.tracks.size()) - inserted, after.itemCount,
                after.name};
    } catch (const std::exception& error) {
        // The transaction has rolled back on the way out: normalisation, name and songs alike.
        Log::error("library", std::string("backup import rolled back: ") + error.what());
        throw PlaylistBackupError(PlaylistBackupError::Kind::saveFailed);
    }
}

}  // namespace velto
