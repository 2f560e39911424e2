#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace velto {

// What one short text from outside (a name) may carry: user-perceived characters (extended
// grapheme clusters), code points and bytes, and code points in any one character. Characters
// alone bound nothing: one letter may carry any number of combining marks, where no script
// writes more than a few, and a view lays out every mark.
struct TextBounds {
    std::size_t characters = 0;
    std::size_t codePoints = 0;
    std::size_t bytes = 0;
    std::size_t codePointsPerCharacter = 0;

    // UTF-8 `text` within the bounds: a character of more code points keeps its first ones, and
    // the text ends before the first character that would pass any other bound. An invalid byte
    // counts as one character and one code point. Cutting what was cut changes nothing. Throws
    // std::runtime_error where ICU cannot read the text.
    std::string cut(std::string_view text) const;
};

}  // namespace velto
