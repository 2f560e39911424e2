#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <iterator>

#include "library/LibraryFixture.h"
#include "library/sqlite/SqliteError.h"

using namespace velto;

namespace {

std::string bytesOf(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

}  // namespace

class LibraryFailures : public LibraryFixture {
  protected:
    // Every row of every table, in a fixed order.
    std::string snapshot() {
        std::string text;
        for (const char* query :
             {"SELECT id || name || sort_index || is_system || kind_raw || is_primary_personal ||"
              " is_archived || item_count FROM playlists ORDER BY id",
              "SELECT music_id || title || coalesce(accent_hex, '') || "
              "coalesce(detail_retry_after, '')"
              " FROM track_records ORDER BY music_id",
              "SELECT i.sort_index || coalesce(i.playlist_id, '') || t.music_id FROM "
              "playlist_items i"
              " JOIN track_records t ON t.id = i.track_id ORDER BY 1"}) {
            auto rows = container->database().query(query);
            while (rows.step()) text += rows.text(0) + "\n";
            text += "--\n";
        }
        return text;
    }

    // A write that fails at `trigger` (as a full disk or an I/O error would) must leave the store
    // exactly as it was, and the same operation must work once the fault is gone.
    void expectAllOrNothing(const std::string& trigger, const std::function<void()>& operation) {
        const auto before = snapshot();
        sql("CREATE TRIGGER injected " + trigger + " BEGIN SELECT RAISE(ABORT, 'injected'); END");
        EXPECT_THROW(operation(), SqliteError);
        sql("DROP TRIGGER injected");
        EXPECT_EQ(snapshot(), before);
        EXPECT_NO_THROW(operation());
        EXPECT_NE(snapshot(), before);
    }
};

TEST_F(LibraryFailures, FailedCollectLeavesNothingAndTheOneTimeFlagWaitsForTheCommit) {
    expectAllOrNothing("BEFORE INSERT ON playlist_items", [&] {
        EXPECT_FALSE(defaults->boolValue(LibraryStore::unarchiveFlagKey));
        store->collect(song("1"));
    });
    EXPECT_TRUE(defaults->boolValue(LibraryStore::unarchiveFlagKey).value_or(false));
}

TEST_F(LibraryFailures, FailedRecentPlayAndDeletionLeaveTheStoreAsBefore) {
    for (const char* id : {"a", "b", "c"}) {
        store->collect(song(id));
        store->recordRecent(song(id));
    }
    // Fails after the record, the old entry's removal and the shift were written.
    expectAllOrNothing("BEFORE INSERT ON playlist_items", [&] { store->recordRecent(song("a")); });
    // Fails after the song's items were removed and both playlists renumbered.
    expectAllOrNothing("BEFORE DELETE ON track_records", [&] { store->deleteTrack(song("b")); });
}

TEST_F(LibraryFailures, FullDiskFailsTheWholeOperationAndTheNextOneWorks) {
    store->collect(song("0"));
    sql("PRAGMA max_page_count = " + std::to_string(integer("PRAGMA page_count")));
    const auto before = snapshot();
    const Track large =
        song("large", MusicSource::wy, R"({"x":")" + std::string(20000, 'a') + R"("})");
    EXPECT_THROW(store->collect(large), SqliteError);
    EXPECT_EQ(snapshot(), before);
    sql("PRAGMA max_page_count = 1073741823");
    EXPECT_TRUE(store->collect(large).inserted);
}

TEST_F(LibraryFailures, StoreLockedByAnotherWriterFailsAndTheNextCallWorks) {
    store->collect(song("1"));
    auto other = SqliteDatabase::open(storePath(), false);
    other->execute("BEGIN IMMEDIATE");
    const auto before = snapshot();
    EXPECT_THROW(store->collect(song("2")), SqliteError);
    other->execute("ROLLBACK");
    EXPECT_EQ(snapshot(), before);
    EXPECT_TRUE(store->collect(song("2")).inserted);
}

TEST_F(LibraryFailures, KilledWriterLosesNoCommittedFavourite) {
    store.reset();
    container.reset();
    int pipeFds[2];
    ASSERT_EQ(pipe(pipeFds), 0);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        close(pipeFds[0]);
        try {
            auto writer = std::make_shared<UserDefaults>(dir.path() / "child.json");
            LibraryStore childStore(VeltoModelContainer::make(false, storePath()), 100, writer);
            for (int i = 0;; ++i) {
                childStore.collect(song(std::to_string(i)));
                if (write(pipeFds[1], &i, sizeof i) != sizeof i) break;
            }
        } catch (...) {
        }
        _exit(1);
    }
    close(pipeFds[1]);
    int confirmed = -1;
    int value = 0;
    while (confirmed < 300 && read(pipeFds[0], &value, sizeof value) == sizeof value)
        confirmed = value;
    kill(child, SIGKILL);
    waitpid(child, nullptr, 0);
    while (read(pipeFds[0], &value, sizeof value) == sizeof value) confirmed = value;
    close(pipeFds[0]);
    ASSERT_GE(confirmed, 300);

