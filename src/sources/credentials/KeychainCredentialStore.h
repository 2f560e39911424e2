#pragma once

#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

#include "sources/credentials/CredentialStore.h"

namespace velto {

// The key from the desktop's secret service (libsecret): a password item with the attributes
// service and account. Without a reachable secret service a read gives absent at once and a
// write fails; no call waits on the bus for more than a few seconds.
class KeychainCredentialStore : public CredentialStore {
  public:
    static constexpr std::string_view defaultService = "cn.quorvanel.velto.credentials";
    static constexpr std::string_view keyAccount = "chkszKey";

    class WriteError : public std::runtime_error {
      public:
        using std::runtime_error::runtime_error;
    };

    explicit KeychainCredentialStore(std::string service = std::string(defaultService));

    const std::string& service() const { return service_; }

    // Read at every access.
    std::optional<std::string> chkszKey() const override;
    // Stores the trimmed key; an absent or blank key only removes the item. Throws WriteError.
    void setChkszKey(const std::optional<std::string>& value) const;

    // The item of this service and `account`: absent when missing, unreadable or not UTF-8.
    std::optional<std::string> read(std::string_view account) const;
    // Removes the item, then adds the trimmed value unless it is blank. Throws WriteError when
    // the value cannot be stored.
    void write(const std::optional<std::string>& value, std::string_view account) const;

  private:
    std::string service_;
};

}  // namespace velto
