#pragma once

#include <filesystem>
#include <memory>
#include <optional>

#include "library/sqlite/SqliteDatabase.h"

namespace velto {

// The opened library store: one SQLite file in write-ahead-log mode (SQLite keeps its "-wal"
// and "-shm" companions beside it) holding the current schema, user_version 5.
class VeltoModelContainer {
  public:
    static constexpr int schemaVersion = 5;

    // Opens the store at `path` (the default store path when none), creating a missing file.
    // A file that is not SQLite, is damaged or carries another schema version is refused with
    // a SqliteError and left exactly as it was, companions included. `inMemory` opens a
    // private store that lives as long as the container.
    static std::shared_ptr<VeltoModelContainer> make(
        bool inMemory, const std::optional<std::filesystem::path>& path = std::nullopt);

    // "Velto.store" in the application support folder.
    static std::filesystem::path defaultStorePath();

    SqliteDatabase& database() { return *db_; }
    // The store file; none in memory.
    const std::optional<std::filesystem::path>& path() const { return path_; }

  private:
    VeltoModelContainer(std::unique_ptr<SqliteDatabase> db,
                        std::optional<std::filesystem::path> path);

    std::unique_ptr<SqliteDatabase> db_;
    std::optional<std::filesystem::path> path_;
};

}  // namespace velto
