#include "sources/credentials/KeychainCredentialStore.h"

#include <chrono>

#include "foundation/Log.h"
#include "sources/model/JsonReading.h"
#include "sources/credentials/LibsecretCall.h"

namespace velto {

namespace {

constexpr auto busCallLimit = std::chrono::seconds(3);

}  // namespace

KeychainCredentialStore::KeychainCredentialStore(std::string service)
    : service_(std::move(service)) {}

std::optional<std::string> KeychainCredentialStore::chkszKey() const {
    return read(keyAccount);
}

void KeychainCredentialStore::setChkszKey(const std::optional<std::string>& value) const {
    write(value, keyAccount);
}

std::optional<std::string> KeychainCredentialStore::read(std::string_view account) const {
    LibsecretCall call(busCallLimit);
    if (!call.serviceReachable()) return std::nullopt;
    std::optional<LibsecretCall::Failure> failure;
    auto password = call.lookup(service_, std::string(account), &failure);
    if (failure) Log::info("credentials", "secret service lookup failed: " + failure->message);
    return password;
}

void KeychainCredentialStore::write(const std::optional<std::string>& value,
                                    std::string_view account) const {
    LibsecretCall call(busCallLimit);
    const bool reachable = call.serviceReachable();
    const std::string accountText(account);
    if (reachable) call.clear(service_, accountText);

    const std::string secret = trimmed(value.value_or(std::string()));
    if (secret.empty()) return;
    if (!reachable) throw WriteError("系统密钥服务不可用，无法保存第三方音源凭据");

    const std::string label = "Velto " + service_ + " " + accountText;
    if (auto failure = call.store(service_, accountText, label, secret)) {
        std::string message = "无法保存第三方音源凭据到系统密钥服务";
        if (!failure->message.empty()) message += "：" + failure->message;
        throw WriteError(message);
    }
}

}  // namespace velto
