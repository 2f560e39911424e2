#include "sources/rovoz/ChkszBaseURL.h"

#include <cstdlib>

#include "foundation/Log.h"
#include "foundation/files/Paths.h"
#include "sources/credentials/BuildCredentialStore.h"
#include "sources/model/JsonReading.h"
#include "sources/model/WebAddress.h"

namespace velto {

std::optional<std::string> chkszOrigin(std::string_view text) {
    const auto address = WebAddress::parse(trimmed(text));
    if (!address || address->host.empty() || address->hasUserInfo) return std::nullopt;
    const std::string scheme = address->lowercasedScheme();
    if (scheme != "https" && scheme != "http") return std::nullopt;
    std::string origin = scheme + "://" + address->host;
    if (!address->port.empty()) origin += ":" + address->port;
    // Nothing may follow the authority but a lone "/".
    const std::string given = address->withScheme(scheme);
    if (given != origin && given != origin + "/") return std::nullopt;
    return origin;
}

std::optional<std::string> chkszHTTPSOrigin(std::string_view text) {
    auto origin = chkszOrigin(text);
    if (!origin || !origin->starts_with("https://")) return std::nullopt;
    return origin;
}

std::optional<std::string> configuredChkszBaseURL() {
    return configuredChkszBaseURL(Paths::resourceDir());
}

std::optional<std::string> configuredChkszBaseURL(const std::filesystem::path& resourceDir) {
    if (const char* environment = std::getenv("VELTO_ROVOZ_BASE_URL");
        environment && *environment) {
        if (auto origin = chkszHTTPSOrigin(environment)) return origin;
        Log::error("rovoz", "VELTO_ROVOZ_BASE_URL is not an https origin; ignored");
    }
    const auto configured = BuildCredentialStore::readValue(
        resourceDir / BuildCredentialStore::resourceName, "chkszBaseURL");
    if (!configured) return std::nullopt;
    if (auto origin = chkszHTTPSOrigin(*configured)) return origin;
    Log::error("rovoz", "chkszBaseURL is not an https origin; ignored");
    return std::nullopt;
}

}  // namespace velto
