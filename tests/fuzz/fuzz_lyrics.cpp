// LRC texts as the lyric services send them, and the lookups the lyric views make on them.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>

#include "FuzzCheck.h"
#include "playback/LRCParser.h"
#include "foundation/text/UnicodeTrim.h"

using namespace velto;

namespace {

void checkOrdered(const std::vector<LyricLine>& lines) {
    for (std::size_t i = 0; i < lines.size(); ++i) {
        FUZZ_CHECK(std::isfinite(lines[i].time) && lines[i].time >= 0);
        // One line of words, without the blanks around it.
        FUZZ_CHECK(!lines[i].text.empty());
        FUZZ_CHECK(UnicodeTrim::trimBlanks(lines[i].text) == lines[i].text);
        FUZZ_CHECK(lines[i].text.find_first_of("\n\r") == std::string::npos);
        FUZZ_CHECK(lines[i].id.size() == 36);
        if (i > 0) FUZZ_CHECK(lines[i - 1].time <= lines[i].time);
    }
}

void checkCurrentIndex(const LyricsDocument& document, double time) {
    const auto& lines = document.lines();
    auto index = document.currentIndex(time);
    double t = std::isnan(time) || time < 0 ? 0 : time;
    if (!index) {
        FUZZ_CHECK(lines.empty() || lines.front().time > t);
        return;
    }
    FUZZ_CHECK(*index < lines.size());
    FUZZ_CHECK(lines[*index].time <= t);
    FUZZ_CHECK(*index + 1 == lines.size() || lines[*index + 1].time > t);
    FUZZ_CHECK(document.line(std::ptrdiff_t(*index)) == lines[*index]);
}

}  // namespace

// The input is the lyric, optionally followed by a NUL byte and its translation.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    auto input = fuzz::text(data, size);
    auto split = input.find('\0');
    auto lyric = input.substr(0, split);
    std::optional<std::string_view> translated;
    if (split != std::string_view::npos) translated = input.substr(split + 1);

    auto parsed = LRCParser::parse(lyric);
    checkOrdered(parsed);
    auto document = LRCParser::document(lyric, translated);
    checkOrdered(document.lines());
    checkOrdered(document.translatedLines());
    FUZZ_CHECK(document.lines().size() == parsed.size());

    const double times[] = {-1.0, 0.0, std::numeric_limits<double>::quiet_NaN(),
                            std::numeric_limits<double>::infinity(), 1e300};
    for (double time : times) checkCurrentIndex(document, time);
    for (const auto& line : document.lines()) {
        checkCurrentIndex(document, line.time);
        checkCurrentIndex(document, std::nextafter(line.time, -1.0));
        for (double tolerance : {0.0, 0.35, std::numeric_limits<double>::quiet_NaN()}) {
            auto text = document.translation(line, tolerance);
            if (text) FUZZ_CHECK(!text->empty());
        }
    }
    FUZZ_CHECK(!document.line(-1) && !document.line(std::ptrdiff_t(parsed.size())));
    return 0;
}
