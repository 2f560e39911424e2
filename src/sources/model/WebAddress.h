#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

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
    std::string path;                     // as written, escapes kept
    std::optional<std::string> query;     // after "?", escapes kept; none without "?"
    std::optional<std::string> fragment;  // after "#", escapes kept; none without "#"

    // One "name=value" piece of the query, escapes decoded; a piece without "=" has no value.
    struct QueryItem {
        std::string name;
        std::optional<std::string> value;
        bool operator==(const QueryItem&) const = default;
    };

    static std::optional<WebAddress> parse(std::string_view text);
    // Percent escapes turned into their bytes (the text has been checked by parse).
    static std::string percentDecoded(std::string_view text);

    // The query split at "&", in order; an empty or absent query has none.
    std::vector<QueryItem> queryItems() const;
    std::string decodedPath() const { return percentDecoded(path); }

    std::string lowercasedScheme() const;
    // The same address under another scheme (only for an address that has one).
    std::string withScheme(std::string_view newScheme) const;
};

}  // namespace velto
