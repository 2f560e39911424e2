#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <map>

#include "sources/credentials/LibsecretNetEaseKeychain.h"
#include "sources/credentials/NetEaseCookieStore.h"
#include "support/InMemoryNetEaseKeychain.h"
#include "support/TempDir.h"
#include "support/ThreadStarts.h"

namespace velto {
namespace {

class NetEaseCookieStoreTest : public ::testing::Test {
  protected:
    NetEaseCookieStoreTest()
        : defaults(std::make_shared<UserDefaults>(dir.path() / "defaults.json")),
          keychain(std::make_shared<InMemoryNetEaseKeychain>()) {}

    NetEaseCookieStore store() {
        return NetEaseCookieStore(defaults, keychain, dir.path(),
                                  [this](const std::string& name) -> std::optional<std::string> {
                                      auto it = environment.find(name);
                                      if (it == environment.end()) return std::nullopt;
                                      return it->second;
                                  });
    }

    void writeResource(const std::string& text) {
        std::ofstream(dir.path() / "BuildCredentials.json") << text;
    }

    TempDir dir;
    std::shared_ptr<UserDefaults> defaults;
    std::shared_ptr<InMemoryNetEaseKeychain> keychain;
    std::map<std::string, std::string> environment;
};

TEST(NetEaseCookieNormalizedTest, TakesTheValueOutOfACookieLine) {
    EXPECT_EQ(NetEaseCookieStore::normalized("  __csrf=x; MUSIC_U= abc123 ; os=ios\n"), "abc123");
    EXPECT_EQ(NetEaseCookieStore::normalized("MUSIC_U=abc123"), "abc123");
    // Only the first occurrence counts, and the marker is case-sensitive.
    EXPECT_EQ(NetEaseCookieStore::normalized("MUSIC_U=one; MUSIC_U=two"), "one");
    EXPECT_EQ(NetEaseCookieStore::normalized("music_u=abc; x=y"), "music_u=abc; x=y");
}

TEST(NetEaseCookieNormalizedTest, KeepsATextWithoutTheMarkerWhole) {
    EXPECT_EQ(NetEaseCookieStore::normalized("\t bare;value \r\n"), "bare;value");
    // Full-width spaces from a pasted line are trimmed too.
    EXPECT_EQ(NetEaseCookieStore::normalized("\u3000token\u00a0"), "token");
}

TEST(NetEaseCookieNormalizedTest, EmptyResultsGiveNone) {
    EXPECT_EQ(NetEaseCookieStore::normalized(std::nullopt), std::nullopt);
    EXPECT_EQ(NetEaseCookieStore::normalized("   \n "), std::nullopt);
    EXPECT_EQ(NetEaseCookieStore::normalized("MUSIC_U=;os=ios"), std::nullopt);
    EXPECT_EQ(NetEaseCookieStore::normalized("MUSIC_U=  "), std::nullopt);
}

TEST(NetEaseCookieNormalizedTest, RefusesControlCharactersInsideTheValue) {
    EXPECT_EQ(NetEaseCookieStore::normalized("abc\r\nX-Injected: 1"), std::nullopt);
    EXPECT_EQ(NetEaseCookieStore::normalized("MUSIC_U=ab\x01"
                                             "c; os=ios"),
              std::nullopt);
    EXPECT_EQ(NetEaseCookieStore::normalized("ab\x7f"), std::nullopt);
}

TEST_F(NetEaseCookieStoreTest, LooksUpKeychainThenDefaultsThenEnvironmentThenBundle) {
    keychain->item = "fromKeychain";
    defaults->setString("velto.netease.cookie", "  fromDefaults \n");
    environment["VELTO_NETEASE_COOKIE"] = " fromEnvironment ";
    writeResource(R"({"wyToken": "MUSIC_U=fromBundle; os=ios", "chkszKey": "k"})");

    EXPECT_EQ(store().cookie(), "fromKeychain");
    keychain->item.reset();
    EXPECT_EQ(store().cookie(), "fromDefaults");
    defaults->remove("velto.netease.cookie");
    EXPECT_EQ(store().cookie(), "fromEnvironment");
    environment.clear();
    EXPECT_EQ(store().cookie(), "fromBundle");
    std::filesystem::remove(dir.path() / "BuildCredentials.json");
    EXPECT_EQ(store().cookie(), std::nullopt);
    EXPECT_FALSE(store().hasCookie());
}

TEST_F(NetEaseCookieStoreTest, KeychainValueIsUsedAsStoredButDefaultsAndEnvironmentAreTrimmed) {
    keychain->item = " spaced value ";
    EXPECT_EQ(store().cookie(), " spaced value ");
    keychain->item.reset();
    // The defaults text is only trimmed, never taken apart.
    defaults->setString("velto.netease.cookie", " MUSIC_U=x; os=ios ");
    EXPECT_EQ(store().cookie(), "MUSIC_U=x; os=ios");
}

TEST_F(NetEaseCookieStoreTest, SkipsEmptyAndBlankSources) {
    keychain->item = "";
    defaults->setString("velto.netease.cookie", "   ");
    environment["VELTO_NETEASE_COOKIE"] = "fromEnvironment";
    EXPECT_EQ(store().cookie(), "fromEnvironment");
    environment["VELTO_NETEASE_COOKIE"] = " \t";
    EXPECT_EQ(store().cookie(), std::nullopt);
}

TEST_F(NetEaseCookieStoreTest, SourcesWithControlCharactersCountAsAbsent) {
    keychain->item = "stored\r\nX-Injected: 1";
    defaults->setString("velto.netease.cookie", "a\nb");
    environment["VELTO_NETEASE_COOKIE"] = "clean";
    EXPECT_EQ(store().cookie(), "clean");
    environment.clear();
    writeResource(R"({"wyToken": "bund\u0000led"})");
    EXPECT_EQ(store().cookie(), std::nullopt);
}

TEST_F(NetEaseCookieStoreTest, PreferBundledFlagPutsTheResourceFirst) {
    keychain->item = "fromKeychain";
    writeResource(R"({"wyToken": " fromBundle "})");
    defaults->setBool("velto.netease.preferBundled", true);
    EXPECT_EQ(store().cookie(), "fromBundle");

    // Without a usable token the flag changes nothing.
    writeResource(R"({"wyToken": "MUSIC_U=;"})");
    EXPECT_EQ(store().cookie(), "fromKeychain");
    writeResource(R"({"wyToken": 42})");
    EXPECT_EQ(store().cookie(), "fromKeychain");
    writeResource("not json");
    EXPECT_EQ(store().cookie(), "fromKeychain");
    writeResource(R"(["wyToken"])");
    EXPECT_EQ(store().cookie(), "fromKeychain");

    // A flag stored as another type counts as off.
    writeResource(R"({"wyToken": "fromBundle"})");
    defaults->setString("velto.netease.preferBundled", "true");
    EXPECT_EQ(store().cookie(), "fromKeychain");
}

TEST_F(NetEaseCookieStoreTest, ReadsEverySourceAfreshOnEachLookup) {
    auto cookieStore = store();
    EXPECT_EQ(cookieStore.cookie(), std::nullopt);
    keychain->item = "later";
    EXPECT_EQ(cookieStore.cookie(), "later");
    EXPECT_EQ(keychain->reads, 2);
}

TEST_F(NetEaseCookieStoreTest, SaveStoresTheNormalisedValueOrRemovesTheItem) {
    auto cookieStore = store();
    cookieStore.save(" a=b; MUSIC_U=secret42; os=ios ");
    EXPECT_EQ(keychain->item, "secret42");
    EXPECT_EQ(cookieStore.cookie(), "secret42");

    cookieStore.save(std::nullopt);
    EXPECT_EQ(keychain->item, std::nullopt);
    environment["VELTO_NETEASE_COOKIE"] = "fromEnvironment";
    EXPECT_EQ(cookieStore.cookie(), "fromEnvironment");

    keychain->item = "old";
    cookieStore.save("MUSIC_U=; os=ios");
    EXPECT_EQ(keychain->item, std::nullopt);
    keychain->item = "old";
    cookieStore.save("new\r\nX-Injected: 1");
    EXPECT_EQ(keychain->item, std::nullopt);
}

TEST_F(NetEaseCookieStoreTest, FailedSaveThrowsAndLeavesNoItem) {
    keychain->item = "old";
    keychain->refuseAdds = true;
    EXPECT_ANY_THROW(store().save("new"));
    EXPECT_EQ(keychain->item, std::nullopt);
}

TEST(LibsecretNetEaseKeychainTest, WithoutASessionBusThereIsNoItemAndNoWait) {
    const char* previous = std::getenv("DBUS_SESSION_BUS_ADDRESS");
    std::optional<std::string> saved =
        previous ? std::optional<std::string>(previous) : std::nullopt;
    unsetenv("DBUS_SESSION_BUS_ADDRESS");
    LibsecretNetEaseKeychain keychain("cn.quorvanel.velto.netease.test", "MUSIC_U");
    EXPECT_EQ(keychain.read(), std::nullopt);
    EXPECT_NO_THROW(keychain.remove());
    EXPECT_THROW(keychain.add("value"), std::system_error);

    // A bus address that leads nowhere is no secret service either.
    setenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/velto-test-bus", 1);
    EXPECT_EQ(keychain.read(), std::nullopt);
    // A read is made at each network song's change: its calls' time limits start no thread.
    const auto started = threadsStarted();
    for (int read = 0; read < 3; ++read) EXPECT_EQ(keychain.read(), std::nullopt);
    EXPECT_EQ(threadsStarted(), started);
    if (saved) {
        setenv("DBUS_SESSION_BUS_ADDRESS", saved->c_str(), 1);
    } else {
        unsetenv("DBUS_SESSION_BUS_ADDRESS");
    }
}

}  // namespace
}  // namespace velto
