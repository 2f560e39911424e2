#include "foundation/text/UnicodeNormalization.h"

#include <unicode/normalizer2.h>
#include <unicode/unistr.h>

namespace velto::UnicodeNormalization {

std::string nfc(std::string_view text) {
    UErrorCode status = U_ZERO_ERROR;
    const icu::Normalizer2* normalizer = icu::Normalizer2::getNFCInstance(status);
    if (U_FAILURE(status)) return std::string(text);
    auto source = icu::UnicodeString::fromUTF8(
        icu::StringPiece(text.data(), static_cast<int32_t>(text.size())));
    // Most names are composed already; the quick check spares the copy.
    if (normalizer->isNormalized(source, status) && U_SUCCESS(status)) {
        std::string out;
        return source.toUTF8String(out);
    }
    status = U_ZERO_ERROR;
    icu::UnicodeString composed = normalizer->normalize(source, status);
    std::string out;
    if (U_FAILURE(status)) return source.toUTF8String(out);
    return composed.toUTF8String(out);
}

}  // namespace velto::UnicodeNormalization
