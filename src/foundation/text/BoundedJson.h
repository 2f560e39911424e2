#pragma once

#include <cstddef>
#include <nlohmann/json.hpp>
#include <string_view>

namespace velto {

// JSON from outside (service answers, payloads, backups). Parsing itself keeps its own stack, but
// copying, comparing and writing a document recurse once per level, so a document nested tens
// of thousands of levels deep would overflow the stack later, far from where it came in.
namespace BoundedJson {

// Deeper than any record the services send; shallow enough for every recursive use.
inline constexpr std::size_t maxDepth = 256;

// Like nlohmann::json::parse(text, nullptr, false): a discarded value when `text` is not JSON or
// nests arrays and objects more than maxDepth levels deep. Never throws for bad input.
nlohmann::json parse(std::string_view text);

// True when the arrays and objects of `text` nest more than `limit` levels deep. A linear scan
// that is exact for JSON text; for other text it may answer either way.
bool nestsDeeperThan(std::string_view text, std::size_t limit);

}  // namespace BoundedJson
}  // namespace velto
