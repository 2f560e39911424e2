#include <gio/gio.h>
#include <gtest/gtest.h>
#include <signal.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
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

// A secret service on a bus of its own that takes every call and answers none, or, while told
// to, refuses them at once.
class StandInSecretService {
  public:
    StandInSecretService() {
        const std::string start =
            "dbus-daemon --session --fork --print-address=1 --print-pid=1 "
            "--address=unix:dir=" +
            socketDir_.path().string();
        char address[512] = {}, pid[32] = {};
        if (FILE* daemon = popen(start.c_str(), "r")) {
            if (std::fgets(address, sizeof address, daemon) && std::fgets(pid, sizeof pid, daemon))
                daemonPid_ = std::atoi(pid);
            pclose(daemon);
        }
        address[std::strcspn(address, "\n")] = 0;
        connection_ = g_dbus_connection_new_for_address_sync(
            address,
            GDBusConnectionFlags(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                 G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
            nullptr, nullptr, nullptr);
        if (!connection_) return;
        g_dbus_connection_add_filter(connection_, &StandInSecretService::filter, this, nullptr);
        GVariant* reply = g_dbus_connection_call_sync(
            connection_, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
            "RequestName", g_variant_new("(su)", "org.freedesktop.secrets", 0u), nullptr,
            G_DBUS_CALL_FLAGS_NONE, -1, nullptr, nullptr);
        if (!reply) return;
        g_variant_unref(reply);
        setenv("DBUS_SESSION_BUS_ADDRESS", address, 1);
        owned_ = true;
    }
    ~StandInSecretService() {
        if (connection_) g_object_unref(connection_);
        if (daemonPid_ > 0) kill(daemonPid_, SIGTERM);
    }
    bool owned() const { return owned_; }
    int calls() const { return calls_; }
    void refuse(bool refusing) { refusing_ = refusing; }

  private:
    static GDBusMessage* filter(GDBusConnection*, GDBusMessage* message, gboolean incoming,
                                gpointer self) {
        auto* service = static_cast<StandInSecretService*>(self);
        if (!incoming ||
            g_dbus_message_get_message_type(message) != G_DBUS_MESSAGE_TYPE_METHOD_CALL)
            return message;
        ++service->calls_;
        if (service->refusing_) return message;  // no object: the connection answers an error
        g_object_unref(message);
        return nullptr;
    }

    TempDir socketDir_;
    GDBusConnection* connection_ = nullptr;
    int daemonPid_ = 0;
    bool owned_ = false;
    std::atomic<int> calls_ = 0;
    std::atomic<bool> refusing_ = false;
};

// The cookie is read at every network song's change. A service that lets a read run out its
// limit is left alone for a while, longer at each silence, and asked at once again after it
// answers. In a fresh process: GLib keeps the first bus it reaches for the process's life.
bool readsFromASilentService() {
    StandInSecretService service;
    if (!service.owned()) return false;
    auto now = std::chrono::steady_clock::time_point() + std::chrono::hours(1);
    LibsecretNetEaseKeychain keychain("cn.quorvanel.velto.netease.test", "MUSIC_U",
                                      std::chrono::milliseconds(100), [&now] { return now; });
    const auto quiet = LibsecretNetEaseKeychain::firstQuiet;
    const auto asksOnRead = [&] {
        const int before = service.calls();
        return !keychain.read() && service.calls() > before;
    };
    bool ok = asksOnRead() && !asksOnRead();
    now += quiet - std::chrono::seconds(1);
    ok = ok && !asksOnRead();
    now += std::chrono::seconds(1);
    ok = ok && asksOnRead();  // silent again: twice as long now
    now += quiet;
    ok = ok && !asksOnRead();
    now += quiet;
    service.refuse(true);
    ok = ok && asksOnRead() && asksOnRead();
    // An answer starts the count of silences afresh.
    service.refuse(false);
    ok = ok && asksOnRead();
    now += quiet;
    return ok && asksOnRead();
}

TEST(LibsecretNetEaseKeychainTest, ASilentServiceIsNotAskedAgainForAWhile) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(std::exit(readsFromASilentService() ? 0 : 1), ::testing::ExitedWithCode(0), "");
}

}  // namespace
}  // namespace velto
