#include "sources/credentials/LibsecretNetEaseKeychain.h"

#include <algorithm>
#include <system_error>
#include <utility>

#include "foundation/Log.h"
#include "sources/credentials/LibsecretCall.h"

namespace velto {

LibsecretNetEaseKeychain::LibsecretNetEaseKeychain(std::string service, std::string account,
                                                   std::chrono::milliseconds callLimit, Clock now)
    : service_(std::move(service)),
      account_(std::move(account)),
      callLimit_(callLimit),
      now_(std::move(now)) {}

std::optional<std::string> LibsecretNetEaseKeychain::read() {
    {
        std::lock_guard lock(quietMutex_);
        if (now_() < quietUntil_) return std::nullopt;
    }
    LibsecretCall call(callLimit_);
    std::optional<std::string> value;
    if (call.serviceReachable()) value = call.lookup(service_, account_);

    std::lock_guard lock(quietMutex_);
    const auto now = now_();
    if (!call.ranOut()) {
        nextQuiet_ = firstQuiet;
    } else if (now >= quietUntil_) {  // reads that ran out side by side are one silence
        quietUntil_ = now + nextQuiet_;
        const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(nextQuiet_);
        Log::info("credentials",
                  "the secret service let the cookie's read run out; not asked for " +
                      std::to_string(seconds.count()) + " s");
        nextQuiet_ = std::min(2 * nextQuiet_, longestQuiet);
    }
    return value;
}

void LibsecretNetEaseKeychain::remove() {
    LibsecretCall call(callLimit_);
    if (call.serviceReachable()) call.clear(service_, account_);
}

void LibsecretNetEaseKeychain::add(const std::string& value) {
    LibsecretCall call(callLimit_);
    if (!call.serviceReachable()) {
        throw std::system_error(std::make_error_code(std::errc::host_unreachable));
    }
    const std::string label = service_ + " (" + account_ + ")";
    if (auto failure = call.store(service_, account_, label, value)) {
        throw std::system_error(failure->code, std::system_category());
    }
}

}  // namespace velto
