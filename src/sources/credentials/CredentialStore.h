#pragma once

#include <optional>
#include <string>

namespace velto {

// Where the RoVOz API key comes from. Read on every request; reading never fails.
class CredentialStore {
  public:
    virtual ~CredentialStore() = default;
    virtual std::optional<std::string> chkszKey() const = 0;
};

}  // namespace velto
