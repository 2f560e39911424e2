#include "artwork/ArtworkAddressPolicy.h"

#include <arpa/inet.h>
#include <netinet/in.h>

#include <cctype>
#include <cstring>

#include "sources/model/WebAddress.h"

namespace velto {
namespace {

std::string normalizedHost(std::string_view host) {
    std::string text(host);
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    while (!text.empty() && text.back() == '.') text.pop_back();
    return text;
}

bool isLocalhostName(const std::string& host) {
    return host == "localhost" || (host.size() > 10 && host.ends_with(".localhost"));
}

enum class Range { publicHost, loopback, other };

Range rangeOfV4(std::uint32_t address) {
    const auto in = [address](std::uint32_t network, int bits) {
        const std::uint32_t mask = bits == 0 ? 0 : ~std::uint32_t(0) << (32 - bits);
        return (address & mask) == network;
    };
    if (in(0x7F000000, 8)) return Range::loopback;
    if (in(0x00000000, 8) || in(0x0A000000, 8) || in(0xAC100000, 12) || in(0xC0A80000, 16) ||
        in(0xA9FE0000, 16) || in(0x64400000, 10)) {
        return Range::other;
    }
    return Range::publicHost;
}

// Literal addresses only; names other than localhost are public as far as this check goes.
std::optional<Range> literalRange(const std::string& host) {
    if (host.size() > 2 && host.front() == '[' && host.back() == ']') {
        const std::string inner = host.substr(1, host.size() - 2);
        in6_addr v6{};
        if (inet_pton(AF_INET6, inner.c_str(), &v6) != 1) return Range::other;  // zone ids and the like
        const auto* b = v6.s6_addr;
        static const unsigned char mapped[12] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF};
        if (std::memcmp(b, mapped, 12) == 0) {
            return rangeOfV4(std::uint32_t(b[12]) << 24 | std::uint32_t(b[13]) << 16 |
                             std::uint32_t(b[14]) << 8 | b[15]);
        }
        static const unsigned char zero[15] = {};
        if (std::memcmp(b, zero, 15) == 0) return b[15] == 1 ? Range::loopback : Range::other;
        if ((b[0] & 0xFE) == 0xFC || (b[0] == 0xFE && (b[1] & 0xC0) == 0x80)) return Range::other;
        return Range::publicHost;
    }
    // inet_aton takes every form the system resolver does ("127.1", "0x7f.1", "2130706433").
    in_addr v4{};
    if (inet_aton(host.c_str(), &v4) == 1) return rangeOfV4(ntohl(v4.s_addr));
    return std::nullopt;
}

}  // namespace

ArtworkAddressPolicy ArtworkAddressPolicy::forServiceOrigins(
    const std::vector<std::optional<std::string>>& origins) {
    for (const auto& origin : origins) {
        if (!origin) continue;
        auto address = WebAddress::parse(*origin);
        if (address && !address->host.empty() && isLoopbackHost(address->host))
            return ArtworkAddressPolicy(true);
    }
    return ArtworkAddressPolicy(false);
}

bool ArtworkAddressPolicy::isLoopbackHost(std::string_view host) {
    const std::string name = normalizedHost(host);
    if (isLocalhostName(name)) return true;
    auto range = literalRange(name);
    return range && *range == Range::loopback;
}

bool ArtworkAddressPolicy::isPrivateHost(std::string_view host) {
    const std::string name = normalizedHost(host);
    if (isLocalhostName(name)) return true;
    auto range = literalRange(name);
    return range && *range != Range::publicHost;
}

bool ArtworkAddressPolicy::allows(std::string_view text) const {
    auto address = WebAddress::parse(text);
    if (!address || address->hasUserInfo || address->host.empty()) return false;
    const std::string scheme = address->lowercasedScheme();
    if (scheme != "http" && scheme != "https") return false;
    // Percent escapes in a host name are decoded by some resolvers and not by others.
    if (address->host.find('%') != std::string::npos) return false;
    return allowsPrivateHosts_ || !isPrivateHost(address->host);
}

}  // namespace velto
