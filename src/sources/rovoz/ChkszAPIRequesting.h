#pragma once

#include <cstddef>
#include <map>
#include <stop_token>
#include <string>

namespace velto {

// The one way to the RoVOz music API: a keyed GET of `path` with `parameters` (without the
// key), answering the accepted JSON body. Throws SourceError or CancellationError.
class ChkszAPIRequesting {
  public:
    virtual ~ChkszAPIRequesting() = default;
    virtual std::string request(const std::string& path,
                                const std::map<std::string, std::string>& parameters,
                                std::stop_token stop) = 0;
    // The same request for an answer that may be large: at most `maxBodyBytes` of the body are
    // read, and a longer answer comes back cut to that length, its envelope unchecked, so that
    // the caller can refuse it as too large. By default the whole answer is read.
    virtual std::string requestCapped(const std::string& path,
                                      const std::map<std::string, std::string>& parameters,
                                      std::size_t maxBodyBytes, std::stop_token stop) {
        (void)maxBodyBytes;
        return request(path, parameters, std::move(stop));
    }
};

}  // namespace velto
