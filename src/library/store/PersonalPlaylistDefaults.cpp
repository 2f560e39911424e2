#include "library/store/PersonalPlaylistDefaults.h"

namespace velto::PersonalPlaylistDefaults {

const std::set<std::string, std::less<>>& legacyNames() {
    static const std::set<std::string, std::less<>> names{"我喜欢的音乐"};
    return names;
}

}  // namespace velto::PersonalPlaylistDefaults
