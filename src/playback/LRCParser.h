#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "playback/LyricLine.h"
#include "playback/LyricsDocument.h"

namespace velto {

// Turns LRC text ("[mm:ss.xx]words") into timed lines. Stateless; safe on any thread.
namespace LRCParser {

// Lines ordered by time; lines of equal time keep their order in the text. Never fails.
std::vector<LyricLine> parse(std::string_view text);

LyricsDocument document(std::string_view lyric, std::optional<std::string_view> translated);

}  // namespace LRCParser
}  // namespace velto
