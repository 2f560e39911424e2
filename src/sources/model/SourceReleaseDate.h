#pragma once

#include <optional>
#include <string>

namespace velto::SourceReleaseDate {

// The leading year, month and day of a release date as the services write it ("2023年5月1日",
// "2023.5.1", "2023/05/01 12:00"), as "YYYY-MM-DD"; none when the text does not start with a
// real Gregorian date.
std::optional<std::string> normalizedString(const std::optional<std::string>& text);

}  // namespace velto::SourceReleaseDate
