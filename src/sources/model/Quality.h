#pragma once

#include <optional>
#include <string_view>
#include <vector>

namespace velto {

// Stream quality; the enumerator order is the rank, so <, > compare qualities.
enum class Quality { standard, high, lossless, hiRes, master };

std::string_view rawValue(Quality quality);  // "128k", "320k", "flac", "flac24bit", "master"
std::optional<Quality> qualityFromRaw(std::string_view raw);
int rank(Quality quality);

namespace Qualities {
extern const std::vector<Quality> allCases;         // standard ... master
extern const std::vector<Quality> descendingOrder;  // master ... standard
}  // namespace Qualities

}  // namespace velto
