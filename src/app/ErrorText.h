#pragma once

#include <exception>
#include <string>

namespace velto {

// The text a user reads for a failure: the error's own (Chinese) message. Errors without one
// get a general text; the detail goes to the log under `category`.
namespace ErrorText {
std::string describe(const std::exception_ptr& error, const char* category);
}

}  // namespace velto
