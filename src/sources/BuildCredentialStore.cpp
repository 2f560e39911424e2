#include "sources/BuildCredentialStore.h"

#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>

#include "foundation/Paths.h"
#include "sources/TextTrimming.h"

namespace velto {

BuildCredentialStore::BuildCredentialStore(const CredentialStore* fallback)
    : BuildCredentialStore(Paths::resourceDir(), fallback) {}

BuildCredentialStore::BuildCredentialStore(const std::filesystem::path& resourceDir,
                                           const CredentialStore* fallback) {
    key_ = readValue(resourceDir / resourceName, "chkszKey");
    if (!key_ && fallback) key_ = fallback->chkszKey();
}

std::optional<std::string> BuildCredentialStore::readValue(const std::filesystem::path& file,
                                                           std::string_view key) {
    std::ifstream in(file, std::ios::binary);
    if (!in) return std::nullopt;
    std::ostringstream contents;
    contents << in.rdbuf();
    if (in.bad()) return std::nullopt;

    const auto document = nlohmann::json::parse(contents.str(), nullptr, false);
    if (!document.is_object()) return std::nullopt;
    for (const auto& [name, value] : document.items()) {
        if (!value.is_string()) return std::nullopt;
    }
    const auto found = document.find(std::string(key));
    if (found == document.end()) return std::nullopt;
    std::string trimmed = trimmedWhitespace(found->get_ref<const std::string&>());
    if (trimmed.empty()) return std::nullopt;
    return trimmed;
}

}  // namespace velto
