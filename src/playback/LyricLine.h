#pragma once

#include <string>

namespace velto {

// One timed line of lyrics. `id` is a random identifier (upper-case UUID text), fresh for every
// line a parse produces.
struct LyricLine {
    std::string id;
    double time = 0;  // seconds from the start of the song
    std::string text;

    bool operator==(const LyricLine&) const = default;
};

}  // namespace velto
