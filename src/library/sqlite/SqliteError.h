#pragma once

#include <stdexcept>
#include <string>

namespace velto {

// A failure of the library's database. what() is the text a user may read; the database's own
// message stays in detail() and in the log.
class SqliteError : public std::runtime_error {
  public:
    SqliteError(int code, std::string detail);

    // The SQLite result code (extended where the library gives one).
    int code() const { return code_; }
    const std::string& detail() const { return detail_; }

  private:
    int code_;
    std::string detail_;
};

}  // namespace velto
