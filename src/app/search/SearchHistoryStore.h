#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "foundation/files/UserDefaults.h"

namespace velto {

// The recently submitted search keywords, newest first, kept in the user defaults.
class SearchHistoryStore {
  public:
    SearchHistoryStore() = delete;

    static constexpr std::string_view key = "velto.search.history";
    static constexpr std::size_t limit = 10;

    // The stored list; a value that is not a list of texts reads as empty.
    static std::vector<std::string> stored(const UserDefaults& defaults);
    // Puts the trimmed query first (dropping its earlier copies), keeps ten and stores the list;
    // a blank query changes nothing. Returns the list as stored afterwards.
    static std::vector<std::string> remember(UserDefaults& defaults, std::string_view query);
};

}  // namespace velto
