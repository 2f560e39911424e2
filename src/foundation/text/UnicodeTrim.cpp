#include "foundation/text/UnicodeTrim.h"

#include <unicode/uchar.h>
#include <unicode/utf8.h>

#include <cstdint>

namespace velto::UnicodeTrim {

namespace {
template <typename Predicate>
std::string_view trim(std::string_view s, Predicate drop) {
    const auto length = static_cast<int32_t>(s.size());
    int32_t begin = 0;
    while (begin < length) {
        int32_t next = begin;
        UChar32 c;
        U8_NEXT(s.data(), next, length, c);
        if (c < 0 || !drop(static_cast<char32_t>(c))) break;
        begin = next;
    }
    int32_t end = length;
    while (end > begin) {
        int32_t previous = end;
        UChar32 c;
        U8_PREV(s.data(), begin, previous, c);
        if (c < 0 || !drop(static_cast<char32_t>(c))) break;
        end = previous;
    }
    return s.substr(static_cast<std::size_t>(begin), static_cast<std::size_t>(end - begin));
}
}  // namespace

bool isBlank(char32_t c) {
    return c == U'\t' || u_charType(static_cast<UChar32>(c)) == U_SPACE_SEPARATOR;
}

bool isNewline(char32_t c) {
    return (c >= 0x0A && c <= 0x0D) || c == 0x85 || c == 0x2028 || c == 0x2029;
}

std::string_view trimBlanks(std::string_view text) {
    return trim(text, isBlank);
}

std::string_view trimBlanksAndNewlines(std::string_view text) {
    return trim(text, [](char32_t c) { return isBlank(c) || isNewline(c); });
}

}  // namespace velto::UnicodeTrim
