#pragma once

#include <chrono>
#include <functional>

#include "library/online/PlaylistShareLinkResolving.h"
#include "platform/HttpClient.h"

namespace velto {

// Follows a short link with HEAD requests, at most eight redirects and only between the known
// music hosts, always over https. The address that answered last (2xx, or a 3xx whose redirect
// was refused) is the result; any other answer is OnlinePlaylistImportError::unavailable.
// Transport failures, and a resolution that outlasts `deadline` as a whole, become
// SourceError::network; a stop becomes a CancellationError.
class URLSessionPlaylistShareLinkResolver : public PlaylistShareLinkResolving {
public:
    // One exchange, redirects reported rather than followed.
    using Transport = std::function<HttpResponse(const HttpRequest&, std::stop_token)>;
    using Clock = std::function<std::chrono::steady_clock::time_point()>;

    static constexpr int maximumRedirects = 8;
    static constexpr std::chrono::seconds timeout{8};
    // For all hops together: nine slow hops would otherwise keep the import sheet waiting for
    // more than a minute.
    static constexpr std::chrono::seconds deadline{15};

    // Each resolution runs on a session of its own, which keeps nothing afterwards.
    URLSessionPlaylistShareLinkResolver() = default;
    // `clock` measures the deadline; none means the steady clock.
    explicit URLSessionPlaylistShareLinkResolver(Transport transport, Clock clock = {});

    std::string resolve(const std::string& link, std::stop_token stop) override;

private:
    Transport transport_;
    Clock clock_;
};

}  // namespace velto
