#include "library/sqlite/SqliteError.h"

namespace velto {

SqliteError::SqliteError(int code, std::string detail)
    : std::runtime_error("资料库读写失败"), code_(code), detail_(std::move(detail)) {}

}  // namespace velto
