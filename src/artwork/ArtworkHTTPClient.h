#pragma once

#include <stop_token>
#include <string>

namespace velto {

// Downloads picture bytes. Blocks; throws SourceError (or CancellationError once `stop` is
// requested).
class ArtworkHTTPClient {
public:
    virtual ~ArtworkHTTPClient() = default;
    virtual std::string data(const std::string& url, std::stop_token stop) = 0;
};

}  // namespace velto
