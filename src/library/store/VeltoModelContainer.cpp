#include "library/store/VeltoModelContainer.h"

#include <sqlite3.h>

#include "foundation/Log.h"
#include "foundation/files/Paths.h"

namespace velto {

namespace {

// Booleans are 0/1; dates are nanoseconds since 1970 (UTC). playlists.item_count follows the
// items through triggers, so counting a playlist never walks it.
constexpr const char* schema = R"sql(
CREATE TABLE playlists (
    id TEXT PRIMARY KEY NOT NULL,
    name TEXT NOT NULL,
    sort_index INTEGER NOT NULL,
    is_system INTEGER NOT NULL DEFAULT 0,
    kind_raw TEXT NOT NULL DEFAULT 'music',
    is_shared INTEGER NOT NULL DEFAULT 0,
    is_private INTEGER NOT NULL DEFAULT 0,
    is_primary_personal INTEGER NOT NULL DEFAULT 0,
    is_archived INTEGER NOT NULL DEFAULT 0,
    item_count INTEGER NOT NULL DEFAULT 0
);
CREATE TABLE track_records (
    id INTEGER PRIMARY KEY,
    music_id TEXT NOT NULL UNIQUE,
    title TEXT NOT NULL,
    artist TEXT NOT NULL,
    album TEXT NOT NULL,
    duration INTEGER NOT NULL DEFAULT 0,
    source TEXT NOT NULL,
    payload BLOB NOT NULL,
    accent_hex TEXT,
    detail_refreshed_at INTEGER,
    detail_refresh_version INTEGER NOT NULL DEFAULT 0,
    detail_retry_after INTEGER
);
CREATE TABLE playlist_items (
    id INTEGER PRIMARY KEY,
    sort_index INTEGER NOT NULL,
    playlist_id TEXT REFERENCES playlists(id) ON DELETE CASCADE,
    track_id INTEGER NOT NULL REFERENCES track_records(id)
);
CREATE INDEX playlist_items_by_playlist ON playlist_items(playlist_id, sort_index);
CREATE INDEX playlist_items_by_track ON playlist_items(track_id, playlist_id);
CREATE TRIGGER playlist_items_counted_in AFTER INSERT ON playlist_items BEGIN
    UPDATE playlists SET item_count = item_count + 1 WHERE id = NEW.playlist_id;
END;
CREATE TRIGGER playlist_items_counted_out AFTER DELETE ON playlist_items BEGIN
    UPDATE playlists SET item_count = item_count - 1 WHERE id = OLD.playlist_id;
END;
CREATE TRIGGER playlist_items_moved AFTER UPDATE OF playlist_id ON playlist_items BEGIN
    UPDATE playlists SET item_count = item_count - 1 WHERE id = OLD.playlist_id;
    UPDATE playlists SET item_count = item_count + 1 WHERE id = NEW.playlist_id;
END;
)sql";

constexpr int busyTimeoutMilliseconds = 250;

void configure(SqliteDatabase& db) {
    db.execute("PRAGMA foreign_keys = ON");
    db.setBusyTimeout(busyTimeoutMilliseconds);
}

void createSchema(SqliteDatabase& db) {
    db.execute("BEGIN IMMEDIATE");
    try {
        db.execute(schema);
        db.execute("PRAGMA user_version = " + std::to_string(VeltoModelContainer::schemaVersion));
        db.execute("COMMIT");
    } catch (...) {
        if (db.inTransaction()) db.execute("ROLLBACK");
        throw;
    }
}

[[noreturn]] void refuse(int code, const std::filesystem::path& path, const std::string& why) {
    Log::error("library", "store " + path.string() + " refused: " + why);
    throw SqliteError(code, why);
}

void useWriteAheadLog(SqliteDatabase& db, const std::filesystem::path& path) {
    auto mode = db.query("PRAGMA journal_mode = WAL");
    if (!mode.step() || mode.text(0) != "wal")
        refuse(SQLITE_CANTOPEN, path, "write-ahead log unavailable");
}

// Nothing here writes before the file has been accepted.
void validate(SqliteDatabase& db, const std::filesystem::path& path) {
    const auto version = db.integer("PRAGMA user_version");
    const auto objects = db.integer("SELECT count(*) FROM sqlite_schema");
    if (version == 0 && objects == 0) {
        // A new (or empty) file: it holds nothing that could be lost.
        useWriteAheadLog(db, path);
        createSchema(db);
        return;
    }
    if (version != VeltoModelContainer::schemaVersion)
        refuse(SQLITE_MISMATCH, path, "user_version " + std::to_string(version));
    {
        auto check = db.query("PRAGMA quick_check");
        if (!check.step() || check.text(0) != "ok")
            refuse(SQLITE_CORRUPT, path, "quick_check failed");
    }
    const auto tables = db.integer(
        "SELECT count(*) FROM sqlite_schema WHERE type = 'table' AND name IN "
        "('playlists', 'track_records', 'playlist_items')");
    if (tables != 3) refuse(SQLITE_CORRUPT, path, "tables missing");
    useWriteAheadLog(db, path);
}

}  // namespace

VeltoModelContainer::VeltoModelContainer(std::unique_ptr<SqliteDatabase> db,
                                         std::optional<std::filesystem::path> path)
    : db_(std::move(db)), path_(std::move(path)) {}

std::filesystem::path VeltoModelContainer::defaultStorePath() {
    return Paths::applicationSupportDir() / "Velto.store";
}

std::shared_ptr<VeltoModelContainer> VeltoModelContainer::make(
    bool inMemory, const std::optional<std::filesystem::path>& requested) {
    if (inMemory) {
        auto db = SqliteDatabase::openInMemory();
        configure(*db);
        createSchema(*db);
        return std::shared_ptr<VeltoModelContainer>(
            new VeltoModelContainer(std::move(db), std::nullopt));
    }

    const auto path = requested.value_or(defaultStorePath());
    std::error_code error;
    const bool exists = std::filesystem::exists(path, error);
    if (!exists && path.has_parent_path())
        std::filesystem::create_directories(path.parent_path(), error);
    const std::filesystem::path wal = path.string() + "-wal";
    const std::filesystem::path shm = path.string() + "-shm";
    const bool hadWal = std::filesystem::exists(wal, error);
    const bool hadShm = std::filesystem::exists(shm, error);
    auto db = SqliteDatabase::open(path, !exists);
    try {
        validate(*db, path);
    } catch (...) {
        db.reset();
        // Reading a log-mode file makes empty companions; a refused store gets none of ours.
        if (!hadWal && std::filesystem::file_size(wal, error) == 0)
            std::filesystem::remove(wal, error);
        if (!hadShm) std::filesystem::remove(shm, error);
        throw;
    }
    configure(*db);
    db->execute("PRAGMA synchronous = NORMAL");
    db->allowCheckpointOnClose();
    return std::shared_ptr<VeltoModelContainer>(new VeltoModelContainer(std::move(db), path));
}

}  // namespace velto
