#pragma once

#include <functional>
#include <vector>

#include "library/sqlite/SqliteDatabase.h"

namespace velto {

// One transaction, committed whole by commit() or rolled back whole when it ends without one
// (an exception, an early return). Work registered with afterCommit() runs only once the
// commit has succeeded, so settings that describe the stored state never run ahead of it.
class SqliteTransaction {
  public:
    enum class Mode { read, write };

    // A write transaction takes the write lock at once, waiting at most the busy time-out.
    // Transactions do not nest: beginning one inside another throws std::logic_error.
    explicit SqliteTransaction(SqliteDatabase& db, Mode mode = Mode::write);
    ~SqliteTransaction();
    SqliteTransaction(const SqliteTransaction&) = delete;
    SqliteTransaction& operator=(const SqliteTransaction&) = delete;

    SqliteDatabase& db() { return db_; }
    void afterCommit(std::function<void()> work);
    // Throws the commit's error after rolling back.
    void commit();
    void rollback();

  private:
    SqliteDatabase& db_;
    bool open_ = true;
    std::vector<std::function<void()>> afterCommit_;
};

}  // namespace velto
