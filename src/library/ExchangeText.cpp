#include "library/ExchangeText.h"

#include <unicode/ubrk.h>
#include <unicode/uchar.h>
#include <unicode/utext.h>
#include <unicode/utf8.h>

#include <cstdint>
#include <memory>
#include <stdexcept>

namespace velto::ExchangeText {

namespace {

struct BreakIteratorCloser {
    void operator()(UBreakIterator* iterator) const { ubrk_close(iterator); }
};

// Opening a break iterator costs far more than one count; each thread keeps one.
UBreakIterator* characterIterator() {
    thread_local std::unique_ptr<UBreakIterator, BreakIteratorCloser> iterator = [] {
        UErrorCode status = U_ZERO_ERROR;
        UBreakIterator* opened = ubrk_open(UBRK_CHARACTER, "", nullptr, 0, &status);
        if (U_FAILURE(status)) throw std::runtime_error("no character break iterator");
        return std::unique_ptr<UBreakIterator, BreakIteratorCloser>(opened);
    }();
    return iterator.get();
}

}  // namespace

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

    UErrorCode status = U_ZERO_ERROR;
    UText local = UTEXT_INITIALIZER;
    UText* utext = utext_openUTF8(&local, text.data(), static_cast<int64_t>(text.size()), &status);
    if (U_FAILURE(status)) throw std::runtime_error("cannot read text for counting");
    UBreakIterator* iterator = characterIterator();
    ubrk_setUText(iterator, utext, &status);
    std::size_t count = 0;
    bool exceeded = false;
    if (U_SUCCESS(status)) {
        ubrk_first(iterator);
        while (ubrk_next(iterator) != UBRK_DONE) {
            if (++count > limit) {
                exceeded = true;
                break;
            }
        }
    }
    utext_close(utext);
    if (U_FAILURE(status)) throw std::runtime_error("cannot count characters");
    return exceeded;
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
