#pragma once

#include <string>
#include <string_view>

namespace velto {

// The text without white space and line breaks at both ends: ASCII blanks and controls 0x09 to
// 0x0D, and the Unicode spaces a pasted text may carry (U+0085, U+00A0, U+1680, U+2000 to
// U+200A, U+2028, U+2029, U+202F, U+205F, U+3000).
std::string trimmingWhitespace(std::string_view text);

// True when the text holds an ASCII control character (below 0x20, or 0x7F).
bool containsControlCharacter(std::string_view text);

}  // namespace velto
