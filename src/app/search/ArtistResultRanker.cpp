#include "app/search/ArtistResultRanker.h"

#include <algorithm>
#include <string>

#include "app/search/SearchTextFolding.h"

namespace velto {

std::vector<ArtistSummary> ArtistResultRanker::rank(const std::vector<ArtistSummary>& artists,
                                                    std::string_view keyword) {
    const auto target = SearchTextFolding::nameForm(keyword);
    struct Entry {
        std::size_t position;
        int group;  // 0 exact, 1 related, 2 neither
    };
    std::vector<Entry> entries;
    entries.reserve(artists.size());
    for (std::size_t i = 0; i < artists.size(); ++i) {
        const auto key = SearchTextFolding::nameForm(artists[i].name);
        int group = 2;
        if (key == target) {
            group = 0;
        } else if (!key.empty() && !target.empty() &&
                   (target.find(key) != std::string::npos || key.find(target) != std::string::npos)) {
            group = 1;
        }
        entries.push_back({i, group});
    }
    std::stable_sort(entries.begin(), entries.end(),
                     [](const Entry& a, const Entry& b) { return a.group < b.group; });
    std::vector<ArtistSummary> ranked;
    ranked.reserve(entries.size());
    for (const auto& entry : entries) ranked.push_back(artists[entry.position]);
    return ranked;
}

}  // namespace velto
