#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "playback/LyricLine.h"

namespace velto {

// Parsed lyrics and their translation, each ordered by time; lines that share a time keep the
// order they were given in, so the current line never depends on random identifiers.
class LyricsDocument {
public:
    LyricsDocument() = default;
    LyricsDocument(std::vector<LyricLine> lines, std::vector<LyricLine> translatedLines);

    const std::vector<LyricLine>& lines() const { return lines_; }
    const std::vector<LyricLine>& translatedLines() const { return translatedLines_; }

    // The last line that has begun at `time` (negative or NaN times count as 0).
    std::optional<std::size_t> currentIndex(double time) const;
    std::optional<LyricLine> line(std::ptrdiff_t index) const;
    // The first translated line within `tolerance` seconds of the line's time.
    std::optional<std::string> translation(const LyricLine& line, double tolerance) const;

    bool operator==(const LyricsDocument&) const = default;

private:
    std::vector<LyricLine> lines_;
    std::vector<LyricLine> translatedLines_;
};

}  // namespace velto
