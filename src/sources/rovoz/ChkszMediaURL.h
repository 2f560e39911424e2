#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace velto {

// A cover or stream address from a RoVOz answer, rewritten to "https": the text must parse
// with the scheme http or https (any case), a host and no user or password.
std::optional<std::string> chkszMediaURL(std::string_view text);

}  // namespace velto
