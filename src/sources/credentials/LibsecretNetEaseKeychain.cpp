#include "sources/credentials/LibsecretNetEaseKeychain.h"

#include <system_error>
#include <utility>

#include "sources/credentials/LibsecretCall.h"

namespace velto {

LibsecretNetEaseKeychain::LibsecretNetEaseKeychain(std::string service, std::string account,
                                                   std::chrono::milliseconds callLimit)
    : service_(std::move(service)), account_(std::move(account)), callLimit_(callLimit) {}

bool LibsecretNetEaseKeychain::serviceReachable() const {
    return LibsecretCall(callLimit_).serviceReachable();
}

std::optional<std::string> LibsecretNetEaseKeychain::read() {
    if (!serviceReachable()) return std::nullopt;
    return LibsecretCall(callLimit_).lookup(service_, account_);
}

void LibsecretNetEaseKeychain::remove() {
    if (!serviceReachable()) return;
    LibsecretCall(callLimit_).clear(service_, account_);
}

void LibsecretNetEaseKeychain::add(const std::string& value) {
    if (!serviceReachable()) {
        throw std::system_error(std::make_error_code(std::errc::host_unreachable));
    }
    const std::string label = service_ + " (" + account_ + ")";
    if (auto failure = LibsecretCall(callLimit_).store(service_, account_, label, value)) {
        throw std::system_error(failure->code, std::system_category());
    }
}

}  // namespace velto
