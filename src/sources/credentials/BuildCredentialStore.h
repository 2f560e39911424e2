#pragma once

#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "sources/credentials/CredentialStore.h"

namespace velto {

// The key packaged with the program in the resource "BuildCredentials.json"; when that holds
// none, the fallback store's key (the keychain item), read once, at the first request: a
// secret service that does not answer then holds that request's worker, not the start-up.
class BuildCredentialStore : public CredentialStore {
  public:
    static constexpr std::string_view resourceName = "BuildCredentials.json";

    BuildCredentialStore(const std::filesystem::path& resourceDir,
                         std::shared_ptr<const CredentialStore> fallback);

    std::optional<std::string> chkszKey() const override;

    // A value of the resource file, trimmed; absent when the file is missing or unreadable,
    // is not a JSON object of texts only, lacks the key, or the value is blank.
    static std::optional<std::string> readValue(const std::filesystem::path& file,
                                                std::string_view key);

  private:
    mutable std::once_flag fallbackRead_;
    mutable std::shared_ptr<const CredentialStore> fallback_;
    mutable std::optional<std::string> key_;
};

}  // namespace velto
