#include <gtest/gtest.h>
#include <stdlib.h>

#include <fstream>

#include "sources/credentials/BuildCredentialStore.h"
#include "sources/rovoz/ChkszBaseURL.h"
#include "sources/credentials/InMemoryCredentialStore.h"
#include "sources/credentials/KeychainCredentialStore.h"
#include "sources/credentials/LibsecretCall.h"
#include "support/TempDir.h"

namespace velto {
namespace {

class BuildCredentialStoreTest : public ::testing::Test {
  protected:
    TempDir dir;
    std::shared_ptr<const CredentialStore> keychain =
        std::make_shared<InMemoryCredentialStore>("keychain-key");

    void writeResource(const std::string& text) {
        std::ofstream(dir.path() / "BuildCredentials.json", std::ios::binary) << text;
    }
    std::optional<std::string> key(std::shared_ptr<const CredentialStore> fallback) {
        return BuildCredentialStore(dir.path(), fallback).chkszKey();
    }
};

TEST_F(BuildCredentialStoreTest, ResourceKeyIsTrimmedAndWins) {
    writeResource(R"({"chkszKey": " \n abc123\t\n", "wyToken": "x"})");
    EXPECT_EQ(key(keychain), "abc123");
}

TEST_F(BuildCredentialStoreTest, BlankOrMissingKeyFallsBackToTheKeychainUntrimmed) {
    writeResource(R"({"chkszKey": "   \u3000"})");
    EXPECT_EQ(key(std::make_shared<InMemoryCredentialStore>("  stored as is ")), "  stored as is ");
    writeResource(R"({"wyToken": "cookie"})");
    EXPECT_EQ(key(keychain), "keychain-key");
}

TEST_F(BuildCredentialStoreTest, OneValueThatIsNoTextSpoilsTheWholeFile) {
    writeResource(R"({"chkszKey": "abc", "count": 3})");
    EXPECT_EQ(key(keychain), "keychain-key");
    writeResource(R"(["chkszKey", "abc"])");
    EXPECT_EQ(key(keychain), "keychain-key");
    writeResource("{\"chkszKey\": \"abc\"");  // cut short
    EXPECT_EQ(key(keychain), "keychain-key");
}

TEST_F(BuildCredentialStoreTest, NoResourceAndNoFallbackGivesNothing) {
    EXPECT_EQ(key(nullptr), std::nullopt);
    EXPECT_EQ(key(std::make_shared<InMemoryCredentialStore>()), std::nullopt);
}

// Made on the main thread at start-up; a secret service that does not answer may only hold
// the worker of the first request.
TEST_F(BuildCredentialStoreTest, FallbackIsReadOnceAtTheFirstRequest) {
    struct CountingStore : CredentialStore {
        mutable int reads = 0;
        std::optional<std::string> chkszKey() const override {
            ++reads;
            return "k";
        }
    };
    auto counting = std::make_shared<CountingStore>();
    BuildCredentialStore store(dir.path(), counting);
    EXPECT_EQ(counting->reads, 0);
    EXPECT_EQ(store.chkszKey(), "k");
    EXPECT_EQ(store.chkszKey(), "k");
    EXPECT_EQ(counting->reads, 1);
}

class ChkszBaseURLTest : public BuildCredentialStoreTest {
  protected:
    void TearDown() override { unsetenv("VELTO_ROVOZ_BASE_URL"); }
};

TEST_F(ChkszBaseURLTest, OnlyHTTPSOriginsCount) {
    EXPECT_EQ(chkszHTTPSOrigin("https://api.example.com"), "https://api.example.com");
    EXPECT_EQ(chkszHTTPSOrigin(" HTTPS://api.example.com:8443/ "), "https://api.example.com:8443");
    EXPECT_EQ(chkszHTTPSOrigin("http://api.example.com"), std::nullopt);
    EXPECT_EQ(chkszHTTPSOrigin("https://api.example.com/v1"), std::nullopt);
    EXPECT_EQ(chkszHTTPSOrigin("https://user@api.example.com"), std::nullopt);
    EXPECT_EQ(chkszHTTPSOrigin("https://"), std::nullopt);
    EXPECT_EQ(chkszHTTPSOrigin("api.example.com"), std::nullopt);
}

TEST_F(ChkszBaseURLTest, EnvironmentFirstThenTheResource) {
    unsetenv("VELTO_ROVOZ_BASE_URL");
    EXPECT_EQ(configuredChkszBaseURL(dir.path()), std::nullopt);

    writeResource(R"({"chkszKey": "k", "chkszBaseURL": "https://bundled.example/"})");
    EXPECT_EQ(configuredChkszBaseURL(dir.path()), "https://bundled.example");

    setenv("VELTO_ROVOZ_BASE_URL", "https://override.example", 1);
    EXPECT_EQ(configuredChkszBaseURL(dir.path()), "https://override.example");

    // A malformed override is ignored rather than sending the key somewhere unintended.
    setenv("VELTO_ROVOZ_BASE_URL", "http://plain.example", 1);
    EXPECT_EQ(configuredChkszBaseURL(dir.path()), "https://bundled.example");
}

// The keychain tests run in a fresh process (GLib keeps its bus connection per process) with
// the environment each case needs.
class KeychainCredentialStoreTest : public ::testing::Test {
  protected:
    void SetUp() override { GTEST_FLAG_SET(death_test_style, "threadsafe"); }
};

// With no bus at all, reading answers absent and writing fails, both without waiting.
void exerciseWithoutSecretService() {
    KeychainCredentialStore store("cn.quorvanel.velto.tests");
    bool ok = store.service() == "cn.quorvanel.velto.tests" && !store.chkszKey();
    try {
        store.setChkszKey("new-key");
        ok = false;
    } catch (const KeychainCredentialStore::WriteError& error) {
        ok = ok && std::string(error.what()).find("系统密钥服务") != std::string::npos;
    }
    // Removing needs no service: nothing to remove, nothing fails.
    store.setChkszKey("   ");
    store.setChkszKey(std::nullopt);
    std::exit(ok ? 0 : 1);
}

TEST_F(KeychainCredentialStoreTest, UnreachableBusGivesAbsentAndRefusesWrites) {
    EXPECT_EXIT(
        {
            setenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/velto-test-bus", 1);
            exerciseWithoutSecretService();
        },
        ::testing::ExitedWithCode(0), "");
}

TEST_F(KeychainCredentialStoreTest, NoBusConfiguredGivesAbsentAndRefusesWrites) {
    EXPECT_EXIT(
        {
            unsetenv("DBUS_SESSION_BUS_ADDRESS");
            unsetenv("XDG_RUNTIME_DIR");
            unsetenv("DISPLAY");
            exerciseWithoutSecretService();
        },
        ::testing::ExitedWithCode(0), "");
}

// Both secret stores find the bus the same way: its address, else the runtime dir's socket.
void exitWithBusLookups(const std::string& withBus, const std::string& withoutBus) {
    unsetenv("DBUS_SESSION_BUS_ADDRESS");
    setenv("XDG_RUNTIME_DIR", withBus.c_str(), 1);
    bool ok = LibsecretCall::sessionBusConfigured();
    setenv("XDG_RUNTIME_DIR", withoutBus.c_str(), 1);
    ok = ok && !LibsecretCall::sessionBusConfigured();
    setenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/bus", 1);
    std::exit(ok && LibsecretCall::sessionBusConfigured() ? 0 : 1);
}

TEST_F(KeychainCredentialStoreTest, SessionBusIsTheAddressOrTheRuntimeSocket) {
    TempDir withBus, withoutBus;
    std::ofstream(withBus.path() / "bus").put('\n');
    EXPECT_EXIT(exitWithBusLookups(withBus.path().string(), withoutBus.path().string()),
                ::testing::ExitedWithCode(0), "");
}

// The test environment (a private session bus without a secret service) must behave the same.
TEST_F(KeychainCredentialStoreTest, SessionBusWithoutSecretServiceGivesAbsent) {
    if (!std::getenv("DBUS_SESSION_BUS_ADDRESS")) GTEST_SKIP() << "no session bus in this run";
    EXPECT_EXIT(
        {
            KeychainCredentialStore store("cn.quorvanel.velto.tests");
            std::exit(store.chkszKey() ? 1 : 0);
        },
        ::testing::ExitedWithCode(0), "");
}

}  // namespace
}  // namespace velto
