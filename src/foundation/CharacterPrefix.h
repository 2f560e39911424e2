#pragma once

#include <cstddef>
#include <string_view>

namespace velto {

// The byte length of the first `limit` user-perceived characters (extended grapheme clusters) of
// UTF-8 text: all of it when it has no more. Reads no further than that, so a huge text costs no
// more than a short one. Throws std::runtime_error where ICU cannot read the text.
std::size_t characterPrefixLength(std::string_view text, std::size_t limit);

}  // namespace velto
