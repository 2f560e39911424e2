#include "library/online/OnlinePlaylistInput.h"

#include <unicode/uchar.h>
#include <unicode/utf8.h>

#include <array>
#include <cstdint>
#include <optional>

#include "foundation/text/UnicodeTrim.h"
#include "library/exchange/ExchangeText.h"
#include "library/online/OnlinePlaylistHosts.h"
#include "library/online/OnlinePlaylistImportError.h"
#include "sources/model/WebAddress.h"

namespace velto {

namespace {

using Kind = OnlinePlaylistImportError::Kind;

// White space as regular expressions know it: tab, line feed, form feed, carriage return and
// the separators (categories Zs, Zl, Zp).
bool endsLink(UChar32 c) {
    if (c == '\t' || c == '\n' || c == '\f' || c == '\r') return true;
    if (c == '<' || c == '>' || c == '"' || c == 0x201C || c == 0x201D) return true;
    return c >= 0 && (U_GET_GC_MASK(c) & U_GC_Z_MASK) != 0;
}

bool matchesIgnoringCase(std::string_view text, std::size_t at, std::string_view lowerWord) {
    if (text.size() - at < lowerWord.size()) return false;
    for (std::size_t i = 0; i < lowerWord.size(); ++i) {
        char c = text[at + i];
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        if (c != lowerWord[i]) return false;
    }
    return true;
}

// The first "http://" or "https://" (any case) followed by at least one character that is not
// white space, an angle bracket or a double quote, taken as far as such characters go. Every
// failed start costs a few bytes, so the scan is linear.
std::optional<std::string_view> firstLink(std::string_view text) {
    const auto length = static_cast<std::int32_t>(text.size());
    for (std::size_t start = 0; start < text.size(); ++start) {
        if (!matchesIgnoringCase(text, start, "http")) continue;
        std::size_t at = start + 4;
        if (matchesIgnoringCase(text, at, "s")) ++at;
        if (text.compare(at, 3, "://") != 0) continue;
        at += 3;
        auto end = static_cast<std::int32_t>(at);
        while (end < length) {
            std::int32_t next = end;
            UChar32 c;
            U8_NEXT(text.data(), next, length, c);
            if (endsLink(c)) break;
            end = next;
        }
        if (static_cast<std::size_t>(end) == at) continue;
        return text.substr(start, end - start);
    }
    return std::nullopt;
}

// Closing punctuation that share sentences put right after a link.
std::string_view trimClosingPunctuation(std::string_view link) {
    static constexpr std::array<std::string_view, 7> marks = {"，", "。", "；", "）", ")", "]", "}"};
    bool changed = true;
    while (changed && !link.empty()) {
        changed = false;
        for (auto mark : marks) {
            if (link.ends_with(mark)) {
                link.remove_suffix(mark.size());
                changed = true;
            }
            if (link.starts_with(mark)) {
                link.remove_prefix(mark.size());
                changed = true;
            }
        }
    }
    return link;
}

std::string lowercased(std::string_view text) {
    std::string lower(text);
    for (char& c : lower) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return lower;
}

}  // namespace

OnlinePlaylistInput OnlinePlaylistInput::parse(std::string_view text, MusicSource source) {
    const std::string_view trimmedText = UnicodeTrim::trimBlanksAndNewlines(text);
    if (trimmedText.empty() || ExchangeText::exceedsCharacters(trimmedText, maximumLength))
        throw OnlinePlaylistImportError(Kind::invalidInput);
    if (auto id = OnlinePlaylistReference::normalizedID(trimmedText))
        return {OnlinePlaylistReference{source, std::move(*id)}};

    const auto link = firstLink(trimmedText);
    if (!link) throw OnlinePlaylistImportError(Kind::invalidInput);
    const auto address = WebAddress::parse(trimClosingPunctuation(*link));
    if (!address || address->hasUserInfo || !address->port.empty())
        throw OnlinePlaylistImportError(Kind::invalidInput);
    // A link pasted as http is asked for over https.
    const std::string secure = address->withScheme("https");
    if (!OnlinePlaylistReference::sourceFor(secure)) throw OnlinePlaylistImportError(Kind::unsupportedLink);
    try {
        return {OnlinePlaylistReference::from(secure)};
    } catch (const std::exception&) {
        if (OnlinePlaylistHosts::isShortLink(lowercased(address->host), address->decodedPath()))
            return {ShortLink{secure}};
        throw OnlinePlaylistImportError(Kind::notPlaylistLink);
    }
}

}  // namespace velto
