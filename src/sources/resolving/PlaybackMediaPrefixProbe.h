#pragma once

#include <cstddef>
#include <optional>
#include <stop_token>
#include <string>

#include "sources/resolving/PlaybackHTTPClient.h"

namespace velto {

class HttpSession;
struct HttpRequest;

// One bounded look at the start of a stream: at most `maxBytes` body bytes within the time-out,
// no body at all kept for a status other than 200 and 206. With a redirect origin, every
// redirect must stay on that https origin. Redirects never leave http and https.
class PlaybackMediaPrefixProbe {
  public:
    PlaybackMediaPrefixProbe(int maxBytes, std::optional<std::string> redirectOrigin);

    // Never fails for an HTTP status. Throws CancellationError on `stop` and
    // SourceError::network for transport failures, the deadline and a refused redirect.
    PlaybackHTTPResponse run(HttpSession& session, const PlaybackHTTPRequest& request,
                             double timeout, std::stop_token stop) const;

    // What `run` hands to the HTTP layer, before its redirect check: the cap and the clamped
    // time-out as both the idle and the whole-request limit.
    HttpRequest request(const PlaybackHTTPRequest& request, double timeout) const;

    std::size_t maxBytes() const { return maxBytes_; }

  private:
    std::size_t maxBytes_;
    std::optional<std::string> redirectOrigin_;
};

}  // namespace velto
