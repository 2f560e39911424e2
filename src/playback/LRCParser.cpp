#include "playback/LRCParser.h"

#include <unicode/uchar.h>
#include <unicode/utf8.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <random>

#include "foundation/text/UnicodeTrim.h"

namespace velto::LRCParser {

namespace {

UChar32 nextCodePoint(std::string_view s, std::size_t& i) {
    UChar32 c;
    auto length = static_cast<int32_t>(s.size());
    auto index = static_cast<int32_t>(i);
    U8_NEXT(s.data(), index, length, c);
    i = static_cast<std::size_t>(index);
    return c;
}

// A run of decimal digits (any script, as the tag's digit class allows) starting at `i`.
struct Digits {
    std::size_t begin = 0, end = 0;
    int count = 0;
};

Digits digitRun(std::string_view s, std::size_t i) {
    Digits run{i, i, 0};
    while (run.end < s.size()) {
        auto next = run.end;
        auto c = nextCodePoint(s, next);
        if (c < 0 || !u_isdigit(c)) break;
        run.end = next;
        ++run.count;
    }
    return run;
}

// The value of ASCII digits; none when any digit is from another script.
std::optional<std::int64_t> asciiValue(std::string_view s, const Digits& run) {
    std::int64_t value = 0;
    for (auto i = run.begin; i < run.end; ++i) {
        if (s[i] < '0' || s[i] > '9') return std::nullopt;
        value = value * 10 + (s[i] - '0');
    }
    return value;
}

struct Tag {
    std::size_t end = 0;
    Digits minutes, seconds;
    std::optional<Digits> fraction;
};

// "[m{1,3}:s{1,2}]" with an optional ".f{1,3}" or ":f{1,3}" before the bracket. Digit runs are
// maximal: a longer run can never be followed by the separator the tag needs.
std::optional<Tag> matchTag(std::string_view s, std::size_t at) {
    if (s[at] != '[') return std::nullopt;
    Tag tag;
    tag.minutes = digitRun(s, at + 1);
    if (tag.minutes.count < 1 || tag.minutes.count > 3) return std::nullopt;
    if (tag.minutes.end >= s.size() || s[tag.minutes.end] != ':') return std::nullopt;
    tag.seconds = digitRun(s, tag.minutes.end + 1);
    if (tag.seconds.count < 1 || tag.seconds.count > 2) return std::nullopt;
    auto i = tag.seconds.end;
    if (i < s.size() && (s[i] == '.' || s[i] == ':')) {
        auto fraction = digitRun(s, i + 1);
        if (fraction.count < 1 || fraction.count > 3) return std::nullopt;
        tag.fraction = fraction;
        i = fraction.end;
    }
    if (i >= s.size() || s[i] != ']') return std::nullopt;
    tag.end = i + 1;
    return tag;
}

std::string randomIdentifier() {
    thread_local std::mt19937_64 engine{std::random_device{}()};
    std::array<std::uint8_t, 16> bytes;
    for (std::size_t i = 0; i < bytes.size(); i += 8) {
        auto value = engine();
        for (std::size_t k = 0; k < 8; ++k)
            bytes[i + k] = static_cast<std::uint8_t>(value >> (8 * k));
    }
    bytes[6] = (bytes[6] & 0x0F) | 0x40;
    bytes[8] = (bytes[8] & 0x3F) | 0x80;
    static constexpr char hex[] = "0123456789ABCDEF";
    std::string text;
    text.reserve(36);
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        if (i == 4 || i == 6 || i == 8 || i == 10) text.push_back('-');
        text.push_back(hex[bytes[i] >> 4]);
        text.push_back(hex[bytes[i] & 0x0F]);
    }
    return text;
}

// What the words of the lines may add up to; `parse` stops adding lines at any of the limits.
struct Budget {
    std::size_t lines = maxLines;
    std::size_t textBytes = maxTextBytes;
};

void parsePiece(std::string_view raw, std::vector<LyricLine>& out, Budget& budget) {
    // Pieces hold no newline characters, so trimming blanks is trimming white space.
    const auto piece = UnicodeTrim::trimBlanks(raw);
    if (piece.empty()) return;
    // Only the first tags can give lines; the last one still marks where the words begin.
    std::vector<Tag> tags;
    std::optional<std::size_t> wordsBegin;
    for (std::size_t i = 0; i < piece.size();) {
        if (auto tag = matchTag(piece, i)) {
            i = tag->end;
            wordsBegin = tag->end;
            if (tags.size() < maxLinesPerTaggedLine) tags.push_back(*tag);
        } else {
            ++i;
        }
    }
    if (!wordsBegin) return;
    // Only the words after the last tag count; anything before or between tags is dropped.
    const auto text = UnicodeTrim::trimBlanks(piece.substr(*wordsBegin));
    if (text.empty()) return;
    for (const auto& tag : tags) {
        if (budget.lines == 0 || budget.textBytes < text.size()) return;
        auto minutes = asciiValue(piece, tag.minutes);
        auto seconds = asciiValue(piece, tag.seconds);
        if (!minutes || !seconds) continue;
        double fraction = 0;
        if (tag.fraction) {
            if (auto digits = asciiValue(piece, *tag.fraction)) {
                double scale = 1;
                for (int k = 0; k < tag.fraction->count; ++k) scale *= 10;
                fraction = static_cast<double>(*digits) / scale;
            }
        }
        const auto whole = *minutes * 60 + *seconds;
        out.push_back(
            {randomIdentifier(), static_cast<double>(whole) + fraction, std::string(text)});
        --budget.lines;
        budget.textBytes -= text.size();
    }
}

}  // namespace

std::vector<LyricLine> parse(std::string_view text) {
    std::vector<LyricLine> lines;
    Budget budget;
    std::size_t pieceBegin = 0;
    for (std::size_t i = 0; i < text.size();) {
        const auto at = i;
        const auto c = nextCodePoint(text, i);
        if (c < 0 || !UnicodeTrim::isNewline(static_cast<char32_t>(c))) continue;
        // Each newline character separates on its own, so CR LF leaves an empty piece between.
        parsePiece(text.substr(pieceBegin, at - pieceBegin), lines, budget);
        pieceBegin = i;
    }
    parsePiece(text.substr(pieceBegin), lines, budget);
    // Equal times keep their order in the text, so the current line is the same on every parse.
    std::stable_sort(lines.begin(), lines.end(),
                     [](const LyricLine& a, const LyricLine& b) { return a.time < b.time; });
    return lines;
}

LyricsDocument document(std::string_view lyric, std::optional<std::string_view> translated) {
    return LyricsDocument(parse(lyric), parse(translated.value_or(std::string_view{})));
}

}  // namespace velto::LRCParser
