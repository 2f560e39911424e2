#include "sources/resolving/PlaybackHTTPClient.h"

#include <algorithm>

#include "foundation/Cancellation.h"

namespace velto {

PlaybackHTTPResponse PlaybackHTTPClient::probe(const PlaybackHTTPRequest& request, int maxBytes,
                                               double /*timeout*/, std::stop_token stop) {
    throwIfCancelled(stop);
    PlaybackHTTPResponse response = send(request, stop);
    throwIfCancelled(stop);
    const std::size_t keep = static_cast<std::size_t>(std::max(maxBytes, 1));
    if (response.body.size() > keep) response.body.resize(keep);
    return response;
}

PlaybackHTTPResponse PlaybackHTTPClient::probeSameOrigin(const PlaybackHTTPRequest& request,
                                                         int maxBytes, double timeout,
                                                         std::stop_token stop) {
    return probe(request, maxBytes, timeout, stop);
}

}  // namespace velto
