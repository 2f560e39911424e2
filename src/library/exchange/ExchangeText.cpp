#include "library/exchange/ExchangeText.h"

#include <unicode/uchar.h>
#include <unicode/utf8.h>

#include <cstdint>

#include "foundation/text/CharacterPrefix.h"

namespace velto::ExchangeText {

bool exceedsCharacters(std::string_view text, std::size_t limit) {
    // Every character takes at least one byte.
    if (text.size() <= limit) return false;
    bool ascii = true;
    std::size_t crlf = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto byte = static_cast<unsigned char>(text[i]);
        if (byte >= 0x80) {
            ascii = false;
            break;
        }
        if (byte == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++crlf;
    }
    if (ascii) return text.size() - crlf > limit;
    return characterPrefixLength(text, limit) < text.size();
}

bool isAlphanumeric(char32_t scalar) {
    const auto mask = U_GET_GC_MASK(static_cast<UChar32>(scalar));
    return (mask & (U_GC_L_MASK | U_GC_M_MASK | U_GC_N_MASK)) != 0;
}

bool hasControlOrInvalid(std::string_view text) {
    const auto length = static_cast<int32_t>(text.size());
    for (int32_t i = 0; i < length;) {
        UChar32 c;
        U8_NEXT(text.data(), i, length, c);
        if (c < 0 || u_charType(c) == U_CONTROL_CHAR) return true;
    }
    return false;
}

}  // namespace velto::ExchangeText
