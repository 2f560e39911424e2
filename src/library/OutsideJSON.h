#pragma once

#include <nlohmann/json.hpp>
#include <optional>
#include <string_view>

namespace velto {

// JSON that arrives from outside (a file the user picks, a service's answer). Nesting deeper
// than `maximumDepth` is refused like malformed text, so no reader further on recurses deeper
// than that.
namespace OutsideJSON {

inline constexpr int maximumDepth = 64;

// The parsed value, or none for text that is not JSON or nests too deeply.
std::optional<nlohmann::json> parse(std::string_view text);

}  // namespace OutsideJSON
}  // namespace velto
