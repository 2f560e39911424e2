#pragma once

#include <array>
#include <optional>
#include <string_view>

namespace velto {

// The tabs of an artist's page, in their order.
enum class ArtistDetailTab { popular, latest, albums };

namespace ArtistDetailTabs {
inline constexpr std::array<ArtistDetailTab, 3> allCases{
    ArtistDetailTab::popular, ArtistDetailTab::latest, ArtistDetailTab::albums};
// "热门", "最新", "专辑"; also the tab's id.
std::string_view rawValue(ArtistDetailTab tab);
// Exactly one of the three texts; anything else gives none.
std::optional<ArtistDetailTab> fromRaw(std::string_view raw);
}  // namespace ArtistDetailTabs

}  // namespace velto
