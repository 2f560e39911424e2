#include "playback/LyricsDocument.h"

#include <algorithm>
#include <cmath>
#include <utility>

namespace velto {

namespace {
void sortByTime(std::vector<LyricLine>& lines) {
    std::stable_sort(lines.begin(), lines.end(),
                     [](const LyricLine& a, const LyricLine& b) { return a.time < b.time; });
}
}  // namespace

LyricsDocument::LyricsDocument(std::vector<LyricLine> lines, std::vector<LyricLine> translatedLines)
    : lines_(std::move(lines)), translatedLines_(std::move(translatedLines)) {
    sortByTime(lines_);
    sortByTime(translatedLines_);
}

std::optional<std::size_t> LyricsDocument::currentIndex(double time) const {
    const double t = std::isnan(time) || time < 0 ? 0 : time;
    auto after =
        std::upper_bound(lines_.begin(), lines_.end(), t,
                         [](double value, const LyricLine& line) { return value < line.time; });
    if (after == lines_.begin()) return std::nullopt;
    return static_cast<std::size_t>(after - lines_.begin()) - 1;
}

std::optional<LyricLine> LyricsDocument::line(std::ptrdiff_t index) const {
    if (index < 0 || index >= static_cast<std::ptrdiff_t>(lines_.size())) return std::nullopt;
    return lines_[index];
}

std::optional<std::string> LyricsDocument::translation(const LyricLine& line,
                                                       double tolerance) const {
    for (const auto& translated : translatedLines_)
        if (std::abs(translated.time - line.time) <= tolerance) return translated.text;
    return std::nullopt;
}

}  // namespace velto
