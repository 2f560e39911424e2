#pragma once

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
};

}  // namespace velto