    open();
    auto check = container->database().query("PRAGMA integrity_check");
    ASSERT_TRUE(check.step());
    EXPECT_EQ(check.text(0), "ok");
    Playlist personal = store->ensurePersonalPlaylist();
    ASSERT_GE(personal.items.size(), static_cast<std::size_t>(confirmed + 1));
    for (int i = 0; i <= confirmed; ++i)
        EXPECT_EQ(personal.orderedItems()[static_cast<std::size_t>(i)].track.musicId,
                  "wy_" + std::to_string(i));
}

TEST(LibraryStoreFile, MissingFileIsCreatedInWriteAheadMode) {
    TempDir dir;
    auto container = VeltoModelContainer::make(false, dir.path() / "sub" / "Velto.store");
    EXPECT_EQ(container->database().integer("PRAGMA user_version"), 5);
    EXPECT_TRUE(std::filesystem::exists(dir.path() / "sub" / "Velto.store-wal"));
}

TEST(LibraryStoreFile, ForeignStoresAreRefusedAndLeftByteForByte) {
    struct Case {
        const char* name;
        std::function<void(const std::filesystem::path&)> make;
    };
    const std::vector<Case> cases = {
        {"not a database",
         [](const auto& path) { std::ofstream(path) << "这不是数据库 but some text\n"; }},
        {"newer schema with companions",
         [](const auto& path) {
             auto db = SqliteDatabase::open(path, true);
             db->execute(
                 "PRAGMA journal_mode = WAL; CREATE TABLE t (x); PRAGMA user_version = 6;"
                 "PRAGMA wal_autocheckpoint = 0; INSERT INTO t VALUES (1)");
             // Copies taken while the log is live: this is how another program would leave it.
             for (const char* suffix : {"-wal", ""})
                 std::filesystem::copy_file(path.string() + suffix, path.string() + suffix + ".k");
             db.reset();
             for (const char* suffix : {"-wal", ""})
                 std::filesystem::rename(path.string() + suffix + ".k", path.string() + suffix);
         }},
        {"damaged page",
         [](const auto& path) {
             VeltoModelContainer::make(false, path);
             std::fstream file(path, std::ios::in | std::ios::out | std::ios::binary);
             file.seekp(4096);  // pages 2 and 3: tables and indexes, not the header
             const std::string garbage(8192, '\x5A');
             file.write(garbage.data(), static_cast<std::streamsize>(garbage.size()));
         }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        const auto path = dir.path() / "Velto.store";
        c.make(path);
        const std::string wal = path.string() + "-wal";
        const auto store = bytesOf(path);
        const bool hadWal = std::filesystem::exists(wal);
        const auto log = hadWal ? bytesOf(wal) : std::string();
        EXPECT_THROW(VeltoModelContainer::make(false, path), SqliteError);
        EXPECT_EQ(bytesOf(path), store);
        EXPECT_EQ(std::filesystem::exists(wal), hadWal);
        if (hadWal) {
            EXPECT_EQ(bytesOf(wal), log);
        }
    }
}
