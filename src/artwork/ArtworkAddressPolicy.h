#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace velto {

// Which picture addresses may be fetched: http and https only, no user information, and a host
// on loopback or in a private, link-local or unspecified range only when the services
// themselves are configured on loopback (the local fake services). Judged on the address text:
// a public name that resolves to a private address is not caught here.
class ArtworkAddressPolicy {
public:
    explicit ArtworkAddressPolicy(bool allowsPrivateHosts = false)
        : allowsPrivateHosts_(allowsPrivateHosts) {}

    // Private hosts are allowed when any of the configured service origins is on loopback.
    static ArtworkAddressPolicy forServiceOrigins(
        const std::vector<std::optional<std::string>>& origins);

    bool allows(std::string_view address) const;
    bool allowsPrivateHosts() const { return allowsPrivateHosts_; }

    // "localhost" (and names below it) or a loopback address, in any form the resolver accepts.
    static bool isLoopbackHost(std::string_view host);
    // Loopback, private (10/8, 172.16/12, 192.168/16, 100.64/10, fc00::/7), link-local
    // (169.254/16, fe80::/10) and unspecified (0/8, ::) hosts.
    static bool isPrivateHost(std::string_view host);

private:
    bool allowsPrivateHosts_;
};

}  // namespace velto
