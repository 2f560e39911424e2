#include "sources/credentials/LibsecretCall.h"

#include <gio/gio.h>
#include <libsecret/secret.h>

#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <mutex>
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

struct ErrorHolder {
    GError* error = nullptr;
    ~ErrorHolder() {
        if (error) g_error_free(error);
    }
    LibsecretCall::Failure failure() const {
        if (!error) return {};
        return {error->code, error->message ? error->message : ""};
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

// Cancels the calls that outlive their limits. A call is forgotten before its cancellable goes,
// and cancelled under the same lock, so a cancel never meets a call that ended.
class CallLimits {
  public:
    // Never destroyed: its thread may still wait while the process ends.
    static CallLimits& shared() {
        static auto* limits = new CallLimits;
        return *limits;
    }

    // Calls are known by their limit, and their order among calls of the same limit.
    using Key = std::pair<std::chrono::steady_clock::time_point, std::uint64_t>;

    Key watch(std::chrono::steady_clock::time_point at, GCancellable* cancellable) {
        std::lock_guard lock(mutex_);
        if (!started_) {
            std::thread([this] { run(); }).detach();
            started_ = true;
        }
        const Key key{at, ++lastID_};
        calls_.emplace(key, cancellable);
        changed_.notify_one();
        return key;
    }
    void forget(const Key& key) {
        std::lock_guard lock(mutex_);
        calls_.erase(key);
    }

  private:
    void run() {
        std::unique_lock lock(mutex_);
        for (;;) {
            if (calls_.empty()) {
                changed_.wait(lock);
                continue;
            }
            // A copy: the call may be forgotten while this waits.
            const auto [at, id] = calls_.begin()->first;
            if (std::chrono::steady_clock::now() < at) {
                changed_.wait_until(lock, at);
            } else {
                g_cancellable_cancel(calls_.begin()->second);
                calls_.erase(calls_.begin());
            }
        }
    }

    std::mutex mutex_;
    std::condition_variable changed_;
    std::map<Key, GCancellable*> calls_;
    std::uint64_t lastID_ = 0;
    bool started_ = false;
};

}  // namespace

LibsecretCall::LibsecretCall(std::chrono::milliseconds limit)
    : limit_(limit), cancellable_(g_cancellable_new()),
      watched_(CallLimits::shared().watch(std::chrono::steady_clock::now() + limit, cancellable_)) {}

LibsecretCall::~LibsecretCall() {
    CallLimits::shared().forget(watched_);
    g_object_unref(cancellable_);
}

bool LibsecretCall::sessionBusConfigured() {
    const char* address = std::getenv("DBUS_SESSION_BUS_ADDRESS");
    if (address && *address) return true;
    const char* runtimeDir = std::getenv("XDG_RUNTIME_DIR");
    if (!runtimeDir || !*runtimeDir) return false;
    std::error_code error;
    return std::filesystem::exists(std::filesystem::path(runtimeDir) / "bus", error);
}

bool LibsecretCall::serviceReachable() {
    if (!sessionBusConfigured()) return false;
    ErrorHolder error;
    GDBusConnection* bus = g_bus_get_sync(G_BUS_TYPE_SESSION, cancellable_, &error.error);
    if (!bus) return false;
    const int timeoutMs = static_cast<int>(limit_.count());
    bool reachable = busCallAnswersTrue(bus, "NameHasOwner", cancellable_, timeoutMs) ||
                     busCallAnswersTrue(bus, "ListActivatableNames", cancellable_, timeoutMs);
    g_object_unref(bus);
    return reachable;
}

std::optional<std::string> LibsecretCall::lookup(const std::string& service,
                                                 const std::string& account,
                                                 std::optional<Failure>* failure) {
    ErrorHolder error;
    gchar* secret = secret_password_lookup_sync(schema(), cancellable_, &error.error, "service",
                                                service.c_str(), "account", account.c_str(),
                                                nullptr);
    if (failure && error.error) *failure = error.failure();
    if (!secret) return std::nullopt;
    std::optional<std::string> value;
    if (g_utf8_validate(secret, -1, nullptr)) value = std::string(secret);
    secret_password_free(secret);
    return value;
}

void LibsecretCall::clear(const std::string& service, const std::string& account) {
    ErrorHolder ignored;
    secret_password_clear_sync(schema(), cancellable_, &ignored.error, "service", service.c_str(),
                               "account", account.c_str(), nullptr);
}

bool LibsecretCall::ranOut() const { return g_cancellable_is_cancelled(cancellable_); }

std::optional<LibsecretCall::Failure> LibsecretCall::store(const std::string& service,
                                                           const std::string& account,
                                                           const std::string& label,
                                                           const std::string& secret) {
    ErrorHolder error;
    const gboolean stored = secret_password_store_sync(
        schema(), SECRET_COLLECTION_DEFAULT, label.c_str(), secret.c_str(), cancellable_,
        &error.error, "service", service.c_str(), "account", account.c_str(), nullptr);
    if (stored) return std::nullopt;
    return error.failure();
}

}  // namespace velto
