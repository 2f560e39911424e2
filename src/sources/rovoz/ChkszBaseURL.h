#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace velto {

// The RoVOz service's address is configuration: $VELTO_ROVOZ_BASE_URL, else the text
// "chkszBaseURL" of the resource BuildCredentials.json. Only an HTTPS origin counts (a
// trailing "/" is dropped); anything else, or nothing configured, gives absent.
std::optional<std::string> configuredChkszBaseURL();
std::optional<std::string> configuredChkszBaseURL(const std::filesystem::path& resourceDir);

// `text` as an HTTPS origin without the trailing "/", or absent when it is none.
std::optional<std::string> chkszHTTPSOrigin(std::string_view text);
// Same, but plain HTTP is accepted too (a loopback service in tests).
std::optional<std::string> chkszOrigin(std::string_view text);

}  // namespace velto
