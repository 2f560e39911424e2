#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "LibraryFixture.h"
#include "library/exchange/PlaylistBackup.h"
#include "library/exchange/PlaylistBackupError.h"

namespace velto {
namespace {

using nlohmann::json;
using Kind = PlaylistBackupError::Kind;

std::string backup(const std::vector<Track>& tracks, const std::string& name = " 旅行歌单 ") {
    return PlaylistBackup::encode(name, tracks);
}

class LibraryExchangeTest : public LibraryFixture {
protected:
    std::optional<Kind> importFailure(const std::string& bytes,
                                      const std::function<void(SqliteDatabase&)>& save = [](SqliteDatabase&) {}) {
        try {
            store->importPersonalPlaylist(bytes, save);
        } catch (const PlaylistBackupError& error) {
            return error.kind();
        }
        return std::nullopt;
    }
};

TEST_F(LibraryExchangeTest, ExportThenImportIntoAFreshStoreKeepsOrderKeysAndCovers) {
    const Track local = song("/home/听者/音乐/夜 曲.flac", MusicSource::local,
                             R"({"filePath":"/home/听者/音乐/夜 曲.flac","fileSize":12})");
    const Track covered = song("186016", MusicSource::wy, R"({"picUrl":"http://p.example/c.jpg?param=1"})");
    for (const auto& track : {song("3"), covered, local, song("0Ab", MusicSource::kg)}) store->collect(track);
    store->moveItems(store->ensurePersonalPlaylist(), {3}, 0);
    const Playlist original = store->ensurePersonalPlaylist();
    const std::string bytes = store->exportPersonalPlaylist();

    TempDir other;
    auto container = VeltoModelContainer::make(false, other.path() / "Velto.store");
    LibraryStore fresh(container, 100, std::make_shared<UserDefaults>(other.path() / "d.json"));
    const auto result = fresh.importPersonalPlaylist(bytes);
    EXPECT_EQ(result, (PlaylistImportResult{4, 0, 4, original.name}));
    const Playlist imported = fresh.ensurePersonalPlaylist();
    EXPECT_EQ(keys(imported), keys(original));
    EXPECT_EQ(keys(imported)[0], "kg_0Ab");
    const auto items = imported.orderedItems();
    EXPECT_EQ(json::parse(items[2].track.payload)["img"], "https://p.example/c.jpg");
    EXPECT_EQ(items[3].track.track()->songmid, local.songmid);
}

TEST_F(LibraryExchangeTest, ImportAddsOnlyMissingSongsAtTheEnd) {
    store->collect(song("1"));
    store->recordRecent(song("9"));  // a stored record outside the playlist
    Track renamed = song("1");
    renamed.title = "另一个标题";
    Track recent = song("9");
    recent.title = "新标题";
    const std::string bytes = backup({renamed, song("2"), recent, song("2")});

    EXPECT_EQ(store->importPersonalPlaylist(bytes), (PlaylistImportResult{2, 2, 3, "mirelotasvenki"}));
    Playlist personal = store->ensurePersonalPlaylist();
    EXPECT_EQ(keys(personal), (std::vector<std::string>{"wy_1", "wy_2", "wy_9"}));
    EXPECT_EQ(personal.orderedItems()[0].track.title, "歌1");   // present: left alone
    EXPECT_EQ(personal.orderedItems()[2].track.title, "新标题");  // record refreshed
    // The same backup again changes nothing.
    EXPECT_EQ(store->importPersonalPlaylist(bytes), (PlaylistImportResult{0, 4, 3, "mirelotasvenki"}));
    EXPECT_EQ(keys(store->ensurePersonalPlaylist()), keys(personal));
}

TEST_F(LibraryExchangeTest, AnEmptyPlaylistTakesTheBackupsName) {
    EXPECT_EQ(store->importPersonalPlaylist(backup({})), (PlaylistImportResult{0, 0, 0, "旅行歌单"}));
    const std::string bytes = store->exportPersonalPlaylist();
    EXPECT_EQ(json::parse(bytes)["tracks"], json::array());
    EXPECT_EQ(store->importPersonalPlaylist(bytes), (PlaylistImportResult{0, 0, 0, "旅行歌单"}));
    store->collect(song("1"));
    EXPECT_EQ(store->importPersonalPlaylist(backup({song("2")}, "别的名字")).playlistName, "旅行歌单");
}

TEST_F(LibraryExchangeTest, FailuresLeaveTheStoreAsItWas) {
    store->collect(song("1"));
    store->collect(song("2"));
    store->moveItems(store->ensurePersonalPlaylist(), {1}, 0);
    sql("UPDATE playlists SET name = '我的' WHERE is_primary_personal = 1");
    const Playlist before = store->ensurePersonalPlaylist();
    const auto version = committedVersion();

    // An unreadable file is reported before the store is looked at.
    EXPECT_EQ(importFailure("{}"), Kind::invalidFile);
    EXPECT_EQ(importFailure(R"({"format":"velto.personal-playlist","version":2})"), Kind::unsupportedVersion);
    // A failing save rolls back the insertions.
    EXPECT_EQ(importFailure(backup({song("3"), song("4")}),
                            [](SqliteDatabase&) { throw std::runtime_error("disk full"); }),
              Kind::saveFailed);
    // A caller's own open transaction is never rolled back by an import.
    container->database().execute("BEGIN");
    EXPECT_EQ(importFailure(backup({song("5")})), Kind::pendingChanges);
    EXPECT_EQ(importFailure("not json"), Kind::invalidFile);
    container->database().execute("ROLLBACK");

    EXPECT_EQ(committedVersion(), version);
    const Playlist after = store->ensurePersonalPlaylist();
    EXPECT_EQ(after.name, "我的");
    EXPECT_EQ(keys(after), keys(before));
    EXPECT_EQ(sortIndexes(after), sortIndexes(before));
    EXPECT_EQ(integer("SELECT count(*) FROM track_records"), 2);

    // A stored song that cannot be rebuilt fails the export.
    sql("UPDATE track_records SET source = 'zz' WHERE music_id = 'wy_2'");
    try {
        store->exportPersonalPlaylist();
        ADD_FAILURE() << "a broken record was exported";
    } catch (const PlaylistBackupError& error) {
        EXPECT_EQ(error.kind(), Kind::invalidTrack);
    }
}

}  // namespace
}  // namespace velto
