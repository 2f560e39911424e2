#include "library/online/OnlinePlaylistHosts.h"

namespace velto::OnlinePlaylistHosts {

std::optional<MusicSource> source(std::string_view host) {
    if (host == neteaseSite || host == neteaseMobile || host == neteaseShortLink)
        return MusicSource::wy;
    if (host == qqPages || host == qqMobilePages || host == qqService || host == qqShortLink)
        return MusicSource::tx;
    return std::nullopt;
}

bool isShortLink(std::string_view host, std::string_view path) {
    return host == neteaseShortLink || host == qqShortLink ||
           (host == qqService && path == qqServiceShortLinkPath);
}

}  // namespace velto::OnlinePlaylistHosts
