#include "sources/model/SourceArtworkURL.h"

#include <cctype>
#include <string_view>

#include "sources/model/JsonReading.h"
#include "sources/model/LoopbackAddresses.h"
#include "sources/model/SourceError.h"

namespace velto::SourceArtworkURL {

namespace {

[[noreturn]] void refuse() {
    throw SourceError::source("音源返回封面地址异常");
}

bool isHex(char c) {
    return std::isxdigit(static_cast<unsigned char>(c)) != 0;
}

// Characters an address may hold as they are (RFC 3986 unreserved, reserved and '%' escapes);
// blanks, controls, bytes beyond ASCII and the excluded punctuation make the text no address.
bool hasOnlyAddressCharacters(std::string_view text) {
    static constexpr std::string_view allowed = "-._~:/?#[]@!$&'()*+,;=";
    for (std::size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        auto byte = static_cast<unsigned char>(c);
        if (byte >= 0x80) return false;
        if (std::isalnum(byte)) continue;
        if (c == '%') {
            if (i + 2 >= text.size() || !isHex(text[i + 1]) || !isHex(text[i + 2])) return false;
            i += 2;
            continue;
        }
        if (allowed.find(c) != std::string_view::npos) continue;
        return false;
    }
    return true;
}

bool isValidPort(std::string_view port) {
    for (char c : port)
        if (c < '0' || c > '9') return false;
    return true;
}

}  // namespace

std::optional<std::string> normalizedString(const std::optional<std::string>& text) {
    if (!text) return std::nullopt;
    std::string address = trimmed(*text);
    if (address.empty()) return std::nullopt;
    if (!hasOnlyAddressCharacters(address)) refuse();

    auto colon = address.find(':');
    if (colon == std::string::npos || colon == 0) refuse();
    std::string scheme = address.substr(0, colon);
    if (!std::isalpha(static_cast<unsigned char>(scheme[0]))) refuse();
    for (char& c : scheme) c = char(std::tolower(static_cast<unsigned char>(c)));
    if (scheme != "http" && scheme != "https") refuse();

    std::string_view rest = std::string_view(address).substr(colon + 1);
    if (!rest.starts_with("//")) refuse();
    std::string_view afterSlashes = rest.substr(2);
    std::string_view authority = afterSlashes.substr(0, afterSlashes.find_first_of("/?#"));
    if (authority.find('@') != std::string_view::npos) refuse();

    std::string_view host = authority;
    if (host.starts_with('[')) {
        auto close = host.find(']');
        if (close == std::string_view::npos) refuse();
        std::string_view after = host.substr(close + 1);
        if (!after.empty() && (!after.starts_with(':') || !isValidPort(after.substr(1)))) refuse();
        host = host.substr(0, close + 1);
        if (host.size() <= 2) refuse();
    } else {
        auto portColon = host.find(':');
        if (portColon != std::string_view::npos) {
            if (!isValidPort(host.substr(portColon + 1))) refuse();
            host = host.substr(0, portColon);
        }
        if (host.find_first_of("[]") != std::string_view::npos) refuse();
    }
    if (host.empty()) refuse();

    // Everything past the scheme is kept as the service wrote it.
    if (scheme == "http" && LoopbackAddresses::keepsHTTP() && LoopbackAddresses::isLoopbackHost(host)) {
        return "http:" + std::string(rest);
    }
    return "https:" + std::string(rest);
}

}  // namespace velto::SourceArtworkURL
