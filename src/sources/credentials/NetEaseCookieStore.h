#pragma once

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "foundation/files/UserDefaults.h"
#include "sources/credentials/NetEaseKeychain.h"

namespace velto {

// Where the NetEase login (the value of the "MUSIC_U" cookie) comes from. Keeps nothing in
// memory: every lookup reads its sources afresh, so a saved value counts from the next request.
class NetEaseCookieStore {
  public:
    static constexpr std::string_view keychainService = "cn.quorvanel.velto.netease";
    static constexpr std::string_view keychainAccount = "MUSIC_U";
    static constexpr std::string_view defaultsKey = "velto.netease.cookie";
    static constexpr std::string_view environmentKey = "VELTO_NETEASE_COOKIE";
    static constexpr std::string_view preferBundledKey = "velto.netease.preferBundled";
    static constexpr std::string_view resourceFile = "BuildCredentials.json";

    using Environment = std::function<std::optional<std::string>(const std::string& name)>;

    // `defaults` may be null (no defaults source); `keychain` may be null (no item).
    NetEaseCookieStore(std::shared_ptr<UserDefaults> defaults,
                       std::shared_ptr<NetEaseKeychain> keychain, std::filesystem::path resourceDir,
                       Environment environment);

    // The secret-service item, the application's defaults file, the process environment and the
    // program's resource folder.
    static NetEaseCookieStore system(std::shared_ptr<UserDefaults> defaults);
    static Environment processEnvironment();

    // The cookie value to send, first match wins: the bundled token when the prefer-bundled
    // flag is set, the keychain item, the defaults text, the environment, the bundled token.
    // A value holding control characters would break the request header, so it counts as absent.
    std::optional<std::string> cookie() const;
    bool hasCookie() const { return cookie().has_value(); }

    // The bare value from a text that may be a whole pasted cookie line.
    static std::optional<std::string> normalized(const std::optional<std::string>& value);

    // False for a text with an ASCII control character, which would break a request header.
    static bool isHeaderSafe(std::string_view value);

    // Replaces the keychain item with the normalised value, or only removes it when that is
    // none. Throws when the keychain refuses the new item (the old one is gone by then).
    void save(const std::optional<std::string>& value) const;

  private:
    std::optional<std::string> bundledToken() const;
    std::optional<std::string> readKeychain() const;

    std::shared_ptr<UserDefaults> defaults_;
    std::shared_ptr<NetEaseKeychain> keychain_;
    std::filesystem::path resourceDir_;
    Environment environment_;
};

}  // namespace velto
