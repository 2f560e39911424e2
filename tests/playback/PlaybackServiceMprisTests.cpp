#include <gio/gio.h>
#include <unistd.h>

#include <cstdlib>

#include "PlaybackServiceFixture.h"
#include "platform/MprisNowPlayingCenter.h"

using namespace velto;

namespace {

constexpr const char* objectPath = "/org/mpris/MediaPlayer2";
constexpr const char* playerInterface = "org.mpris.MediaPlayer2.Player";

// The service behind the real MPRIS center, driven by a D-Bus client on the private session bus.
class PlaybackServiceMpris : public PlaybackServiceTest {
  protected:
    void SetUp() override {
        if (!std::getenv("DBUS_SESSION_BUS_ADDRESS")) GTEST_SKIP() << "needs a session bus";
        client = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr);
        ASSERT_NE(client, nullptr);
        center = std::make_unique<MprisNowPlayingCenter>(mainQueue, busName);
        ASSERT_TRUE(mainQueue.runUntil([&] { return center->published(); }));
        make(center.get(), center.get());
    }
    void TearDown() override {
        service.reset();  // it lets go of the center's command handlers
        center.reset();
        if (client) g_object_unref(client);
    }

    GVariant* call(const char* interface, const char* method, GVariant* args) {
        GError* error = nullptr;
        GVariant* reply = g_dbus_connection_call_sync(
            client, busName.c_str(), objectPath, interface, method, args, nullptr,
            G_DBUS_CALL_FLAGS_NONE, 5000, nullptr, &error);
        if (error) {
            ADD_FAILURE() << method << ": " << error->message;
            g_error_free(error);
        }
        return reply;
    }
    // A player property in GVariant text form.
    std::string property(const char* name) {
        GVariant* reply = call("org.freedesktop.DBus.Properties", "Get",
                               g_variant_new("(ss)", playerInterface, name));
        if (!reply) return {};
        GVariant* value = nullptr;
        g_variant_get(reply, "(v)", &value);
        gchar* text = g_variant_print(value, FALSE);
        std::string result = text;
        g_free(text);
        g_variant_unref(value);
        g_variant_unref(reply);
        return result;
    }
    void invoke(const char* method) {
        if (GVariant* reply = call(playerInterface, method, nullptr)) g_variant_unref(reply);
    }

    // Its own name, apart from other test programs on the same bus.
    std::string busName =
        std::string(MprisNowPlayingCenter::defaultBusName) + ".engine" + std::to_string(getpid());
    GDBusConnection* client = nullptr;
    std::unique_ptr<MprisNowPlayingCenter> center;
};

TEST_F(PlaybackServiceMpris, PlayPauseFromTheBusReachesTheServiceAndTheSongIsShown) {
    EXPECT_EQ(property("PlaybackStatus"), "'Stopped'");
    EXPECT_EQ(property("CanPause"), "true");  // the service installed its commands

    auto first = makeSong("s1", "4:00", MusicSource::wy, R"({"picUrl":"https://img.test/1.jpg"})");
    startPlaying({first, makeSong("s2", "3:30")});
    EXPECT_EQ(property("PlaybackStatus"), "'Playing'");
    std::string metadata = property("Metadata");
    EXPECT_NE(metadata.find("'mpris:trackid': <objectpath '" +
                            MprisNowPlayingCenter::trackObjectPath("wy_s1") + "'>"),
              std::string::npos)
        << metadata;
    EXPECT_NE(metadata.find("'xesam:title': <'title s1'>"), std::string::npos) << metadata;
    EXPECT_NE(metadata.find("'xesam:artist': <['artist s1']>"), std::string::npos) << metadata;
    EXPECT_NE(metadata.find("'xesam:album': <'album s1'>"), std::string::npos) << metadata;
    EXPECT_NE(metadata.find("'mpris:length': <int64 240000000>"), std::string::npos) << metadata;
    EXPECT_NE(metadata.find("'mpris:artUrl': <'https://img.test/1.jpg'>"), std::string::npos)
        << metadata;

    invoke("PlayPause");
    ASSERT_TRUE(mainQueue.runUntil([&] { return kind() == Kind::paused; }));
    EXPECT_FALSE(service->playbackRequested());
    EXPECT_EQ(property("PlaybackStatus"), "'Paused'");

    invoke("PlayPause");
    ASSERT_TRUE(mainQueue.runUntil([&] { return kind() == Kind::playing; }));
    EXPECT_EQ(property("PlaybackStatus"), "'Playing'");

    service->next();
    settle();
    metadata = property("Metadata");
    EXPECT_NE(metadata.find("'xesam:title': <'title s2'>"), std::string::npos) << metadata;
    EXPECT_NE(metadata.find("'mpris:length': <int64 210000000>"), std::string::npos) << metadata;
    EXPECT_EQ(metadata.find("mpris:artUrl"), std::string::npos) << metadata;
}

}  // namespace
