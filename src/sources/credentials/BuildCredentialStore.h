#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "sources/credentials/CredentialStore.h"

namespace velto {

// The key packaged with the program in the resource "BuildCredentials.json"; when that holds
// none, the fallback store's key (the keychain item), read once at construction: the fallback
// is not kept, so a key stored later is seen only after the next start.
class BuildCredentialStore : public CredentialStore {
  public:
    static constexpr std::string_view resourceName = "BuildCredentials.json";

    // Reads the resource from Paths::resourceDir().
    explicit BuildCredentialStore(const CredentialStore* fallback = nullptr);
    BuildCredentialStore(const std::filesystem::path& resourceDir, const CredentialStore* fallback);

    std::optional<std::string> chkszKey() const override { return key_; }

    // A value of the resource file, trimmed; absent when the file is missing or unreadable,
    // is not a JSON object of texts only, lacks the key, or the value is blank.
    static std::optional<std::string> readValue(const std::filesystem::path& file,
                                                std::string_view key);

  private:
    std::optional<std::string> key_;
};

}  // namespace velto
