#include "app/search/SearchScope.h"

namespace velto {

std::string_view rawValue(SearchScope scope) {
    switch (scope) {
        case SearchScope::songs:
            return "歌曲";
        case SearchScope::artists:
            return "歌手";
        case SearchScope::albums:
            return "专辑";
        case SearchScope::playlists:
            return "歌单";
    }
    return "歌曲";
}

std::optional<SearchScope> searchScopeFromRaw(std::string_view raw) {
    for (auto scope : SearchScopes::allCases)
        if (raw == rawValue(scope)) return scope;
    return std::nullopt;
}

}  // namespace velto
