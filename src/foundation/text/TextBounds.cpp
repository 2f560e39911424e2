#include "foundation/text/TextBounds.h"

#include <unicode/utf8.h>

#include <algorithm>
#include <cstdint>

#include "foundation/text/CharacterPrefix.h"

namespace velto {

namespace {

bool isASCII(std::string_view text) {
    return std::all_of(text.begin(), text.end(),
                       [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

// The byte length of the first `limit` code points of `text`, and how many it holds.
std::pair<std::size_t, std::size_t> codePointPrefix(std::string_view text, std::size_t limit) {
    const auto length = static_cast<std::int32_t>(text.size());
    std::int32_t at = 0;
    std::size_t count = 0;
    while (at < length && count < limit) {
        UChar32 scalar;
        U8_NEXT(text.data(), at, length, scalar);
        ++count;
    }
    return {std::size_t(at), count};
}

// Sets `dropped` when a character lost code points.
std::string cutOnce(std::string_view text, const TextBounds& bounds, bool& dropped) {
    dropped = false;
    std::string kept;
    std::size_t codePoints = 0;
    forEachCharacter(text, bounds.characters, [&](std::size_t begin, std::size_t end) {
        const auto character = text.substr(begin, end - begin);
        const auto [length, count] = codePointPrefix(character, bounds.codePointsPerCharacter);
        if (codePoints + count > bounds.codePoints || kept.size() + length > bounds.bytes)
            return false;
        kept.append(character.substr(0, length));
        dropped = dropped || length < character.size();
        codePoints += count;
        return true;
    });
    return kept;
}

}  // namespace

std::string TextBounds::cut(std::string_view text) const {
    // Each code point takes a byte at least, and an ASCII character is one code point or the
    // two of a CR LF.
    const std::size_t fewest = std::min({characters, codePoints, bytes});
    if (text.size() <= std::min(fewest, codePointsPerCharacter) ||
        (text.size() <= fewest && codePointsPerCharacter >= 2 && isASCII(text)))
        return std::string(text);
    // Marks left out may join the characters on either side of them into one (a joiner kept
    // before a pictograph); cutting again until nothing is left out makes the result stable.
    bool dropped = false;
    std::string kept = cutOnce(text, *this, dropped);
    while (dropped) kept = cutOnce(kept, *this, dropped);
    return kept;
}

}  // namespace velto
