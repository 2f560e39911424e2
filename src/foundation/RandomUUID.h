#pragma once

#include <string>

namespace velto {

// A random (version 4) UUID as upper-case hyphenated text, from the system's secure generator.
// Throws std::runtime_error when the generator fails.
std::string makeRandomUUID();

}  // namespace velto
