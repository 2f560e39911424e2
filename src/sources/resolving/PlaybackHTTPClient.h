#pragma once

#include <cstddef>
#include <map>
#include <optional>
#include <stop_token>
#include <string>
#include <utility>
#include <vector>

namespace velto {

struct PlaybackHTTPRequest {
    enum class Method { get, head };

    std::string url;
    Method method = Method::get;
    std::vector<std::pair<std::string, std::string>> headers;
    // Seconds; may be infinite or NaN. The client clamps it into its own hard deadline.
    double timeoutSeconds = 60.0;
    // The body is cut here; service answers are small, so anything near the limit is broken.
    std::optional<std::size_t> maxBodyBytes = std::size_t{16} << 20;
};

struct PlaybackHTTPResponse {
    int statusCode = 0;
    std::map<std::string, std::string> headers;  // names in lower case
    std::string body;
    // The body reached maxBodyBytes and was cut there.
    bool bodyTruncated = false;
};

// The HTTP interface of the RoVOz side. `send` answers every HTTP status; it throws
// SourceError::network for transport failures and time-outs and CancellationError on `stop`.
class PlaybackHTTPClient {
  public:
    virtual ~PlaybackHTTPClient() = default;

    virtual PlaybackHTTPResponse send(const PlaybackHTTPRequest& request, std::stop_token stop) = 0;

    // Default: the whole request through `send`, then only the first max(maxBytes, 1) bytes
    // of the body are kept. `timeout` is left to implementations that read incrementally.
    virtual PlaybackHTTPResponse probe(const PlaybackHTTPRequest& request, int maxBytes,
                                       double timeout, std::stop_token stop);
    // Default: exactly `probe`, without any look at redirects.
    virtual PlaybackHTTPResponse probeSameOrigin(const PlaybackHTTPRequest& request, int maxBytes,
                                                 double timeout, std::stop_token stop);
};

}  // namespace velto
