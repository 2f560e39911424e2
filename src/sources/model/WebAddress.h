#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace velto {

// The parts of an absolute or relative web address, as far as the sources need them. Parsing
// is strict: a text with a character that an address may not hold (a blank, a control
// character, a non-ASCII byte, a stray percent sign) or a malformed authority gives none.
struct WebAddress {
    std::string text;    // the whole address as given
    std::string scheme;  // empty for a relative reference
    bool hasUserInfo = false;
    std::string host;  // empty without an authority
    std::string port;

    static std::optional<WebAddress> parse(std::string_view text);

    std::string lowercasedScheme() const;
    // The same address under another scheme (only for an address that has one).
    std::string withScheme(std::string_view newScheme) const;
};

}  // namespace velto
