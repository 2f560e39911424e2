#pragma once

#include <set>
#include <string>
#include <string_view>

namespace velto {

// The personal playlist's default name and the earlier default names renamed to it.
namespace PersonalPlaylistDefaults {

inline constexpr std::string_view name = "mirelotasvenki";
// Built once on first use; compared exactly.
const std::set<std::string, std::less<>>& legacyNames();

}  // namespace PersonalPlaylistDefaults
}  // namespace velto
