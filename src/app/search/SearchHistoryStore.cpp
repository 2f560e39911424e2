#include "app/search/SearchHistoryStore.h"

#include <algorithm>

#include "app/search/SearchTextFolding.h"

namespace velto {

std::vector<std::string> SearchHistoryStore::stored(const UserDefaults& defaults) {
    return defaults.stringListValue(std::string(key)).value_or(std::vector<std::string>{});
}

std::vector<std::string> SearchHistoryStore::remember(UserDefaults& defaults,
                                                      std::string_view query) {
    const auto entry = SearchTextFolding::trimmedKeyword(query);
    auto list = stored(defaults);
    if (entry.empty()) return list;
    // Entries compare under canonical equivalence, as the typed keywords do.
    std::erase_if(list, [&](const std::string& old) {
        return SearchTextFolding::canonical(old) == entry;
    });
    list.insert(list.begin(), entry);
    if (list.size() > limit) list.resize(limit);
    defaults.setStringList(std::string(key), list);
    return list;
}

}  // namespace velto
