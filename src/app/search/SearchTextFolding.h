#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace velto {

// The text forms the search compares by. All of them are independent of the locale and take any
// bytes: invalid UTF-8 is neither a letter nor a number and never equals valid text.
namespace SearchTextFolding {

// Diacritics and width folded, lower-cased, then letters and numbers only.
std::string songForm(std::string_view text);
// Case, diacritics and width folded, then letters and numbers only.
std::string nameForm(std::string_view text);
// Case, diacritics and width folded, nothing removed.
std::string foldedName(std::string_view text);

// Canonical composition (NFC); invalid UTF-8 comes back unchanged.
std::string canonical(std::string_view text);
// Trimmed of white space and line breaks at both ends, then canonical.
std::string trimmedKeyword(std::string_view text);
// User-perceived characters (grapheme clusters); each invalid byte counts as one.
std::size_t characterCount(std::string_view text);
// Split at every white-space or line-break character; empty pieces dropped.
std::vector<std::string> words(std::string_view text);

}  // namespace SearchTextFolding
}  // namespace velto
