#pragma once

#include <cstddef>
#include <string>

#include "sources/model/Track.h"

namespace velto {

// Names only an attacker sends. A letter with combining acute accents (2 bytes each) up to
// `bytes` is one character however long it is.
inline std::string markedLetter(std::size_t bytes) {
    std::string text = "a";
    while (text.size() + 2 <= bytes) text += "\xCC\x81";
    return text;
}

// `count` such characters of `bytes` each.
inline std::string markedLetters(std::size_t count, std::size_t bytes) {
    const std::string letter = markedLetter(bytes);
    std::string text;
    text.reserve(count * letter.size());
    for (std::size_t i = 0; i < count; ++i) text += letter;
    return text;
}

// What a name keeps of markedLetter(past a few dozen bytes): the code points one character may
// carry.
inline std::string keptMarkedLetter() {
    return markedLetter(2 * Track::mostCodePointsPerCharacter - 1);
}

// What a name keeps of markedLetters(500, 2 KB): as many such kept characters as its code
// points allow.
inline std::string keptMarkedLetters() {
    return markedLetters(Track::longestNameCodePoints / Track::mostCodePointsPerCharacter,
                         2 * Track::mostCodePointsPerCharacter - 1);
}

}  // namespace velto
