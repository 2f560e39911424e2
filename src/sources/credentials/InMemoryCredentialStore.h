#pragma once

#include <optional>
#include <string>
#include <utility>

#include "sources/credentials/CredentialStore.h"

namespace velto {

class InMemoryCredentialStore : public CredentialStore {
  public:
    explicit InMemoryCredentialStore(std::optional<std::string> key = std::nullopt)
        : key_(std::move(key)) {}
    std::optional<std::string> chkszKey() const override { return key_; }

  private:
    std::optional<std::string> key_;
};

}  // namespace velto
