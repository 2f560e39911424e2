#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "playback/LyricLine.h"
#include "playback/LyricsDocument.h"

namespace velto {

// Turns LRC text ("[mm:ss.xx]words") into timed lines. Stateless; safe on any thread.
namespace LRCParser {

// Every tag of a line copies its words, so a hostile text of many tags would grow to gigabytes.
// Lyrics stay far below these limits; past them the later tags and lines are left out.
inline constexpr std::size_t maxLinesPerTaggedLine = 100;
inline constexpr std::size_t maxLines = 20'000;
inline constexpr std::size_t maxTextBytes = std::size_t{8} << 20;

// Lines ordered by time; lines of equal time keep their order in the text. Never fails.
std::vector<LyricLine> parse(std::string_view text);

LyricsDocument document(std::string_view lyric, std::optional<std::string_view> translated);

}  // namespace LRCParser
}  // namespace velto
