#pragma once

#include <cstddef>
#include <string_view>

namespace velto::ExchangeText {

// Whether UTF-8 text holds more than `limit` user-perceived characters (extended grapheme
// clusters). Counting stops one past the limit, so a huge text costs no more than a short one.
bool exceedsCharacters(std::string_view text, std::size_t limit);

// Letters, marks and digits of any script (Unicode general categories L, M and N).
bool isAlphanumeric(char32_t scalar);

// A control character (category Cc) anywhere, or bytes that are not UTF-8.
bool hasControlOrInvalid(std::string_view text);

}  // namespace velto::ExchangeText
