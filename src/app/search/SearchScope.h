#pragma once

#include <array>
#include <optional>
#include <string_view>

namespace velto {

// The search tab's result scopes; the raw value is also the label the user sees.
enum class SearchScope { songs, artists, albums, playlists };

std::string_view rawValue(SearchScope scope);
// Exactly the four labels; anything else gives none.
std::optional<SearchScope> searchScopeFromRaw(std::string_view raw);

namespace SearchScopes {
inline constexpr std::array<SearchScope, 4> allCases = {SearchScope::songs, SearchScope::artists,
                                                        SearchScope::albums, SearchScope::playlists};
inline constexpr std::array<SearchScope, 4> availableCases = allCases;
}  // namespace SearchScopes

}  // namespace velto
