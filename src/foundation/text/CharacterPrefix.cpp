#include "foundation/text/CharacterPrefix.h"

#include <unicode/ubrk.h>
#include <unicode/utext.h>

#include <cstdint>
#include <memory>
#include <stdexcept>

namespace velto {

namespace {

struct BreakIteratorCloser {
    void operator()(UBreakIterator* iterator) const { ubrk_close(iterator); }
};

// Opening a break iterator costs far more than one cut; each thread keeps one.
UBreakIterator* characterIterator() {
    thread_local std::unique_ptr<UBreakIterator, BreakIteratorCloser> iterator = [] {
        UErrorCode status = U_ZERO_ERROR;
        UBreakIterator* opened = ubrk_open(UBRK_CHARACTER, "", nullptr, 0, &status);
        return std::unique_ptr<UBreakIterator, BreakIteratorCloser>(U_SUCCESS(status) ? opened
                                                                                      : nullptr);
    }();
    return iterator.get();
}

}  // namespace

void forEachCharacter(std::string_view text, std::size_t limit,
                      const std::function<bool(std::size_t begin, std::size_t end)>& visit) {
    UBreakIterator* iterator = characterIterator();
    if (!iterator) throw std::runtime_error("no character break iterator");
    UErrorCode status = U_ZERO_ERROR;
    UText local = UTEXT_INITIALIZER;
    UText* utext = utext_openUTF8(&local, text.data(), std::int64_t(text.size()), &status);
    ubrk_setUText(iterator, utext, &status);
    if (U_SUCCESS(status)) {
        // The UTF-8 text's native index is a byte offset.
        std::size_t begin = std::size_t(ubrk_first(iterator));
        for (std::size_t count = 0; count < limit; ++count) {
            const std::int32_t end = ubrk_next(iterator);
            if (end == UBRK_DONE || !visit(begin, std::size_t(end))) break;
            begin = std::size_t(end);
        }
    }
    utext_close(utext);
    if (U_FAILURE(status)) throw std::runtime_error("cannot read text by characters");
}

std::size_t characterPrefixLength(std::string_view text, std::size_t limit) {
    // Every character takes at least one byte.
    if (text.size() <= limit) return text.size();
    std::size_t length = 0;
    forEachCharacter(text, limit, [&length](std::size_t, std::size_t end) {
        length = end;
        return true;
    });
    return length;
}

}  // namespace velto
