#include "sources/resolving/PlaybackFallbackPolicy.h"

#include <algorithm>
#include <string>

namespace velto::PlaybackFallbackPolicy {

namespace {

bool containsAny(const std::string& text, std::initializer_list<std::string_view> needles) {
    return std::any_of(needles.begin(), needles.end(),
                       [&](std::string_view needle) { return text.find(needle) != text.npos; });
}

}  // namespace

bool allowsFallback(std::string_view message) {
    // Only ASCII letters change case; the Chinese markers compare byte for byte.
    std::string text(message);
    for (char& c : text) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    if (containsAny(text, {"音质不可用"})) return true;
    if (containsAny(text, {"不支持"}) && containsAny(text, {"音质", "hi-res", "hires"})) {
        return true;
    }
    return containsAny(text, {"无版权", "需要会员", "无法获取无损", "仅返回试听片段",
                              "加载获取歌曲失败", "未返回可用链接", "未能匹配可用链接"});
}

}  // namespace velto::PlaybackFallbackPolicy
