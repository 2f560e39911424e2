#include "app/search/SearchTextFolding.h"

#include <unicode/brkiter.h>
#include <unicode/locid.h>
#include <unicode/normalizer2.h>
#include <unicode/uchar.h>
#include <unicode/unistr.h>
#include <unicode/utf8.h>

#include <memory>

#include "foundation/text/JsonWriter.h"
#include "foundation/text/UnicodeTrim.h"

namespace velto::SearchTextFolding {

namespace {

enum class Case { lower, fold };

bool isAscii(std::string_view text) {
    for (unsigned char c : text)
        if (c >= 0x80) return false;
    return true;
}

// Combining marks that count as accents; others (kana voicing, Indic vowel signs) stay.
bool isDiacritic(UChar32 c) {
    return (c >= 0x0300 && c <= 0x036F) || (c >= 0x1AB0 && c <= 0x1AFF) ||
           (c >= 0x1DC0 && c <= 0x1DFF) || (c >= 0x20D0 && c <= 0x20FF) ||
           (c >= 0xFE20 && c <= 0xFE2F);
}

const icu::Normalizer2& nfc() {
    UErrorCode status = U_ZERO_ERROR;
    return *icu::Normalizer2::getNFCInstance(status);
}

const icu::Normalizer2& nfd() {
    UErrorCode status = U_ZERO_ERROR;
    return *icu::Normalizer2::getNFDInstance(status);
}

const icu::Normalizer2& nfkd() {
    UErrorCode status = U_ZERO_ERROR;
    return *icu::Normalizer2::getNFKDInstance(status);
}

// Break iterators are costly to make and not thread-safe: one per thread.
icu::BreakIterator* characterBreaks() {
    thread_local std::unique_ptr<icu::BreakIterator> iterator = [] {
        UErrorCode status = U_ZERO_ERROR;
        std::unique_ptr<icu::BreakIterator> made(
            icu::BreakIterator::createCharacterInstance(icu::Locale::getRoot(), status));
        return U_SUCCESS(status) ? std::move(made) : nullptr;
    }();
    return iterator.get();
}

icu::UnicodeString folded(std::string_view text, Case mode) {
    // Invalid sequences become U+FFFD, which is neither a letter nor a number.
    auto source = icu::UnicodeString::fromUTF8(icu::StringPiece(text.data(), int32_t(text.size())));
    icu::UnicodeString widthFolded;
    for (int32_t i = 0; i < source.length();) {
        UChar32 c = source.char32At(i);
        i += U16_LENGTH(c);
        auto type = u_getIntPropertyValue(c, UCHAR_DECOMPOSITION_TYPE);
        icu::UnicodeString decomposition;
        if ((type == U_DT_WIDE || type == U_DT_NARROW) && nfkd().getDecomposition(c, decomposition))
            widthFolded.append(decomposition);
        else
            widthFolded.append(c);
    }
    UErrorCode status = U_ZERO_ERROR;
    auto decomposed = nfd().normalize(widthFolded, status);
    if (U_FAILURE(status)) decomposed = widthFolded;
    icu::UnicodeString bare;
    for (int32_t i = 0; i < decomposed.length();) {
        UChar32 c = decomposed.char32At(i);
        i += U16_LENGTH(c);
        if (!isDiacritic(c)) bare.append(c);
    }
    if (mode == Case::lower)
        bare.toLower(icu::Locale::getRoot());
    else
        bare.foldCase(U_FOLD_CASE_DEFAULT);
    status = U_ZERO_ERROR;
    auto composed = nfc().normalize(bare, status);
    return U_FAILURE(status) ? bare : composed;
}

bool isLetterOrNumber(UChar32 c) {
    return u_hasBinaryProperty(c, UCHAR_ALPHABETIC) ||
           u_getIntPropertyValue(c, UCHAR_NUMERIC_TYPE) != U_NT_NONE;
}

// Keeps the characters (grapheme clusters) whose first scalar is a letter or a number.
std::string lettersAndNumbers(const icu::UnicodeString& text) {
    icu::UnicodeString kept;
    auto* breaks = characterBreaks();
    if (!breaks) {
        for (int32_t i = 0; i < text.length();) {
            UChar32 c = text.char32At(i);
            i += U16_LENGTH(c);
            if (isLetterOrNumber(c)) kept.append(c);
        }
    } else {
        breaks->setText(text);
        int32_t start = breaks->first();
        for (int32_t end = breaks->next(); end != icu::BreakIterator::DONE;
             start = end, end = breaks->next()) {
            if (isLetterOrNumber(text.char32At(start))) kept.append(text, start, end - start);
        }
    }
    std::string out;
    kept.toUTF8String(out);
    return out;
}

std::string asciiForm(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        if (c >= 'A' && c <= 'Z') out += char(c - 'A' + 'a');
        else if ((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9')) out += c;
    }
    return out;
}

bool isWordSeparator(UChar32 c) {
    return UnicodeTrim::isBlank(char32_t(c)) || UnicodeTrim::isNewline(char32_t(c));
}

}  // namespace

std::string songForm(std::string_view text) {
    if (isAscii(text)) return asciiForm(text);
    return lettersAndNumbers(folded(text, Case::lower));
}

std::string nameForm(std::string_view text) {
    if (isAscii(text)) return asciiForm(text);
    return lettersAndNumbers(folded(text, Case::fold));
}

std::string foldedName(std::string_view text) {
    if (isAscii(text)) {
        std::string out(text);
        for (char& c : out)
            if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
        return out;
    }
    std::string out;
    folded(text, Case::fold).toUTF8String(out);
    return out;
}

std::string canonical(std::string_view text) {
    if (isAscii(text) || !isValidUTF8(text)) return std::string(text);
    auto unicode = icu::UnicodeString::fromUTF8(icu::StringPiece(text.data(), int32_t(text.size())));
    UErrorCode status = U_ZERO_ERROR;
    if (nfc().isNormalized(unicode, status) && U_SUCCESS(status)) return std::string(text);
    status = U_ZERO_ERROR;
    auto composed = nfc().normalize(unicode, status);
    if (U_FAILURE(status)) return std::string(text);
    std::string out;
    composed.toUTF8String(out);
    return out;
}

std::string trimmedKeyword(std::string_view text) {
    return canonical(UnicodeTrim::trimBlanksAndNewlines(text));
}

std::size_t characterCount(std::string_view text) {
    if (isAscii(text)) {
        // CR LF is one character.
        std::size_t count = text.size();
        for (std::size_t i = 1; i < text.size(); ++i)
            if (text[i - 1] == '\r' && text[i] == '\n') --count;
        return count;
    }
    auto unicode = icu::UnicodeString::fromUTF8(icu::StringPiece(text.data(), int32_t(text.size())));
    auto* breaks = characterBreaks();
    if (!breaks) return std::size_t(unicode.countChar32());
    breaks->setText(unicode);
    std::size_t count = 0;
    breaks->first();
    while (breaks->next() != icu::BreakIterator::DONE) ++count;
    return count;
}

std::vector<std::string> words(std::string_view text) {
    std::vector<std::string> pieces;
    std::size_t start = 0;
    std::size_t i = 0;
    const auto length = int32_t(text.size());
    while (i < text.size()) {
        int32_t next = int32_t(i);
        UChar32 c;
        U8_NEXT(text.data(), next, length, c);
        if (c >= 0 && isWordSeparator(c)) {
            if (i > start) pieces.emplace_back(text.substr(start, i - start));
            start = std::size_t(next);
        }
        i = std::size_t(next);
    }
    if (text.size() > start) pieces.emplace_back(text.substr(start));
    return pieces;
}

}  // namespace velto::SearchTextFolding
