#pragma once

#include <gio/gio.h>

#include <string>

namespace velto {

// A D-Bus client of one MPRIS player on the session bus, for tests. Call failures are
// reported as test failures.
class MprisTestClient {
public:
    static constexpr const char* objectPath = "/org/mpris/MediaPlayer2";
    static constexpr const char* rootInterface = "org.mpris.MediaPlayer2";
    static constexpr const char* playerInterface = "org.mpris.MediaPlayer2.Player";

    explicit MprisTestClient(std::string busName);
    ~MprisTestClient();
    MprisTestClient(const MprisTestClient&) = delete;
    MprisTestClient& operator=(const MprisTestClient&) = delete;

    GDBusConnection* connection() const { return connection_; }
    // The reply (to unref), or null after a failure.
    GVariant* call(const char* interface, const char* method, GVariant* args);
    // A property in GVariant text form; empty after a failure.
    std::string property(const char* interface, const char* name);
    // Writes a property of the player interface.
    void setProperty(const char* name, GVariant* value);
    // Calls a method of the player interface and drops the reply.
    void invoke(const char* method, GVariant* args = nullptr);

private:
    std::string busName_;
    GDBusConnection* connection_ = nullptr;
};

}  // namespace velto
