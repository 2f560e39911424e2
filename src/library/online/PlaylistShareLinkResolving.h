#pragma once

#include <stop_token>
#include <string>

namespace velto {

// Follows a short share link to the address it stands for. Blocking, for a worker.
class PlaylistShareLinkResolving {
public:
    virtual ~PlaylistShareLinkResolving() = default;
    virtual std::string resolve(const std::string& link, std::stop_token stop) = 0;
};

}  // namespace velto
