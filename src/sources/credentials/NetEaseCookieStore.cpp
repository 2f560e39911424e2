#include "sources/credentials/NetEaseCookieStore.h"

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <nlohmann/json.hpp>
#include <utility>

#include "foundation/text/BoundedJson.h"
#include "foundation/files/Paths.h"
#include "sources/model/JsonReading.h"
#include "sources/credentials/LibsecretNetEaseKeychain.h"

namespace velto {
namespace {

std::optional<std::string> usable(std::optional<std::string> value) {
    if (!value || value->empty() || !NetEaseCookieStore::isHeaderSafe(*value)) return std::nullopt;
    return value;
}

std::optional<std::string> trimmedNonEmpty(const std::optional<std::string>& value) {
    if (!value) return std::nullopt;
    return usable(trimmed(*value));
}

}  // namespace

bool NetEaseCookieStore::isHeaderSafe(std::string_view value) {
    for (char ch : value) {
        auto byte = static_cast<unsigned char>(ch);
        if (byte < 0x20 || byte == 0x7F) return false;
    }
    return true;
}

NetEaseCookieStore::NetEaseCookieStore(std::shared_ptr<UserDefaults> defaults,
                                       std::shared_ptr<NetEaseKeychain> keychain,
                                       std::filesystem::path resourceDir, Environment environment)
    : defaults_(std::move(defaults)),
      keychain_(std::move(keychain)),
      resourceDir_(std::move(resourceDir)),
      environment_(std::move(environment)) {}

NetEaseCookieStore NetEaseCookieStore::system(std::shared_ptr<UserDefaults> defaults) {
    auto keychain = std::make_shared<LibsecretNetEaseKeychain>(std::string(keychainService),
                                                               std::string(keychainAccount));
    return NetEaseCookieStore(std::move(defaults), std::move(keychain), Paths::resourceDir(),
                              processEnvironment());
}

NetEaseCookieStore::Environment NetEaseCookieStore::processEnvironment() {
    return [](const std::string& name) -> std::optional<std::string> {
        const char* value = std::getenv(name.c_str());
        if (!value) return std::nullopt;
        return std::string(value);
    };
}

std::optional<std::string> NetEaseCookieStore::cookie() const {
    const std::string preferKey(preferBundledKey);
    if (defaults_ && defaults_->boolValue(preferKey).value_or(false)) {
        if (auto token = bundledToken()) return token;
    }
    if (auto stored = usable(readKeychain())) return stored;
    if (defaults_) {
        if (auto text = trimmedNonEmpty(defaults_->stringValue(std::string(defaultsKey)))) {
            return text;
        }
    }
    if (environment_) {
        if (auto text = trimmedNonEmpty(environment_(std::string(environmentKey)))) return text;
    }
    return bundledToken();
}

std::optional<std::string> NetEaseCookieStore::normalized(const std::optional<std::string>& value) {
    if (!value) return std::nullopt;
    std::string text = trimmed(*value);
    if (text.empty()) return std::nullopt;
    static constexpr std::string_view marker = "MUSIC_U=";
    auto start = text.find(marker);
    if (start == std::string::npos) return usable(std::move(text));
    start += marker.size();
    auto end = text.find(';', start);
    std::string_view rest(text);
    rest = rest.substr(start, end == std::string::npos ? std::string_view::npos : end - start);
    return usable(trimmed(rest));
}

void NetEaseCookieStore::save(const std::optional<std::string>& value) const {
    auto bare = normalized(value);
    if (!keychain_) return;
    keychain_->remove();
    if (!bare) return;
    keychain_->add(*bare);
}

std::optional<std::string> NetEaseCookieStore::bundledToken() const {
    std::ifstream file(resourceDir_ / resourceFile, std::ios::binary);
    if (!file) return std::nullopt;
    std::string text((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    if (file.bad()) return std::nullopt;
    auto json = BoundedJson::parse(text);
    if (!json.is_object()) return std::nullopt;
    auto token = json.find("wyToken");
    if (token == json.end() || !token->is_string()) return std::nullopt;
    return normalized(token->get<std::string>());
}

std::optional<std::string> NetEaseCookieStore::readKeychain() const {
    if (!keychain_) return std::nullopt;
    return keychain_->read();
}

}  // namespace velto
