#include "sources/model/WebAddress.h"

#include <cctype>

namespace velto {
namespace {

bool isAllowed(unsigned char c) {
    if (std::isalnum(c)) return true;
    static constexpr std::string_view others = "-._~:/?#[]@!$&'()*+,;=%";
    return others.find(static_cast<char>(c)) != std::string_view::npos;
}

bool validPercentEscapes(std::string_view text) {
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%') continue;
        if (i + 2 >= text.size() || !std::isxdigit(static_cast<unsigned char>(text[i + 1])) ||
            !std::isxdigit(static_cast<unsigned char>(text[i + 2]))) {
            return false;
        }
        i += 2;
    }
    return true;
}

}  // namespace

std::optional<WebAddress> WebAddress::parse(std::string_view text) {
    for (char c : text) {
        if (!isAllowed(static_cast<unsigned char>(c))) return std::nullopt;
    }
    if (!validPercentEscapes(text)) return std::nullopt;

    WebAddress address;
    address.text = std::string(text);
    std::string_view rest = text;

    auto colon = rest.find(':');
    auto firstDelimiter = rest.find_first_of("/?#");
    if (colon != std::string_view::npos && colon > 0 &&
        (firstDelimiter == std::string_view::npos || colon < firstDelimiter) &&
        std::isalpha(static_cast<unsigned char>(rest[0]))) {
        std::string_view scheme = rest.substr(0, colon);
        for (char c : scheme) {
            if (!std::isalnum(static_cast<unsigned char>(c)) && c != '+' && c != '-' && c != '.') {
                return std::nullopt;
            }
        }
        address.scheme = std::string(scheme);
        rest.remove_prefix(colon + 1);
    }

    if (rest.substr(0, 2) == "//") {
        rest.remove_prefix(2);
        std::string_view authority = rest.substr(0, rest.find_first_of("/?#"));
        if (auto at = authority.rfind('@'); at != std::string_view::npos) {
            address.hasUserInfo = true;
            authority.remove_prefix(at + 1);
        }
        std::string_view hostPart = authority;
        std::string_view portPart;
        if (!authority.empty() && authority.front() == '[') {
            auto close = authority.find(']');
            if (close == std::string_view::npos) return std::nullopt;
            hostPart = authority.substr(0, close + 1);
            std::string_view after = authority.substr(close + 1);
            if (!after.empty()) {
                if (after.front() != ':') return std::nullopt;
                portPart = after.substr(1);
            }
        } else if (auto portColon = authority.rfind(':'); portColon != std::string_view::npos) {
            hostPart = authority.substr(0, portColon);
            portPart = authority.substr(portColon + 1);
        }
        if (hostPart.find_first_of("[]@") != std::string_view::npos && hostPart.front() != '[') {
            return std::nullopt;
        }
        for (char c : portPart) {
            if (!std::isdigit(static_cast<unsigned char>(c))) return std::nullopt;
        }
        address.host = std::string(hostPart);
        address.port = std::string(portPart);
    }
    return address;
}

std::string WebAddress::lowercasedScheme() const {
    std::string lower = scheme;
    for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return lower;
}

std::string WebAddress::withScheme(std::string_view newScheme) const {
    return std::string(newScheme) + text.substr(scheme.size());
}

}  // namespace velto
