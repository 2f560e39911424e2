#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>

typedef struct _GCancellable GCancellable;

namespace velto {

// Calls to the desktop's secret service on generic passwords (attributes service and account),
// bounded in time: the calls made through one object are cancelled once it outlives `limit`, so
// that a service that accepts the connection but never answers cannot block the caller.
class LibsecretCall {
  public:
    struct Failure {
        int code = -1;
        std::string message;
    };

    explicit LibsecretCall(std::chrono::milliseconds limit);
    ~LibsecretCall();
    LibsecretCall(const LibsecretCall&) = delete;
    LibsecretCall& operator=(const LibsecretCall&) = delete;

    // True when a session bus is configured (sessionBusConfigured) and a secret service runs on
    // it or can be started by it.
    bool serviceReachable();
    // DBUS_SESSION_BUS_ADDRESS, else the socket $XDG_RUNTIME_DIR/bus. GLib would go on to an X11
    // autolaunch, which can stall; without either there is no bus worth asking.
    static bool sessionBusConfigured();
    // The password; none when missing, unreadable or not UTF-8. `failure` gets the service's
    // error when there is one.
    std::optional<std::string> lookup(const std::string& service, const std::string& account,
                                      std::optional<Failure>* failure = nullptr);
    // Errors are ignored: a missing item is what clearing wants.
    void clear(const std::string& service, const std::string& account);
    // None when stored.
    std::optional<Failure> store(const std::string& service, const std::string& account,
                                 const std::string& label, const std::string& secret);
    // True once the limit cancelled this object's calls: the service (or the bus) did not answer.
    bool ranOut() const;

  private:
    std::chrono::milliseconds limit_;
    GCancellable* cancellable_;
    // Where the one watcher of all calls' limits keeps this one.
    std::pair<std::chrono::steady_clock::time_point, std::uint64_t> watched_;
};

}  // namespace velto
