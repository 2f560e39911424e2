#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "foundation/files/UserDefaults.h"
#include "library/details/DetailRefreshDecision.h"
#include "library/store/LibraryError.h"
#include "library/store/PersonalPlaylistCollectionResult.h"
#include "library/exchange/PlaylistImportResult.h"
#include "library/store/Playlist.h"
#include "library/store/PlaylistMetadata.h"
#include "library/sqlite/SqliteTransaction.h"
#include "library/details/TrackDetailCachePolicy.h"
#include "library/store/TrackRecord.h"
#include "library/store/VeltoModelContainer.h"
#include "sources/model/Track.h"

namespace velto {

// The one way into the library: playlists, their items, the stored songs and their detail
// state. Main thread only. Every public operation is one transaction, committed whole or
// rolled back whole; a failed operation leaves nothing behind, and the next one starts clean.
// Records handed out are values read by that operation. Playlists passed back in are found
// again by their id.
class LibraryStore {
  public:
    using Date = std::chrono::system_clock::time_point;

    // The recent plays' fixed id.
    static constexpr const char* recentPlaylistID = "4CF93099-1702-4B9D-99DA-47B54D9B816B";
    // The user default that marks the one-time unarchiving of empty playlists as done.
    static constexpr const char* unarchiveFlagKey = "velto.library.unarchiveEmptyPlaylists.v2";

    // `recentLimit` is kept as at least 1.
    LibraryStore(std::shared_ptr<VeltoModelContainer> container, int recentLimit,
                 std::shared_ptr<UserDefaults> defaults);

    int recentLimit() const { return recentLimit_; }
    const std::shared_ptr<VeltoModelContainer>& container() const { return container_; }

    // --- Playlists ---

    // By sortIndex, then name (NFC code points), then id; with their items.
    std::vector<Playlist> playlists(bool includeSystem, bool includeArchived);
    // Finds or creates the personal playlist, merges other primaries into it; with its items.
    Playlist ensurePersonalPlaylist();
    Playlist createPlaylist(const std::string& name, const PlaylistMetadata& metadata);
    void rename(const Playlist& playlist, const std::string& name);
    void deletePlaylist(const Playlist& playlist);
    // Moves the visible playlists at `fromOffsets` as one block before `toOffset`.
    void movePlaylists(const std::set<int>& fromOffsets, int toOffset);

    // --- Items, favourites, recent plays ---

    // Inserts at `position` (the end when none), clamped.
    PlaylistItem add(const Track& track, const Playlist& playlist, std::optional<int> position);
    // Adds the song to the end of the personal playlist unless it is there already. The result's
    // playlist comes without its items: favouriting does not read the whole list.
    PersonalPlaylistCollectionResult collect(const Track& track);
    void removeItem(int position, const Playlist& playlist);
    void moveItems(const Playlist& playlist, const std::set<int>& fromOffsets, int toOffset);
    // Puts the song first in the recent plays (with their items), keeping at most recentLimit.
    Playlist recordRecent(const Track& track);
    std::vector<Track> recentTracks();
    // Removes the song from every playlist and the library.
    void deleteTrack(const Track& track);
    void cacheAccentHex(const std::optional<std::string>& accentHex, const Track& track);
    TrackRecord updateTrack(const Track& track);

    // --- Song details ---

    DetailRefreshDecision detailRefreshDecision(const Track& track, Date now,
                                                const TrackDetailCachePolicy& policy, bool force);
    // Throws TrackDetailRefreshError when the fetched song is another one.
    TrackRecord recordTrackDetailSuccess(const Track& fetched, const std::string& requestedMusicID,
                                         Date at, std::int64_t version);
    // Defers the song's next fetch; a song without a record is left alone.
    void recordTrackDetailFailure(const Track& requested, Date retryAfter);

    // --- Backup export and import (LibraryStoreExchange.cpp) ---

    // The personal playlist as backup bytes, in item order. Throws what ensurePersonalPlaylist
    // and PlaylistBackup::encode throw, or PlaylistBackupError::invalidTrack for a stored song
    // that cannot be rebuilt.
    std::string exportPersonalPlaylist();
    // The same for a playlist read with its items, without the store: it reads every song's
    // payload, which a caller may do on a worker.
    static std::string exportPlaylist(const Playlist& playlist);
    // Adds the backup's songs that the personal playlist lacks to its end, in one transaction.
    // Throws PlaylistBackupError only: the decoding errors (store untouched), pendingChanges, or
    // saveFailed after rolling everything back. `save` runs last, before the commit; a throw
    // from it rolls back as well.
    PlaylistImportResult importPersonalPlaylist(std::string_view bytes);
    PlaylistImportResult importPersonalPlaylist(std::string_view bytes,
                                                const std::function<void(SqliteDatabase&)>& save);

  private:
    struct Normalization {
        Playlist playlist;  // without items
        bool didChange = false;
    };
    using Transaction = SqliteTransaction;

    SqliteDatabase& db() { return container_->database(); }

    // The steps below run inside their caller's transaction and never commit.
    std::vector<Playlist> listPlaylists(bool includeSystem, bool includeArchived);
    Normalization normalizePersonalPlaylist(Transaction& transaction);
    void normalizePlaylistOrder();
    static std::string validatedName(const std::string& name);
    std::optional<Playlist> playlist(const std::string& id);
    Playlist requirePlaylist(const std::string& id);
    std::string insertPlaylist(const Playlist& playlist);
    std::int64_t nextSortIndex();
    void loadItems(Playlist& playlist);
    // The items' row ids in item order.
    std::vector<std::int64_t> orderedItemIds(const std::string& playlistId);
    void writePositions(const std::vector<std::int64_t>& itemIds);
    // min or max of a playlist's sortIndex values (0 when it has no items).
    std::int64_t end(const char* aggregate, const std::string& playlistId);
    TrackRecord upsert(const Track& track);
    std::optional<TrackRecord> record(const std::string& musicId);
    PlaylistItem insert(const Track& track, const Playlist& playlist, std::optional<int> position);
    PlaylistItem insertItem(std::int64_t sortIndex, const std::string& playlistId,
                            const TrackRecord& record);
    bool contains(const std::string& playlistId, const std::string& musicId);
    Playlist recentPlaylist();

    std::shared_ptr<VeltoModelContainer> container_;
    int recentLimit_;
    std::shared_ptr<UserDefaults> defaults_;
};

}  // namespace velto
