#include <gio/gio.h>
#include <unistd.h>

#include <cstdlib>

#include "PlaybackServiceFixture.h"
#include "platform/MprisNowPlayingCenter.h"
#include "support/MprisTestClient.h"

// After GLib, whose D-Bus headers name a member after a Qt keyword.
#include <QSignalSpy>

using namespace velto;

namespace {

// The service behind the real MPRIS center, driven by a D-Bus client on the private session bus.
class PlaybackServiceMpris : public PlaybackServiceTest {
  protected:
    void SetUp() override {
        if (!std::getenv("DBUS_SESSION_BUS_ADDRESS")) GTEST_SKIP() << "needs a session bus";
        client = std::make_unique<MprisTestClient>(busName);
        ASSERT_NE(client->connection(), nullptr);
        center = std::make_unique<MprisNowPlayingCenter>(mainQueue, busName);
        ASSERT_TRUE(mainQueue.runUntil([&] { return center->published(); }));
        make(center.get(), center.get());
    }
    void TearDown() override {
        service.reset();  // it lets go of the center's command handlers
        center.reset();
        client.reset();
    }

    // A player property in GVariant text form.
    std::string property(const char* name) {
        return client->property(MprisTestClient::playerInterface, name);
    }
    void invoke(const char* method) { client->invoke(method); }

    // Its own name, apart from other test programs on the same bus.
    std::string busName =
        std::string(MprisNowPlayingCenter::defaultBusName) + ".engine" + std::to_string(getpid());
    std::unique_ptr<MprisTestClient> client;
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

    player.openItemsAutomatically(true, 210);  // the stream's length is the one shown
    service->next();
    settle();
    metadata = property("Metadata");
    EXPECT_NE(metadata.find("'xesam:title': <'title s2'>"), std::string::npos) << metadata;
    EXPECT_NE(metadata.find("'mpris:length': <int64 210000000>"), std::string::npos) << metadata;
    EXPECT_EQ(metadata.find("mpris:artUrl"), std::string::npos) << metadata;
}

// Playing on with no view watching the time, the service wakes only for the save of the place
// along the song: no notice of the position each second and nothing for the bus to announce,
// while the desktop still reads where the song is, reckoned from the last position given.
TEST_F(PlaybackServiceMpris, ASongPlayingOnUnwatchedIsReckonedNotRepublished) {
    startPlaying(makeSongs(2));
    const auto flushes = center->flushesScheduled();
    QSignalSpy notices(service.get(), &PlaybackService::elapsedChanged);
    mainQueue.advance(std::chrono::milliseconds(12500));
    EXPECT_EQ(notices.count(), 2);  // the saves 5 and 10 s in
    EXPECT_EQ(center->flushesScheduled(), flushes);
    EXPECT_EQ(property("Position"), "12500000");
}

// The desktop's volume control: it reads the service's volume, is told of changes, and its
// writes go through setVolume, which ignores non-finite numbers and clamps.
TEST_F(PlaybackServiceMpris, VolumeIsTheServicesToReadAndWrite) {
    EXPECT_EQ(property("Volume"), "1.0");
    service->setVolume(0.5);
    EXPECT_EQ(property("Volume"), "0.5");

    struct Case {
        double written;
        double taken;
    };
    for (const auto& c :
         std::vector<Case>{{0.25, 0.25}, {1.7, 1.0}, {std::nan(""), 1.0}, {-2, 0}}) {
        // The reply comes once the write is on its way to the main queue.
        client->setProperty("Volume", g_variant_new_double(c.written));
        mainQueue.runPending();
        EXPECT_EQ(service->volume(), c.taken) << c.written;
        EXPECT_EQ(defaults.doubleValue("macPlaybackVolume"), c.taken) << c.written;
    }
}

}  // namespace
