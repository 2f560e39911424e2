#include "library/sqlite/SqliteTransaction.h"

#include <stdexcept>

#include "foundation/Log.h"

namespace velto {

SqliteTransaction::SqliteTransaction(SqliteDatabase& db, Mode mode) : db_(db) {
    if (db_.inTransaction()) throw std::logic_error("library transactions do not nest");
    db_.execute(mode == Mode::write ? "BEGIN IMMEDIATE" : "BEGIN DEFERRED");
}

SqliteTransaction::~SqliteTransaction() {
    if (open_) rollback();
}

void SqliteTransaction::afterCommit(std::function<void()> work) {
    afterCommit_.push_back(std::move(work));
}

void SqliteTransaction::commit() {
    if (!open_) throw std::logic_error("transaction already ended");
    try {
        db_.execute("COMMIT");
    } catch (...) {
        rollback();
        throw;
    }
    open_ = false;
    // The changes are stored: what follows must not report the operation as failed.
    for (auto& work : afterCommit_) {
        try {
            work();
        } catch (const std::exception& error) {
            Log::error("library", std::string("after commit: ") + error.what());
        }
    }
}

void SqliteTransaction::rollback() {
    open_ = false;
    afterCommit_.clear();
    // Some failures (a full disk, an I/O error) end the transaction by themselves.
    if (!db_.inTransaction()) return;
    try {
        db_.execute("ROLLBACK");
    } catch (const std::exception& error) {
        Log::error("library", std::string("rollback failed: ") + error.what());
    }
}

}  // namespace velto
