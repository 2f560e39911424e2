#include "app/ArtistDetailTab.h"

namespace velto::ArtistDetailTabs {

std::string_view rawValue(ArtistDetailTab tab) {
    switch (tab) {
        case ArtistDetailTab::popular: return "热门";
        case ArtistDetailTab::latest: return "最新";
        case ArtistDetailTab::albums: return "专辑";
    }
    return "热门";
}

std::optional<ArtistDetailTab> fromRaw(std::string_view raw) {
    for (auto tab : allCases) {
        if (rawValue(tab) == raw) return tab;
    }
    return std::nullopt;
}

}  // namespace velto::ArtistDetailTabs
