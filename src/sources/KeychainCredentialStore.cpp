#include "sources/KeychainCredentialStore.h"

#include <gio/gio.h>
#include <libsecret/secret.h>

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <mutex>
#include <thread>

#include "foundation/Log.h"
#include "sources/JsonReading.h"

namespace velto {

namespace {

constexpr const char* secretsBusName = "org.freedesktop.secrets";
constexpr auto busCallLimit = std::chrono::seconds(3);
constexpr int busCallLimitMs = 3000;

const SecretSchema* passwordSchema() {
    static const SecretSchema schema = {
        "cn.quorvanel.velto.GenericPassword",
        SECRET_SCHEMA_DONT_MATCH_NAME,
        {
            {"service", SECRET_SCHEMA_ATTRIBUTE_STRING},
            {"account", SECRET_SCHEMA_ATTRIBUTE_STRING},
            {nullptr, SECRET_SCHEMA_ATTRIBUTE_STRING},
        },
    };
    return &schema;
}

struct ErrorDeleter {
    void operator()(GError* error) const { g_error_free(error); }
};
using ErrorPtr = std::unique_ptr<GError, ErrorDeleter>;

struct ObjectDeleter {
    void operator()(gpointer object) const { g_object_unref(object); }
};

// Cancels a GCancellable when a bus call takes too long: libsecret's sync calls would otherwise
// wait for the bus's own activation time-out.
class CallWatchdog {
  public:
    CallWatchdog() : cancellable_(g_cancellable_new()) {
        thread_ = std::jthread([this](std::stop_token finished) {
            std::mutex mutex;
            std::condition_variable_any wake;
            std::unique_lock lock(mutex);
            if (!wake.wait_for(lock, finished, busCallLimit, [] { return false; }) &&
                !finished.stop_requested()) {
                g_cancellable_cancel(cancellable_.get());
            }
        });
    }
    ~CallWatchdog() {
        thread_.request_stop();
        thread_.join();
    }
    GCancellable* cancellable() const { return cancellable_.get(); }

  private:
    std::unique_ptr<GCancellable, ObjectDeleter> cancellable_;
    std::jthread thread_;
};

bool sessionBusConfigured() {
    const char* address = std::getenv("DBUS_SESSION_BUS_ADDRESS");
    if (address && *address) return true;
    // Without an address GLib would try the runtime dir's socket, then X11 autolaunch; only
    // the socket is worth a try.
    const char* runtimeDir = std::getenv("XDG_RUNTIME_DIR");
    if (!runtimeDir || !*runtimeDir) return false;
    std::error_code error;
    return std::filesystem::exists(std::filesystem::path(runtimeDir) / "bus", error);
}

bool busNameAnswer(GDBusConnection* bus, const char* method, GVariant* parameters,
                   const GVariantType* replyType, GCancellable* cancellable, GVariant** reply) {
    GError* raw = nullptr;
    *reply = g_dbus_connection_call_sync(bus, "org.freedesktop.DBus", "/org/freedesktop/DBus",
                                         "org.freedesktop.DBus", method, parameters, replyType,
                                         G_DBUS_CALL_FLAGS_NONE, busCallLimitMs, cancellable, &raw);
    ErrorPtr error(raw);
    return *reply != nullptr;
}

// True when a secret service runs on the session bus or can be started by it.
bool secretServiceReachable(GCancellable* cancellable) {
    if (!sessionBusConfigured()) return false;
    GError* raw = nullptr;
    std::unique_ptr<GDBusConnection, ObjectDeleter> bus(
        g_bus_get_sync(G_BUS_TYPE_SESSION, cancellable, &raw));
    ErrorPtr error(raw);
    if (!bus) return false;

    GVariant* reply = nullptr;
    if (busNameAnswer(bus.get(), "NameHasOwner", g_variant_new("(s)", secretsBusName),
                      G_VARIANT_TYPE("(b)"), cancellable, &reply)) {
        gboolean owned = FALSE;
        g_variant_get(reply, "(b)", &owned);
        g_variant_unref(reply);
        if (owned) return true;
    }
    if (busNameAnswer(bus.get(), "ListActivatableNames", nullptr, G_VARIANT_TYPE("(as)"),
                      cancellable, &reply)) {
        GVariantIter* names = nullptr;
        const gchar* name = nullptr;
        bool activatable = false;
        g_variant_get(reply, "(as)", &names);
        while (g_variant_iter_next(names, "&s", &name)) {
            if (g_strcmp0(name, secretsBusName) == 0) activatable = true;
        }
        g_variant_iter_free(names);
        g_variant_unref(reply);
        return activatable;
    }
    return false;
}

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
    CallWatchdog watchdog;
    if (!secretServiceReachable(watchdog.cancellable())) return std::nullopt;

    const std::string accountText(account);
    GError* raw = nullptr;
    gchar* password =
        secret_password_lookup_sync(passwordSchema(), watchdog.cancellable(), &raw, "service",
                                    service_.c_str(), "account", accountText.c_str(), nullptr);
    ErrorPtr error(raw);
    if (error) {
        Log::info("credentials", std::string("secret service lookup failed: ") + error->message);
    }
    if (!password) return std::nullopt;
    std::optional<std::string> result;
    if (g_utf8_validate(password, -1, nullptr)) result = std::string(password);
    secret_password_free(password);
    return result;
}

void KeychainCredentialStore::write(const std::optional<std::string>& value,
                                    std::string_view account) const {
    CallWatchdog watchdog;
    const bool reachable = secretServiceReachable(watchdog.cancellable());
    const std::string accountText(account);

    if (reachable) {
        GError* raw = nullptr;
        secret_password_clear_sync(passwordSchema(), watchdog.cancellable(), &raw, "service",
                                   service_.c_str(), "account", accountText.c_str(), nullptr);
        ErrorPtr ignored(raw);
    }

    const std::string secret = trimmed(value.value_or(std::string()));
    if (secret.empty()) return;
    if (!reachable) throw WriteError("系统密钥服务不可用，无法保存第三方音源凭据");

    GError* raw = nullptr;
    const std::string label = "Velto " + service_ + " " + accountText;
    const gboolean stored =
        secret_password_store_sync(passwordSchema(), SECRET_COLLECTION_DEFAULT, label.c_str(),
                                   secret.c_str(), watchdog.cancellable(), &raw, "service",
                                   service_.c_str(), "account", accountText.c_str(), nullptr);
    ErrorPtr error(raw);
    if (!stored) {
        std::string message = "无法保存第三方音源凭据到系统密钥服务";
        if (error) message += std::string("：") + error->message;
        throw WriteError(message);
    }
}

}  // namespace velto
