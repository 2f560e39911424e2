#include "library/online/OnlinePlaylistReference.h"

#include <array>
#include <initializer_list>
#include <vector>

#include "library/online/OnlinePlaylistHosts.h"
#include "library/online/OnlinePlaylistImportError.h"
#include "sources/model/WebAddress.h"

namespace velto {

namespace {

using Kind = OnlinePlaylistImportError::Kind;

std::string lowercased(std::string_view text) {
    std::string lower(text);
    for (char& c : lower) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return lower;
}

std::vector<std::string_view> pieces(std::string_view path) {
    std::vector<std::string_view> result;
    while (!path.empty()) {
        const auto slash = path.find('/');
        if (slash != 0) result.push_back(path.substr(0, slash));
        if (slash == std::string_view::npos) break;
        path.remove_prefix(slash + 1);
    }
    return result;
}

bool hasPiece(std::string_view path, std::string_view wanted) {
    for (auto piece : pieces(path)) {
        if (piece == wanted) return true;
    }
    return false;
}

std::string withoutHTML(std::string_view piece) {
    std::string result;
    while (true) {
        const auto at = piece.find(".html");
        result += piece.substr(0, at);
        if (at == std::string_view::npos) return result;
        piece.remove_prefix(at + 5);
    }
}

}  // namespace

std::optional<std::string> OnlinePlaylistReference::normalizedID(std::string_view text) {
    if (text.empty() || text.size() > 18) return std::nullopt;
    for (char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
    }
    const auto first = text.find_first_not_of('0');
    if (first == std::string_view::npos) return std::nullopt;
    return std::string(text.substr(first));
}

std::optional<MusicSource> OnlinePlaylistReference::sourceFor(std::string_view url) {
    auto address = WebAddress::parse(url);
    if (!address || address->host.empty()) return std::nullopt;
    return OnlinePlaylistHosts::source(lowercased(address->host));
}

OnlinePlaylistReference OnlinePlaylistReference::from(std::string_view url) {
    const auto source = sourceFor(url);
    if (!source) throw OnlinePlaylistImportError(Kind::unsupportedLink);
    const auto address = WebAddress::parse(url);
    if (!address || address->hasUserInfo || !address->port.empty())
        throw OnlinePlaylistImportError(Kind::unsupportedLink);
    const std::string scheme = address->lowercasedScheme();
    if (scheme != "http" && scheme != "https") throw OnlinePlaylistImportError(Kind::unsupportedLink);

    // Single-page sites keep the route after "#": its path and query count as well.
    std::optional<WebAddress> route;
    if (address->fragment) route = WebAddress::parse(*address->fragment);
    const std::array<std::string, 2> paths = {lowercased(address->decodedPath()),
                                              route ? lowercased(route->decodedPath()) : ""};
    auto items = address->queryItems();
    if (route) {
        auto more = route->queryItems();
        items.insert(items.end(), more.begin(), more.end());
    }
    // The first item, in address order, under any of the names.
    auto query = [&items](std::initializer_list<std::string_view> names) -> std::optional<std::string> {
        for (const auto& item : items) {
            const std::string name = lowercased(item.name);
            for (auto wanted : names) {
                if (name == wanted) return item.value;
            }
        }
        return std::nullopt;
    };

    std::optional<std::string> identifier;
    if (*source == MusicSource::wy) {
        if (!hasPiece(paths[0], "playlist") && !hasPiece(paths[1], "playlist"))
            throw OnlinePlaylistImportError(Kind::notPlaylistLink);
        identifier = query({"id"});
    } else if (*source == MusicSource::tx) {
        identifier = query({"disstid", "dissid"});
        for (std::size_t i = 0; !identifier && i < paths.size(); ++i) {
            const auto list = pieces(paths[i]);
            for (std::size_t j = 0; j < list.size(); ++j) {
                if (list[j] != "playlist") continue;
                if (j + 1 < list.size()) identifier = withoutHTML(list[j + 1]);
                break;
            }
        }
        if (!identifier) {
            for (const auto& path : paths) {
                if (path.find("/taoge") != std::string::npos || hasPiece(path, "playlist")) {
                    identifier = query({"id"});
                    break;
                }
            }
        }
    } else {
        throw OnlinePlaylistImportError(Kind::unsupportedLink);
    }

    auto normalized = identifier ? normalizedID(*identifier) : std::nullopt;
    if (!normalized) throw OnlinePlaylistImportError(Kind::notPlaylistLink);
    return {*source, std::move(*normalized)};
}

}  // namespace velto
