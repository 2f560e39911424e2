#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "foundation/files/UserDefaults.h"
#include "library/store/LibraryStore.h"
#include "library/store/VeltoModelContainer.h"
#include "support/TempDir.h"

namespace velto {

inline Track song(const std::string& songmid, MusicSource source = MusicSource::wy,
                  const std::string& payload = "{}") {
    Track track;
    track.source = source;
    track.songmid = songmid;
    track.title = "歌" + songmid;
    track.artist = "唱者";
    track.album = "专辑";
    track.interval = "03:05";
    track.payload = payload;
    return track;
}

// A store on a real file in a fresh folder, plus a second connection that looks at the file
// the way another process would.
class LibraryFixture : public ::testing::Test {
  protected:
    LibraryFixture() { open(); }

    std::filesystem::path storePath() const { return dir.path() / "Velto.store"; }

    void open(int recentLimit = 100) {
        store.reset();
        container.reset();
        defaults = std::make_shared<UserDefaults>(dir.path() / "defaults.json");
        container = VeltoModelContainer::make(false, storePath());
        store = std::make_unique<LibraryStore>(container, recentLimit, defaults);
    }

    // Runs SQL on the store's own connection, outside any operation.
    void sql(const std::string& statement) { container->database().execute(statement); }
    std::int64_t integer(const std::string& query) { return container->database().integer(query); }

    // Changes whenever some other connection commits a change to the file.
    std::int64_t committedVersion() {
        if (!observer) observer = SqliteDatabase::open(storePath(), false);
        return observer->integer("PRAGMA data_version");
    }

    std::vector<std::string> keys(const Playlist& playlist) {
        std::vector<std::string> result;
        for (const auto& item : playlist.orderedItems()) result.push_back(item.track.musicId);
        return result;
    }
    std::vector<std::int64_t> sortIndexes(const Playlist& playlist) {
        std::vector<std::int64_t> result;
        for (const auto& item : playlist.orderedItems()) result.push_back(item.sortIndex);
        return result;
    }
    Playlist reread(const Playlist& playlist) {
        for (auto& candidate : store->playlists(true, true))
            if (candidate.id == playlist.id) return candidate;
        ADD_FAILURE() << "playlist " << playlist.id << " is gone";
        return {};
    }
    Playlist seedPlaylist(const std::string& name, std::int64_t sortIndex, bool primary = false,
                          bool archived = false, const std::string& kind = "music") {
        Playlist playlist = store->createPlaylist(name, {});
        sql("UPDATE playlists SET sort_index = " + std::to_string(sortIndex) +
            ", is_primary_personal = " + std::to_string(primary) +
            ", is_archived = " + std::to_string(archived) + ", kind_raw = '" + kind +
            "' WHERE id = '" + playlist.id + "'");
        return reread(playlist);
    }

    // An item written directly, so that any numbering (gaps, ties, video playlists) can be set up.
    void seedItem(const Playlist& playlist, const std::string& songmid, std::int64_t sortIndex) {
        TrackRecord record = store->updateTrack(song(songmid));
        sql("INSERT INTO playlist_items (sort_index, playlist_id, track_id) VALUES (" +
            std::to_string(sortIndex) + ", '" + playlist.id + "', " + std::to_string(record.rowId) +
            ")");
    }

    TempDir dir;
    std::shared_ptr<UserDefaults> defaults;
    std::shared_ptr<VeltoModelContainer> container;
    std::unique_ptr<LibraryStore> store;
    std::unique_ptr<SqliteDatabase> observer;
};

}  // namespace velto
