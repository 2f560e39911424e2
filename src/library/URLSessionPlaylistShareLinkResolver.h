#pragma once

#include <chrono>
#include <functional>

#include "library/PlaylistShareLinkResolving.h"
#include "platform/HttpClient.h"

namespace velto {

// Follows a short link with HEAD requests, at most eight redirects and only between the known
// music hosts, always over https. The address that answered last (2xx, or a 3xx whose redirect
// was refused) is the result; any other answer is OnlinePlaylistImportError::unavailable.
// Transport failures become SourceError::network, a stop a CancellationError.
class URLSessionPlaylistShareLinkResolver : public PlaylistShareLinkResolving {
public:
    // One exchange, redirects reported rather than followed.
    using Transport = std::function<HttpResponse(const HttpRequest&, std::stop_token)>;

    static constexpr int maximumRedirects = 8;
    static constexpr std::chrono::seconds timeout{8};

    // Each resolution runs on a session of its own, which keeps nothing afterwards.
    URLSessionPlaylistShareLinkResolver() = default;
    explicit URLSessionPlaylistShareLinkResolver(Transport transport);

    std::string resolve(const std::string& link, std::stop_token stop) override;

private:
    Transport transport_;
};

}  // namespace velto
