#include "sources/TextTrimming.h"

#include <array>

namespace velto {

namespace {

// UTF-8 forms of the white space outside ASCII.
constexpr std::array<std::string_view, 19> unicodeSpaces = {
    "\xC2\x85",     "\xC2\xA0",     "\xE1\x9A\x80", "\xE2\x80\x80", "\xE2\x80\x81",
    "\xE2\x80\x82", "\xE2\x80\x83", "\xE2\x80\x84", "\xE2\x80\x85", "\xE2\x80\x86",
    "\xE2\x80\x87", "\xE2\x80\x88", "\xE2\x80\x89", "\xE2\x80\x8A", "\xE2\x80\xA8",
    "\xE2\x80\xA9", "\xE2\x80\xAF", "\xE2\x81\x9F", "\xE3\x80\x80",
};

bool isAsciiSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

std::size_t leadingSpaceLength(std::string_view text) {
    if (text.empty()) return 0;
    if (isAsciiSpace(text.front())) return 1;
    for (std::string_view space : unicodeSpaces) {
        if (text.starts_with(space)) return space.size();
    }
    return 0;
}

std::size_t trailingSpaceLength(std::string_view text) {
    if (text.empty()) return 0;
    if (isAsciiSpace(text.back())) return 1;
    for (std::string_view space : unicodeSpaces) {
        if (text.ends_with(space)) return space.size();
    }
    return 0;
}

}  // namespace

std::string trimmedWhitespace(std::string_view text) {
    while (std::size_t n = leadingSpaceLength(text)) text.remove_prefix(n);
    while (std::size_t n = trailingSpaceLength(text)) text.remove_suffix(n);
    return std::string(text);
}

}  // namespace velto
