#include "sources/rovoz/ChkszCircuitBreaker.h"

namespace velto {

ChkszCircuitBreaker::ChkszCircuitBreaker(Clock clock) : clock_(std::move(clock)) {}

bool ChkszCircuitBreaker::disabled() const {
    std::lock_guard lock(mutex_);
    return disabled_;
}

std::optional<std::string> ChkszCircuitBreaker::reason() const {
    std::lock_guard lock(mutex_);
    return reason_;
}

void ChkszCircuitBreaker::disable(std::string reason) {
    std::lock_guard lock(mutex_);
    disabled_ = true;
    reason_ = std::move(reason);
}

void ChkszCircuitBreaker::deferAfterRateLimit(double seconds) {
    // NaN fails both comparisons; it counts as the shortest pause.
    double pause = seconds > 1.0 ? seconds : 1.0;
    if (pause > 60.0) pause = 60.0;
    std::lock_guard lock(mutex_);
    const auto candidate =
        clock_() + std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                       std::chrono::duration<double>(pause));
    if (!rateLimitedUntil_ || candidate > *rateLimitedUntil_) rateLimitedUntil_ = candidate;
}

std::optional<std::string> ChkszCircuitBreaker::blockedMessage() {
    std::lock_guard lock(mutex_);
    if (disabled_) return "RoVOz 已停用（" + reason_.value_or("未知原因") + "）";
    if (rateLimitedUntil_) {
        if (*rateLimitedUntil_ > clock_()) return std::string("RoVOz 限流冷却中（HTTP 429）");
        rateLimitedUntil_.reset();
    }
    return std::nullopt;
}

}  // namespace velto
