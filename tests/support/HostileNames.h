#pragma once

#include <cstddef>
#include <string>

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

}  // namespace velto
