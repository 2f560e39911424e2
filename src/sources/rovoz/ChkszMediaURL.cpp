#include "sources/rovoz/ChkszMediaURL.h"

#include "sources/model/LoopbackAddresses.h"
#include "sources/model/WebAddress.h"

namespace velto {

std::optional<std::string> chkszMediaURL(std::string_view text) {
    const auto address = WebAddress::parse(text);
    if (!address || address->host.empty() || address->hasUserInfo) return std::nullopt;
    const std::string scheme = address->lowercasedScheme();
    if (scheme != "http" && scheme != "https") return std::nullopt;
    return address->withScheme(LoopbackAddresses::upgradedScheme(*address));
}

}  // namespace velto
