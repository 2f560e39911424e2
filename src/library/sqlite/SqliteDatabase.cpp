#include "library/sqlite/SqliteDatabase.h"

#include <sqlite3.h>

#include "foundation/Log.h"

namespace velto {

namespace {
constexpr std::string_view logCategory = "library";
}

std::unique_ptr<SqliteDatabase> SqliteDatabase::open(const std::filesystem::path& path,
                                                     bool createIfMissing) {
    sqlite3* handle = nullptr;
    int flags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX;
    if (createIfMissing) flags |= SQLITE_OPEN_CREATE;
    int rc = sqlite3_open_v2(path.c_str(), &handle, flags, nullptr);
    if (rc != SQLITE_OK) {
        std::string message = handle ? sqlite3_errmsg(handle) : sqlite3_errstr(rc);
        sqlite3_close_v2(handle);
        Log::error(logCategory, "cannot open " + path.string() + ": " + message);
        throw SqliteError(rc, message);
    }
    // Must come before anything reads the file: closing would otherwise fold the log into it.
    sqlite3_db_config(handle, SQLITE_DBCONFIG_NO_CKPT_ON_CLOSE, 1, nullptr);
    sqlite3_extended_result_codes(handle, 1);
    return std::unique_ptr<SqliteDatabase>(new SqliteDatabase(handle));
}

std::unique_ptr<SqliteDatabase> SqliteDatabase::openInMemory() {
    sqlite3* handle = nullptr;
    int rc =
        sqlite3_open_v2(":memory:", &handle,
                        SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX, nullptr);
    if (rc != SQLITE_OK) {
        sqlite3_close_v2(handle);
        throw SqliteError(rc, sqlite3_errstr(rc));
    }
    sqlite3_extended_result_codes(handle, 1);
    return std::unique_ptr<SqliteDatabase>(new SqliteDatabase(handle));
}

SqliteDatabase::SqliteDatabase(sqlite3* handle) : db_(handle) {}

SqliteDatabase::~SqliteDatabase() {
    for (auto& [sql, statement] : statements_) sqlite3_finalize(statement);
    sqlite3_close_v2(db_);
}

void SqliteDatabase::fail(int code, std::string_view what) const {
    std::string detail = std::string(what) + ": " + sqlite3_errmsg(db_);
    Log::error(logCategory, detail);
    throw SqliteError(code, detail);
}

void SqliteDatabase::execute(std::string_view sql) {
    char* message = nullptr;
    int rc = sqlite3_exec(db_, std::string(sql).c_str(), nullptr, nullptr, &message);
    if (rc != SQLITE_OK) {
        std::string detail =
            std::string(sql.substr(0, 60)) + ": " + (message ? message : sqlite3_errstr(rc));
        sqlite3_free(message);
        Log::error(logCategory, detail);
        throw SqliteError(rc, detail);
    }
}

sqlite3_stmt* SqliteDatabase::prepared(const std::string& sql) {
    auto found = statements_.find(sql);
    if (found != statements_.end()) return found->second;
    sqlite3_stmt* statement = nullptr;
    int rc = sqlite3_prepare_v3(db_, sql.c_str(), static_cast<int>(sql.size()),
                                SQLITE_PREPARE_PERSISTENT, &statement, nullptr);
    if (rc != SQLITE_OK) fail(rc, "prepare " + sql.substr(0, 60));
    statements_.emplace(sql, statement);
    return statement;
}

SqliteDatabase::Query SqliteDatabase::query(const std::string& sql) {
    return Query(*this, prepared(sql));
}

std::int64_t SqliteDatabase::integer(const std::string& sql) {
    auto q = query(sql);
    if (!q.step()) fail(SQLITE_MISMATCH, "no row from " + sql);
    return q.integer(0);
}

bool SqliteDatabase::inTransaction() const {
    return sqlite3_get_autocommit(db_) == 0;
}

void SqliteDatabase::allowCheckpointOnClose() {
    sqlite3_db_config(db_, SQLITE_DBCONFIG_NO_CKPT_ON_CLOSE, 0, nullptr);
}

void SqliteDatabase::setBusyTimeout(int milliseconds) {
    sqlite3_busy_timeout(db_, milliseconds);
}

int SqliteDatabase::changes() const {
    return sqlite3_changes(db_);
}

std::int64_t SqliteDatabase::lastInsertRowId() const {
    return sqlite3_last_insert_rowid(db_);
}

SqliteDatabase::Query::Query(SqliteDatabase& db, sqlite3_stmt* statement)
    : db_(&db), statement_(statement) {}

SqliteDatabase::Query::Query(Query&& other) noexcept
    : db_(other.db_), statement_(other.statement_) {
    other.statement_ = nullptr;
}

SqliteDatabase::Query::~Query() {
    if (!statement_) return;
    sqlite3_reset(statement_);
    sqlite3_clear_bindings(statement_);
}

SqliteDatabase::Query& SqliteDatabase::Query::bind(int index, std::int64_t value) {
    int rc = sqlite3_bind_int64(statement_, index, value);
    if (rc != SQLITE_OK) db_->fail(rc, "bind");
    return *this;
}

SqliteDatabase::Query& SqliteDatabase::Query::bind(int index, std::string_view text) {
    int rc = sqlite3_bind_text64(statement_, index, text.data(), text.size(), SQLITE_TRANSIENT,
                                 SQLITE_UTF8);
    if (rc != SQLITE_OK) db_->fail(rc, "bind");
    return *this;
}

SqliteDatabase::Query& SqliteDatabase::Query::bindBlob(int index, std::string_view bytes) {
    // A zero-length blob with a null pointer would bind NULL.
    static const char empty = 0;
    int rc = sqlite3_bind_blob64(statement_, index, bytes.empty() ? &empty : bytes.data(),
                                 bytes.size(), SQLITE_TRANSIENT);
    if (rc != SQLITE_OK) db_->fail(rc, "bind");
    return *this;
}

SqliteDatabase::Query& SqliteDatabase::Query::bind(int index,
                                                   const std::optional<std::string>& text) {
    return text ? bind(index, std::string_view(*text)) : bindNull(index);
}

SqliteDatabase::Query& SqliteDatabase::Query::bind(int index,
                                                   const std::optional<std::int64_t>& value) {
    return value ? bind(index, *value) : bindNull(index);
}

SqliteDatabase::Query& SqliteDatabase::Query::bindNull(int index) {
    int rc = sqlite3_bind_null(statement_, index);
    if (rc != SQLITE_OK) db_->fail(rc, "bind");
    return *this;
}

bool SqliteDatabase::Query::step() {
    int rc = sqlite3_step(statement_);
    if (rc == SQLITE_ROW) return true;
    if (rc == SQLITE_DONE) return false;
    db_->fail(rc, std::string("step ") + std::string(sqlite3_sql(statement_)).substr(0, 60));
}

void SqliteDatabase::Query::run() {
    while (step()) {
    }
}

bool SqliteDatabase::Query::isNull(int column) const {
    return sqlite3_column_type(statement_, column) == SQLITE_NULL;
}

std::int64_t SqliteDatabase::Query::integer(int column) const {
    return sqlite3_column_int64(statement_, column);
}

std::string SqliteDatabase::Query::text(int column) const {
    auto data = reinterpret_cast<const char*>(sqlite3_column_text(statement_, column));
    int size = sqlite3_column_bytes(statement_, column);
    return data ? std::string(data, static_cast<std::size_t>(size)) : std::string();
}

std::string SqliteDatabase::Query::blob(int column) const {
    auto data = static_cast<const char*>(sqlite3_column_blob(statement_, column));
    int size = sqlite3_column_bytes(statement_, column);
    return data ? std::string(data, static_cast<std::size_t>(size)) : std::string();
}

std::optional<std::string> SqliteDatabase::Query::optionalText(int column) const {
    if (isNull(column)) return std::nullopt;
    return text(column);
}

std::optional<std::int64_t> SqliteDatabase::Query::optionalInteger(int column) const {
    if (isNull(column)) return std::nullopt;
    return integer(column);
}

}  // namespace velto
