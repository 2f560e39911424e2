#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "library/sqlite/SqliteError.h"

struct sqlite3;
struct sqlite3_stmt;

namespace velto {

// One SQLite connection with a cache of prepared statements. Not thread-safe: the library uses
// it from the main thread only.
class SqliteDatabase {
  public:
    class Query;

    // `createIfMissing` false opens only an existing file. The connection never checkpoints its
    // write-ahead log into the file on close unless allowCheckpointOnClose() was called, so a
    // store that is refused stays as it was.
    static std::unique_ptr<SqliteDatabase> open(const std::filesystem::path& path,
                                                bool createIfMissing);
    static std::unique_ptr<SqliteDatabase> openInMemory();
    ~SqliteDatabase();
    SqliteDatabase(const SqliteDatabase&) = delete;
    SqliteDatabase& operator=(const SqliteDatabase&) = delete;

    // Runs one or more statements without results.
    void execute(std::string_view sql);
    // A cached statement for `sql`, reset and unbound when the Query ends. One Query per SQL
    // text may be alive at a time.
    Query query(const std::string& sql);
    // The single integer a statement yields (a pragma, a count).
    std::int64_t integer(const std::string& sql);

    bool inTransaction() const;
    void allowCheckpointOnClose();
    void setBusyTimeout(int milliseconds);
    // Rows changed by the last INSERT, UPDATE or DELETE.
    int changes() const;
    std::int64_t lastInsertRowId() const;

    [[noreturn]] void fail(int code, std::string_view what) const;

  private:
    explicit SqliteDatabase(sqlite3* handle);
    sqlite3_stmt* prepared(const std::string& sql);

    sqlite3* db_;
    std::map<std::string, sqlite3_stmt*, std::less<>> statements_;
};

// A bound statement; step() moves to the next row and reports whether there is one.
class SqliteDatabase::Query {
  public:
    Query(SqliteDatabase& db, sqlite3_stmt* statement);
    ~Query();
    Query(Query&& other) noexcept;
    Query(const Query&) = delete;
    Query& operator=(const Query&) = delete;
    Query& operator=(Query&&) = delete;

    // Parameters count from 1.
    Query& bind(int index, std::int64_t value);
    Query& bind(int index, int value) { return bind(index, static_cast<std::int64_t>(value)); }
    Query& bind(int index, bool value) { return bind(index, static_cast<std::int64_t>(value)); }
    Query& bind(int index, std::string_view text);
    Query& bind(int index, const std::string& text) { return bind(index, std::string_view(text)); }
    Query& bind(int index, const char* text) { return bind(index, std::string_view(text)); }
    Query& bindBlob(int index, std::string_view bytes);
    Query& bind(int index, const std::optional<std::string>& text);
    Query& bind(int index, const std::optional<std::int64_t>& value);
    Query& bindNull(int index);

    bool step();
    // Steps through a statement that yields no rows.
    void run();

    // Columns count from 0.
    bool isNull(int column) const;
    std::int64_t integer(int column) const;
    bool boolean(int column) const { return integer(column) != 0; }
    std::string text(int column) const;
    std::string blob(int column) const;
    std::optional<std::string> optionalText(int column) const;
    std::optional<std::int64_t> optionalInteger(int column) const;

  private:
    SqliteDatabase* db_;
    sqlite3_stmt* statement_;
};

}  // namespace velto
