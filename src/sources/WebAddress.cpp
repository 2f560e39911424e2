#include "sources/WebAddress.h"

#include <cctype>

namespace velto {

namespace {

bool isHex(char c) {
    return std::isxdigit(static_cast<unsigned char>(c)) != 0;
}

bool hasOnlyAddressCharacters(std::string_view text) {
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c <= 0x20 || c == 0x7F) return false;
        switch (c) {
            case '"':
            case '<':
            case '>':
            case '\\':
            case '^':
            case '`':
            case '{':
            case '|':
            case '}':
                return false;
            case '%':
                if (i + 2 >= text.size() || !isHex(text[i + 1]) || !isHex(text[i + 2])) {
                    return false;
                }
                break;
            default:
                break;
        }
    }
    return true;
}

bool isSchemeText(std::string_view scheme) {
    if (scheme.empty() || !std::isalpha(static_cast<unsigned char>(scheme.front()))) return false;
    for (char c : scheme) {
        if (!std::isalnum(static_cast<unsigned char>(c)) && c != '+' && c != '-' && c != '.') {
            return false;
        }
    }
    return true;
}

}  // namespace

std::optional<WebAddress> WebAddress::parse(std::string_view text) {
    if (!hasOnlyAddressCharacters(text)) return std::nullopt;
    const auto colon = text.find(':');
    if (colon == std::string_view::npos || !isSchemeText(text.substr(0, colon))) {
        return std::nullopt;
    }
    WebAddress address;
    for (char c : text.substr(0, colon)) {
        address.scheme += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    std::string_view rest = text.substr(colon + 1);
    if (!rest.starts_with("//")) return std::nullopt;
    rest.remove_prefix(2);

    if (const auto hash = rest.find('#'); hash != std::string_view::npos) {
        address.fragment = std::string(rest.substr(hash + 1));
        rest = rest.substr(0, hash);
    }
    if (const auto question = rest.find('?'); question != std::string_view::npos) {
        address.query = std::string(rest.substr(question + 1));
        rest = rest.substr(0, question);
    }
    const auto slash = rest.find('/');
    std::string_view authority = rest.substr(0, slash);
    address.path =
        slash == std::string_view::npos ? std::string() : std::string(rest.substr(slash));

    if (const auto at = authority.rfind('@'); at != std::string_view::npos) {
        address.userInfo = std::string(authority.substr(0, at));
        authority.remove_prefix(at + 1);
    }
    std::string_view host = authority;
    if (authority.starts_with('[')) {
        const auto close = authority.find(']');
        if (close == std::string_view::npos) return std::nullopt;
        host = authority.substr(0, close + 1);
        authority.remove_prefix(close + 1);
        if (!authority.empty()) {
            if (authority.front() != ':') return std::nullopt;
            address.port = std::string(authority.substr(1));
        }
    } else if (const auto portColon = authority.rfind(':'); portColon != std::string_view::npos) {
        host = authority.substr(0, portColon);
        address.port = std::string(authority.substr(portColon + 1));
    }
    if (address.port) {
        for (char c : *address.port) {
            if (!std::isdigit(static_cast<unsigned char>(c))) return std::nullopt;
        }
    }
    if (host.find_first_of("[]") != std::string_view::npos && !host.starts_with('[')) {
        return std::nullopt;
    }
    address.host = std::string(host);
    return address;
}

std::string WebAddress::text() const {
    std::string result = scheme + "://";
    if (userInfo) result += *userInfo + "@";
    result += host;
    if (port) result += ":" + *port;
    result += path;
    if (query) result += "?" + *query;
    if (fragment) result += "#" + *fragment;
    return result;
}

}  // namespace velto
