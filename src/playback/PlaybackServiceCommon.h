#pragma once

#include <optional>
#include <string>
#include <string_view>

// What the files of PlaybackService share: settings keys, user texts and small helpers.
namespace velto::playback_service {

constexpr std::string_view logCategory = "PlaybackTransition";
constexpr const char* qualityKey = "preferredPlaybackQuality";
constexpr const char* lastQualityKey = "lastPlayedQuality";
constexpr const char* sessionKey = "velto.playback.session";
// The place in the song is saved at most this often along it (seconds).
constexpr double sessionSaveInterval = 5.0;
// Seconds of a network stream the player keeps buffered ahead.
constexpr double preferredForwardBuffer = 10;

inline const char* const addressFallback = "无法获取播放地址";
inline const char* const qualityFallback = "无法切换音质";
inline const char* const playbackFallback = "播放失败，请重试";

// The host of a stream address, for currentMediaHost(); none without one.
inline std::optional<std::string> hostOf(const std::string& url) {
    auto scheme = url.find("://");
    if (scheme == std::string::npos) return std::nullopt;
    auto start = scheme + 3;
    auto end = url.find_first_of("/?#", start);
    std::string authority = url.substr(start, end == std::string::npos ? end : end - start);
    if (auto at = authority.rfind('@'); at != std::string::npos) authority.erase(0, at + 1);
    if (!authority.empty() && authority.front() == '[') {
        auto close = authority.find(']');
        return authority.substr(1, close == std::string::npos ? close : close - 1);
    }
    if (auto colon = authority.find(':'); colon != std::string::npos) authority.resize(colon);
    if (authority.empty()) return std::nullopt;
    return authority;
}

}  // namespace velto::playback_service
