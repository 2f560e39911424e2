#pragma once

#include <optional>
#include <string_view>

#include "sources/model/MusicSource.h"

namespace velto {

// The music hosts a pasted playlist link may name, compared exactly (no sub-domains).
namespace OnlinePlaylistHosts {

inline constexpr std::string_view neteaseSite = "music.163.com";
inline constexpr std::string_view neteaseMobile = "y.music.163.com";
inline constexpr std::string_view neteaseShortLink = "163cn.tv";
inline constexpr std::string_view qqPages = "y.qq.com";
inline constexpr std::string_view qqMobilePages = "i.y.qq.com";
inline constexpr std::string_view qqService = "c.y.qq.com";
inline constexpr std::string_view qqShortLink = "url.cn";
// The only path of the QQ Music service host that stands for a short link.
inline constexpr std::string_view qqServiceShortLinkPath = "/base/fcgi-bin/u";

// The source of a host given in lower case; none for a host outside the catalogue.
std::optional<MusicSource> source(std::string_view lowercasedHost);

// Whether an address on this host (lower case) with this path is a short link to follow.
bool isShortLink(std::string_view lowercasedHost, std::string_view path);

}  // namespace OnlinePlaylistHosts
}  // namespace velto
