#pragma once

#include <nlohmann/json.hpp>
#include <string>
#include <string_view>

namespace velto {

// Compact JSON with object keys sorted at every level, characters beyond ASCII written as they
// are and forward slashes escaped ("\/"). Equal content always gives equal bytes, so the text
// can serve as a cache key. Throws std::invalid_argument for invalid UTF-8 text or for a
// number that JSON cannot hold (NaN, infinity).
std::string writeSortedJSON(const nlohmann::json& value);

// Strict UTF-8: no overlong forms, surrogates or values past U+10FFFF.
bool isValidUTF8(std::string_view text);

}  // namespace velto
