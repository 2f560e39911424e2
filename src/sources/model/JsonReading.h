#pragma once

#include <cstdint>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <string_view>

namespace velto {

// Lenient readers for records from outside: the services disagree on whether a number arrives as
// a number or as text, so every reader accepts both where it makes sense and answers none
// instead of throwing.

// An integral number gives itself, a fractional one its integer part (toward zero), a text of an
// optional sign and decimal digits its value; anything out of the 64-bit range, or any other kind
// of value (bool, null, list, object), gives none.
std::optional<std::int64_t> readInteger(const nlohmann::json& value);
// Same, for the value under `key` of an object; a non-object or missing key gives none.
std::optional<std::int64_t> readInteger(const nlohmann::json& object, std::string_view key);

// Decimal text with an optional sign and at least one digit, checked against overflow.
std::optional<std::int64_t> parseDecimalInteger(std::string_view text);

// The text under `key` of an object; a non-object, a missing key or another kind gives none.
std::optional<std::string> readText(const nlohmann::json& object, std::string_view key);

// The shortest text that reads back as the same double; integral values carry no ".0".
std::string shortestNumberText(double value);

// Trims white space and line breaks (ASCII and the Unicode spaces the services send) at both ends.
std::string trimmed(std::string_view text);

}  // namespace velto
