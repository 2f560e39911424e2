#include "sources/credentials/BuildCredentialStore.h"

#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>

#include "foundation/text/BoundedJson.h"
#include "sources/model/JsonReading.h"

namespace velto {

BuildCredentialStore::BuildCredentialStore(const std::filesystem::path& resourceDir,
                                           std::shared_ptr<const CredentialStore> fallback)
    : key_(readValue(resourceDir / resourceName, "chkszKey")) {
    if (!key_) fallback_ = std::move(fallback);
}

std::optional<std::string> BuildCredentialStore::chkszKey() const {
    std::call_once(fallbackRead_, [this] {
        if (fallback_) key_ = fallback_->chkszKey();
        fallback_.reset();
    });
    return key_;
}

std::optional<std::string> BuildCredentialStore::readValue(const std::filesystem::path& file,
                                                           std::string_view key) {
    std::ifstream in(file, std::ios::binary);
    if (!in) return std::nullopt;
    std::ostringstream contents;
    contents << in.rdbuf();
    if (in.bad()) return std::nullopt;

    const auto document = BoundedJson::parse(contents.str());
    if (!document.is_object()) return std::nullopt;
    for (const auto& item : document) {
        if (!item.is_string()) return std::nullopt;
    }
    const auto found = document.find(std::string(key));
    if (found == document.end()) return std::nullopt;
    std::string value = trimmed(found->get_ref<const std::string&>());
    if (value.empty()) return std::nullopt;
    return value;
}

}  // namespace velto
