#pragma once

#include <string_view>

namespace velto {

// Trimming of UTF-8 text by Unicode rules (invalid bytes are never trimmed).
namespace UnicodeTrim {

// Space separators (category Zs) and tab.
bool isBlank(char32_t c);
// U+000A to U+000D, U+0085, U+2028, U+2029.
bool isNewline(char32_t c);

std::string_view trimBlanks(std::string_view text);
std::string_view trimBlanksAndNewlines(std::string_view text);

}  // namespace UnicodeTrim
}  // namespace velto
