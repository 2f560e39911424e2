#pragma once

#include <cstddef>
#include <functional>
#include <string_view>

namespace velto {

// The byte length of the first `limit` user-perceived characters (extended grapheme clusters) of
// UTF-8 text: all of it when it has no more. Reads no further than that, so a huge text costs no
// more than a short one. Throws std::runtime_error where ICU cannot read the text.
std::size_t characterPrefixLength(std::string_view text, std::size_t limit);

// Hands `visit` the byte range [begin, end) of each of the first `limit` user-perceived
// characters of UTF-8 text in order, until it returns false; an invalid byte counts as one
// character. Reads no further than the last character visited. Throws std::runtime_error where
// ICU cannot read the text.
void forEachCharacter(std::string_view text, std::size_t limit,
                      const std::function<bool(std::size_t begin, std::size_t end)>& visit);

}  // namespace velto
