#include "app/search/PlaylistResultRanker.h"

#include <algorithm>
#include <string>

#include "app/search/SearchTextFolding.h"

namespace velto {

namespace {
bool contains(std::string_view haystack, std::string_view needle) {
    return !needle.empty() && haystack.find(needle) != std::string_view::npos;
}
}  // namespace

int PlaylistResultRanker::score(const PlaylistSummary& playlist, std::string_view target) {
    const auto name = SearchTextFolding::nameForm(playlist.name);
    const auto author = SearchTextFolding::nameForm(playlist.author);
    const auto description = SearchTextFolding::nameForm(playlist.desc.value_or(""));
    int total = 0;
    if (name == target) {
        total += 1200;
    } else if (!name.empty() && (contains(name, target) || contains(target, name))) {
        total += 900;
    }
    if (!author.empty() && contains(author, target)) total += 350;
    if (!description.empty() && contains(description, target)) total += 180;
    return total;
}

std::vector<PlaylistSummary> PlaylistResultRanker::rank(
    const std::vector<PlaylistSummary>& playlists, std::string_view keyword) {
    const auto target = SearchTextFolding::nameForm(keyword);
    struct Entry {
        std::size_t position;
        int score;
    };
    std::vector<Entry> entries;
    entries.reserve(playlists.size());
    for (std::size_t i = 0; i < playlists.size(); ++i)
        entries.push_back({i, score(playlists[i], target)});
    std::stable_sort(entries.begin(), entries.end(),
                     [](const Entry& a, const Entry& b) { return a.score > b.score; });
    std::vector<PlaylistSummary> ranked;
    ranked.reserve(entries.size());
    for (const auto& entry : entries) ranked.push_back(playlists[entry.position]);
    return ranked;
}

}  // namespace velto
