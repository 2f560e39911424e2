#pragma once

#include <optional>
#include <string>

namespace velto {

namespace PlaybackRedirectPolicy {

// True only when `candidate` is an https address without user or password on the same host
// (letter case aside) and port (443 when none is written) as the https address `origin`.
bool isSameHTTPSOrigin(const std::optional<std::string>& candidate, const std::string& origin);

}  // namespace PlaybackRedirectPolicy

}  // namespace velto
