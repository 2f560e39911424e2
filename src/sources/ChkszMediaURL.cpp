#include "sources/ChkszMediaURL.h"

#include "sources/WebAddress.h"

namespace velto {

std::optional<std::string> chkszMediaURL(std::string_view text) {
    auto address = WebAddress::parse(text);
    if (!address || (address->scheme != "http" && address->scheme != "https")) return std::nullopt;
    if (address->host.empty() || address->userInfo) return std::nullopt;
    address->scheme = "https";
    return address->text();
}

}  // namespace velto
