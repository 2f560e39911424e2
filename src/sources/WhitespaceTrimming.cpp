#include "sources/WhitespaceTrimming.h"

#include <cstdint>

namespace velto {
namespace {

bool isSpace(char32_t c) {
    if (c == U' ' || (c >= 0x09 && c <= 0x0D)) return true;
    return c == 0x85 || c == 0xA0 || c == 0x1680 || (c >= 0x2000 && c <= 0x200A) ||
           c == 0x2028 || c == 0x2029 || c == 0x202F || c == 0x205F || c == 0x3000;
}

// Decodes the UTF-8 sequence starting at `pos`; gives its length, 0 for an invalid sequence.
std::size_t decodeAt(std::string_view text, std::size_t pos, char32_t& out) {
    auto byte = [&](std::size_t i) { return static_cast<std::uint8_t>(text[i]); };
    std::uint8_t lead = byte(pos);
    std::size_t length = lead < 0x80 ? 1 : (lead >> 5) == 0x6 ? 2 : (lead >> 4) == 0xE ? 3
                                         : (lead >> 3) == 0x1E ? 4 : 0;
    if (length == 0 || pos + length > text.size()) return 0;
    char32_t c = length == 1 ? lead : lead & (0x7F >> length);
    for (std::size_t i = 1; i < length; ++i) {
        if ((byte(pos + i) & 0xC0) != 0x80) return 0;
        c = (c << 6) | (byte(pos + i) & 0x3F);
    }
    out = c;
    return length;
}

// Start of the UTF-8 sequence that ends right before `end`.
std::size_t previousStart(std::string_view text, std::size_t end) {
    std::size_t pos = end - 1;
    while (pos > 0 && end - pos < 4 && (static_cast<std::uint8_t>(text[pos]) & 0xC0) == 0x80) {
        --pos;
    }
    return pos;
}

}  // namespace

std::string trimmingWhitespace(std::string_view text) {
    std::size_t begin = 0;
    while (begin < text.size()) {
        char32_t c = 0;
        std::size_t length = decodeAt(text, begin, c);
        if (length == 0 || !isSpace(c)) break;
        begin += length;
    }
    std::size_t end = text.size();
    while (end > begin) {
        std::size_t start = previousStart(text, end);
        char32_t c = 0;
        std::size_t length = decodeAt(text, start, c);
        if (length != end - start || !isSpace(c)) break;
        end = start;
    }
    return std::string(text.substr(begin, end - begin));
}

bool containsControlCharacter(std::string_view text) {
    for (char ch : text) {
        auto byte = static_cast<std::uint8_t>(ch);
        if (byte < 0x20 || byte == 0x7F) return true;
    }
    return false;
}

}  // namespace velto
