#pragma once

#include <exception>
#include <string>

namespace velto {

// The text a user reads for a failed source request. Transport failures carry technical
// English detail, which goes to the log; the user reads the network failure's own text.
std::string searchErrorText(const std::exception_ptr& error);

}  // namespace velto
