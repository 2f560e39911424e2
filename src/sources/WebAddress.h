#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace velto {

// An absolute address split into its parts, as far as the sources need it: scheme, user
// information, host, port, path, query and fragment. Only well-formed text parses.
struct WebAddress {
    std::string scheme;  // lower case
    std::optional<std::string> userInfo;
    std::string host;
    std::optional<std::string> port;
    std::string path;
    std::optional<std::string> query;
    std::optional<std::string> fragment;

    // Absent when the text has no scheme and "//" authority, or holds characters that no
    // address may carry (spaces, controls, quotes, angle brackets, a bad percent escape).
    static std::optional<WebAddress> parse(std::string_view text);
    std::string text() const;
};

}  // namespace velto
