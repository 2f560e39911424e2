#include "sources/resolving/PlaybackRedirectPolicy.h"

#include <cctype>
#include <charconv>

#include "sources/model/WebAddress.h"

namespace velto::PlaybackRedirectPolicy {

namespace {

std::string lowercased(std::string text) {
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

std::optional<long> portOf(const WebAddress& address) {
    if (address.port.empty()) return 443;
    long value = 0;
    const auto& text = address.port;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
    return value;
}

}  // namespace

bool isSameHTTPSOrigin(const std::optional<std::string>& candidate, const std::string& origin) {
    if (!candidate) return false;
    const auto next = WebAddress::parse(*candidate);
    const auto start = WebAddress::parse(origin);
    if (!next || !start) return false;
    if (next->lowercasedScheme() != "https" || start->lowercasedScheme() != "https") return false;
    if (lowercased(next->host) != lowercased(start->host)) return false;
    const auto nextPort = portOf(*next);
    if (!nextPort || nextPort != portOf(*start)) return false;
    return !next->hasUserInfo;
}

}  // namespace velto::PlaybackRedirectPolicy
