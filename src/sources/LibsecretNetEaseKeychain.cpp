#include "sources/LibsecretNetEaseKeychain.h"

#include <gio/gio.h>
#include <libsecret/secret.h>

#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <system_error>
#include <thread>
#include <utility>

namespace velto {
namespace {

constexpr const char* secretsBusName = "org.freedesktop.secrets";

const SecretSchema* schema() {
    static const SecretSchema value = {
        "cn.quorvanel.velto.GenericPassword",
        SECRET_SCHEMA_DONT_MATCH_NAME,
        {
            {"service", SECRET_SCHEMA_ATTRIBUTE_STRING},
            {"account", SECRET_SCHEMA_ATTRIBUTE_STRING},
            {nullptr, SecretSchemaAttributeType(0)},
        },
    };
    return &value;
}

// Cancels its GCancellable when the call it guards outlives the limit, so that a secret
// service that accepts the connection but never answers cannot block the caller.
class CallWatchdog {
  public:
    explicit CallWatchdog(std::chrono::milliseconds limit) : cancellable_(g_cancellable_new()) {
        thread_ = std::thread([this, limit] {
            std::unique_lock lock(mutex_);
            if (!cv_.wait_for(lock, limit, [this] { return done_; })) {
                g_cancellable_cancel(cancellable_);
            }
        });
    }
    ~CallWatchdog() {
        {
            std::lock_guard lock(mutex_);
            done_ = true;
        }
        cv_.notify_all();
        thread_.join();
        g_object_unref(cancellable_);
    }
    CallWatchdog(const CallWatchdog&) = delete;
    CallWatchdog& operator=(const CallWatchdog&) = delete;

    GCancellable* cancellable() const { return cancellable_; }

  private:
    GCancellable* cancellable_;
    std::mutex mutex_;
    std::condition_variable cv_;
    bool done_ = false;
    std::thread thread_;
};

struct ErrorHolder {
    GError* error = nullptr;
    ~ErrorHolder() {
        if (error) g_error_free(error);
    }
};

bool busCallAnswersTrue(GDBusConnection* bus, const char* method, GCancellable* cancellable,
                        int timeoutMs) {
    ErrorHolder error;
    GVariant* reply = g_dbus_connection_call_sync(
        bus, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus", method,
        std::strcmp(method, "NameHasOwner") == 0 ? g_variant_new("(s)", secretsBusName) : nullptr,
        nullptr, G_DBUS_CALL_FLAGS_NONE, timeoutMs, cancellable, &error.error);
    if (!reply) return false;
    bool answer = false;
    if (g_variant_is_of_type(reply, G_VARIANT_TYPE("(b)"))) {
        gboolean owned = FALSE;
        g_variant_get(reply, "(b)", &owned);
        answer = owned;
    } else if (g_variant_is_of_type(reply, G_VARIANT_TYPE("(as)"))) {
        GVariantIter* names = nullptr;
        g_variant_get(reply, "(as)", &names);
        const gchar* name = nullptr;
        while (g_variant_iter_next(names, "&s", &name)) {
            if (std::strcmp(name, secretsBusName) == 0) answer = true;
        }
        g_variant_iter_free(names);
    }
    g_variant_unref(reply);
    return answer;
}

}  // namespace

LibsecretNetEaseKeychain::LibsecretNetEaseKeychain(std::string service, std::string account,
                                                   std::chrono::milliseconds callLimit)
    : service_(std::move(service)), account_(std::move(account)), callLimit_(callLimit) {}

bool LibsecretNetEaseKeychain::serviceReachable() const {
    // Without a session bus address GIO would try to autolaunch one, which can stall.
    const char* address = std::getenv("DBUS_SESSION_BUS_ADDRESS");
    if (!address || !*address) return false;
    CallWatchdog watchdog(callLimit_);
    ErrorHolder error;
    GDBusConnection* bus = g_bus_get_sync(G_BUS_TYPE_SESSION, watchdog.cancellable(), &error.error);
    if (!bus) return false;
    const int timeoutMs = static_cast<int>(callLimit_.count());
    bool reachable =
        busCallAnswersTrue(bus, "NameHasOwner", watchdog.cancellable(), timeoutMs) ||
        busCallAnswersTrue(bus, "ListActivatableNames", watchdog.cancellable(), timeoutMs);
    g_object_unref(bus);
    return reachable;
}

std::optional<std::string> LibsecretNetEaseKeychain::read() {
    if (!serviceReachable()) return std::nullopt;
    CallWatchdog watchdog(callLimit_);
    ErrorHolder error;
    gchar* secret =
        secret_password_lookup_sync(schema(), watchdog.cancellable(), &error.error, "service",
                                    service_.c_str(), "account", account_.c_str(), nullptr);
    if (!secret) return std::nullopt;
    std::optional<std::string> value;
    if (g_utf8_validate(secret, -1, nullptr)) value = std::string(secret);
    secret_password_free(secret);
    return value;
}

void LibsecretNetEaseKeychain::remove() {
    if (!serviceReachable()) return;
    CallWatchdog watchdog(callLimit_);
    ErrorHolder error;
    secret_password_clear_sync(schema(), watchdog.cancellable(), &error.error, "service",
                               service_.c_str(), "account", account_.c_str(), nullptr);
}

void LibsecretNetEaseKeychain::add(const std::string& value) {
    if (!serviceReachable()) {
        throw std::system_error(std::make_error_code(std::errc::host_unreachable));
    }
    CallWatchdog watchdog(callLimit_);
    ErrorHolder error;
    const std::string label = service_ + " (" + account_ + ")";
    gboolean stored = secret_password_store_sync(
        schema(), SECRET_COLLECTION_DEFAULT, label.c_str(), value.c_str(), watchdog.cancellable(),
        &error.error, "service", service_.c_str(), "account", account_.c_str(), nullptr);
    if (!stored) {
        int code = error.error ? error.error->code : -1;
        throw std::system_error(code, std::system_category());
    }
}

}  // namespace velto
