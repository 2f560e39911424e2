#pragma once

#include <chrono>
#include <functional>
#include <mutex>
#include <string>

#include "sources/credentials/NetEaseKeychain.h"

namespace velto {

// The cookie item in the desktop's secret service (over D-Bus), as a generic password with the
// attributes service and account. Without a reachable secret service every read answers none;
// no call waits longer than `callLimit`. The cookie is read at every network song's change: a
// service that let a read run out its limit (hung, or waiting on an unlock nobody answers) is
// not asked again for `firstQuiet`, doubled at each further silence up to `longestQuiet`, and
// the reads meanwhile answer none at once.
class LibsecretNetEaseKeychain final : public NetEaseKeychain {
  public:
    using Clock = std::function<std::chrono::steady_clock::time_point()>;
    static constexpr std::chrono::steady_clock::duration firstQuiet = std::chrono::minutes(1);
    static constexpr std::chrono::steady_clock::duration longestQuiet = std::chrono::minutes(16);

    LibsecretNetEaseKeychain(std::string service, std::string account,
                             std::chrono::milliseconds callLimit = std::chrono::seconds(5),
                             Clock now = std::chrono::steady_clock::now);

    std::optional<std::string> read() override;
    void remove() override;
    // Throws std::system_error whose code is the secret service's error code.
    void add(const std::string& value) override;

  private:
    std::string service_;
    std::string account_;
    std::chrono::milliseconds callLimit_;
    Clock now_;
    std::mutex quietMutex_;
    std::chrono::steady_clock::time_point quietUntil_{};
    std::chrono::steady_clock::duration nextQuiet_ = firstQuiet;
};

}  // namespace velto
