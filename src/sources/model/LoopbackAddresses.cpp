#include "sources/model/LoopbackAddresses.h"

#include <algorithm>
#include <atomic>
#include <cctype>

namespace velto::LoopbackAddresses {

namespace {
std::atomic<bool> kept{false};
}

bool isLoopbackHost(std::string_view host) {
    std::string lower(host);
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return char(std::tolower(c)); });
    return lower == "127.0.0.1" || lower == "::1" || lower == "[::1]" || lower == "localhost";
}

void setKeepsHTTP(bool keeps) { kept.store(keeps); }

bool keepsHTTP() { return kept.load(); }

std::string upgradedScheme(const WebAddress& address) {
    if (keepsHTTP() && address.lowercasedScheme() == "http" && isLoopbackHost(address.host)) {
        return "http";
    }
    return "https";
}

}  // namespace velto::LoopbackAddresses
