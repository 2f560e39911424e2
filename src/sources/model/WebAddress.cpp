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

int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    return std::tolower(static_cast<unsigned char>(c)) - 'a' + 10;
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
        const std::size_t authorityLength = authority.size();
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
        // Only a bracketed literal may hold a colon: "a::b:80" is no host and port.
        if (hostPart.find_first_of("[]@:") != std::string_view::npos && hostPart.front() != '[') {
            return std::nullopt;
        }
        for (char c : portPart) {
            if (!std::isdigit(static_cast<unsigned char>(c))) return std::nullopt;
        }
        address.host = std::string(hostPart);
        address.port = std::string(portPart);
        rest.remove_prefix(authorityLength);
    }
    if (auto hash = rest.find('#'); hash != std::string_view::npos) {
        address.fragment = std::string(rest.substr(hash + 1));
        rest = rest.substr(0, hash);
    }
    if (auto question = rest.find('?'); question != std::string_view::npos) {
        address.query = std::string(rest.substr(question + 1));
        rest = rest.substr(0, question);
    }
    address.path = std::string(rest);
    return address;
}

std::string WebAddress::percentDecoded(std::string_view text) {
    std::string result;
    result.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size() &&
            std::isxdigit(static_cast<unsigned char>(text[i + 1])) &&
            std::isxdigit(static_cast<unsigned char>(text[i + 2]))) {
            result += static_cast<char>(hexValue(text[i + 1]) * 16 + hexValue(text[i + 2]));
            i += 2;
        } else {
            result += text[i];
        }
    }
    return result;
}

std::vector<WebAddress::QueryItem> WebAddress::queryItems() const {
    std::vector<QueryItem> items;
    if (!query || query->empty()) return items;
    std::string_view rest = *query;
    while (true) {
        const auto amp = rest.find('&');
        const std::string_view piece = rest.substr(0, amp);
        QueryItem item;
        if (auto equals = piece.find('='); equals != std::string_view::npos) {
            item.name = percentDecoded(piece.substr(0, equals));
            item.value = percentDecoded(piece.substr(equals + 1));
        } else {
            item.name = percentDecoded(piece);
        }
        items.push_back(std::move(item));
        if (amp == std::string_view::npos) break;
        rest.remove_prefix(amp + 1);
    }
    return items;
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
