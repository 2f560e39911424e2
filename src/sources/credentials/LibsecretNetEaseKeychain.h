#pragma once

#include <chrono>
#include <string>

#include "sources/credentials/NetEaseKeychain.h"

namespace velto {

// The cookie item in the desktop's secret service (over D-Bus), as a generic password with the
// attributes service and account. Without a reachable secret service every read answers none;
// no call waits longer than `callLimit`.
class LibsecretNetEaseKeychain final : public NetEaseKeychain {
  public:
    LibsecretNetEaseKeychain(std::string service, std::string account,
                             std::chrono::milliseconds callLimit = std::chrono::seconds(5));

    std::optional<std::string> read() override;
    void remove() override;
    // Throws std::system_error whose code is the secret service's error code.
    void add(const std::string& value) override;

  private:
    bool serviceReachable() const;

    std::string service_;
    std::string account_;
    std::chrono::milliseconds callLimit_;
};

}  // namespace velto
