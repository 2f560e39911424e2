#pragma once

#include <chrono>
#include <functional>
#include <mutex>
#include <optional>
#include <string>

namespace velto {

// Stops RoVOz requests for the rest of the run once the key was refused, and pauses them
// after rate limiting. Shared by every holder of the one API client; calls are serialised.
class ChkszCircuitBreaker {
  public:
    using Clock = std::function<std::chrono::steady_clock::time_point()>;

    explicit ChkszCircuitBreaker(Clock clock = [] { return std::chrono::steady_clock::now(); });

    bool disabled() const;
    std::optional<std::string> reason() const;

    void disable(std::string reason);
    // Starts or extends a pause of `seconds` clamped into 1...60; never shortens a running one.
    void deferAfterRateLimit(double seconds);
    // The message to fail a request with while requests are blocked; absent when one may go.
    std::optional<std::string> blockedMessage();

  private:
    Clock clock_;
    mutable std::mutex mutex_;
    bool disabled_ = false;
    std::optional<std::string> reason_;
    std::optional<std::chrono::steady_clock::time_point> rateLimitedUntil_;
};

}  // namespace velto
