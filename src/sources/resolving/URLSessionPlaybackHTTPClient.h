#pragma once

#include "platform/HttpClient.h"
#include "sources/resolving/PlaybackHTTPClient.h"

namespace velto {

// PlaybackHTTPClient over an HttpSession. Every request runs under a hard deadline of its own,
// kept by a watchdog rather than trusted to the transport.
class URLSessionPlaybackHTTPClient : public PlaybackHTTPClient {
  public:
    explicit URLSessionPlaybackHTTPClient(HttpSession& session = HttpSession::shared());

    PlaybackHTTPResponse send(const PlaybackHTTPRequest& request, std::stop_token stop) override;
    // Read only the first bytes of the answer (see PlaybackMediaPrefixProbe); the same-origin
    // form refuses redirects off the request's https origin.
    PlaybackHTTPResponse probe(const PlaybackHTTPRequest& request, int maxBytes, double timeout,
                               std::stop_token stop) override;
    PlaybackHTTPResponse probeSameOrigin(const PlaybackHTTPRequest& request, int maxBytes,
                                         double timeout, std::stop_token stop) override;

    // The deadline in seconds for a requested time-out: not finite → 8, at most 0.01 → 0.01,
    // above 30 → 30.
    static double effectiveTimeout(double requested);

  private:
    HttpSession& session_;
};

}  // namespace velto
