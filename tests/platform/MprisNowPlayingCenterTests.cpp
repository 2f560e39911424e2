#include <gio/gio.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdlib>
#include <memory>
#include <thread>

#include "foundation/Log.h"
#include "foundation/ManualMainQueue.h"
#include "platform/MprisNowPlayingCenter.h"
#include "support/MprisTestClient.h"

namespace velto {
namespace {

constexpr const char* player = MprisTestClient::playerInterface;

// Each test process owns its own name, so tests can run side by side on one bus.
std::string uniqueBusName() {
    return std::string(MprisNowPlayingCenter::defaultBusName) + ".test" + std::to_string(getpid());
}

// Collects the player's signals on a thread of its own and hands them to the main queue.
class SignalRecorder {
  public:
    SignalRecorder(GDBusConnection* connection, ManualMainQueue& queue) : queue_(queue) {
        std::atomic<bool> subscribed = false;
        thread_ = std::thread([this, connection, &subscribed] {
            g_main_context_push_thread_default(context_);
            guint id = g_dbus_connection_signal_subscribe(connection, nullptr, nullptr, nullptr,
                                                          MprisTestClient::objectPath, nullptr,
                                                          G_DBUS_SIGNAL_FLAGS_NONE,
                                                          &SignalRecorder::onSignal, this, nullptr);
            subscribed = true;
            g_main_loop_run(loop_);
            g_dbus_connection_signal_unsubscribe(connection, id);
            g_main_context_pop_thread_default(context_);
        });
        while (!subscribed) std::this_thread::yield();
        // The match rule went out before this call on the same connection, so once it returns
        // the bus routes the signals to us.
        GVariant* reply = g_dbus_connection_call_sync(
            connection, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
            "GetId", nullptr, nullptr, G_DBUS_CALL_FLAGS_NONE, 5000, nullptr, nullptr);
        if (reply) g_variant_unref(reply);
    }
    ~SignalRecorder() {
        g_main_context_invoke(
            context_,
            [](gpointer loop) -> gboolean {
                g_main_loop_quit(static_cast<GMainLoop*>(loop));
                return G_SOURCE_REMOVE;
            },
            loop_);
        thread_.join();
        g_main_loop_unref(loop_);
        g_main_context_unref(context_);
    }
    const std::vector<std::string>& signals() const { return signals_; }
    // Whether a signal received holds `needle`.
    bool saw(const std::string& needle) const {
        return std::any_of(signals_.begin(), signals_.end(), [&](const std::string& signal) {
            return signal.find(needle) != std::string::npos;
        });
    }

  private:
    static void onSignal(GDBusConnection*, const gchar*, const gchar*, const gchar*,
                         const gchar* name, GVariant* parameters, gpointer data) {
        auto* self = static_cast<SignalRecorder*>(data);
        gchar* text = g_variant_print(parameters, FALSE);
        std::string line = std::string(name) + " " + text;
        g_free(text);
        self->queue_.post([self, line] { self->signals_.push_back(line); });
    }

    ManualMainQueue& queue_;
    GMainContext* context_ = g_main_context_new();
    GMainLoop* loop_ = g_main_loop_new(context_, FALSE);
    std::thread thread_;
    std::vector<std::string> signals_;
};

class MprisNowPlayingCenterTest : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!std::getenv("DBUS_SESSION_BUS_ADDRESS")) GTEST_SKIP() << "needs a session bus";
        client = std::make_unique<MprisTestClient>(busName);
        ASSERT_NE(client->connection(), nullptr);
        center = std::make_unique<MprisNowPlayingCenter>(queue, busName);
        ASSERT_TRUE(queue.runUntil([&] { return center->published(); }));
    }
    void TearDown() override {
        center.reset();
        client.reset();
    }

    std::string property(const char* interface, const char* name) {
        return client->property(interface, name);
    }
    void invoke(const char* method, GVariant* args = nullptr) { client->invoke(method, args); }

    static NowPlayingCenter::Info song() {
        NowPlayingCenter::Info info;
        info.trackId = "netease:186016";
        info.title = "雾中河";
        info.artist = "林远舟";
        info.album = "远山集";
        info.duration = 269.5;
        info.artUrl = "file:///tmp/cover.jpg";
        info.elapsed = 10;
        return info;
    }

    std::string busName = uniqueBusName();
    ManualMainQueue queue;
    std::unique_ptr<MprisTestClient> client;
    std::unique_ptr<MprisNowPlayingCenter> center;
};

TEST_F(MprisNowPlayingCenterTest, AnswersPropertiesFromTheLatestInformation) {
    EXPECT_EQ(property("org.mpris.MediaPlayer2", "Identity"), "'Velto'");
    EXPECT_EQ(property("org.mpris.MediaPlayer2", "CanQuit"), "false");
    EXPECT_EQ(property("org.mpris.MediaPlayer2", "HasTrackList"), "false");
    EXPECT_EQ(property(player, "PlaybackStatus"), "'Stopped'");
    EXPECT_EQ(property(player, "CanGoNext"), "false");  // no handlers yet

    center->setInfo(song());
    center->setPlaybackState(NowPlayingCenter::PlaybackState::paused);
    EXPECT_EQ(property(player, "PlaybackStatus"), "'Paused'");
    std::string metadata = property(player, "Metadata");
    std::string trackPath = MprisNowPlayingCenter::trackObjectPath("netease:186016");
    EXPECT_NE(metadata.find("'mpris:trackid': <objectpath '" + trackPath + "'>"), std::string::npos)
        << metadata;
    EXPECT_NE(metadata.find("'xesam:title': <'雾中河'>"), std::string::npos) << metadata;
    EXPECT_NE(metadata.find("'xesam:artist': <['林远舟']>"), std::string::npos) << metadata;
    EXPECT_NE(metadata.find("'xesam:album': <'远山集'>"), std::string::npos) << metadata;
    EXPECT_NE(metadata.find("'mpris:length': <int64 269500000>"), std::string::npos) << metadata;
    EXPECT_NE(metadata.find("'mpris:artUrl': <'file:///tmp/cover.jpg'>"), std::string::npos);
    // Paused: the position stays where it was set; playing, it moves on with the clock.
    queue.advance(std::chrono::seconds(3));
    EXPECT_EQ(property(player, "Position"), "10000000");
    center->setPlaybackState(NowPlayingCenter::PlaybackState::playing);
    queue.advance(std::chrono::milliseconds(2500));
    EXPECT_EQ(property(player, "Position"), "12500000");
    center->setPlaybackState(NowPlayingCenter::PlaybackState::paused);

    center->setHandlers({.play = [] {}});
    EXPECT_EQ(property(player, "CanGoNext"), "true");
    EXPECT_EQ(property(player, "CanSeek"), "true");

    center->clearInfo();
    EXPECT_EQ(property(player, "Metadata"),
              "{'mpris:trackid': <objectpath '/org/mpris/MediaPlayer2/TrackList/NoTrack'>}");
    EXPECT_EQ(property(player, "CanSeek"), "false");
}

TEST_F(MprisNowPlayingCenterTest, CommandsRunTheirHandlersOnTheMainThread) {
    std::vector<std::string> ran;
    auto mainThread = std::this_thread::get_id();
    bool offThread = false;
    auto note = [&](std::string what) {
        offThread |= std::this_thread::get_id() != mainThread;
        ran.push_back(std::move(what));
    };
    center->setHandlers({
        .play = [&] { note("play"); },
        .pause = [&] { note("pause"); },
        .togglePlayPause = [&] { note("toggle"); },
        .nextTrack = [&] { note("next"); },
        .previousTrack = [&] { note("previous"); },
        .changePlaybackPosition = [&](double s) { note("position " + std::to_string(int(s))); },
    });
    center->setInfo(song());
    center->setPlaybackState(NowPlayingCenter::PlaybackState::paused);
    std::string track = MprisNowPlayingCenter::trackObjectPath("netease:186016");
    std::string stale = MprisNowPlayingCenter::trackObjectPath("netease:1");

    invoke("PlayPause");
    invoke("Play");
    invoke("Stop");  // stopping only pauses: the song stays loaded
    invoke("SetPosition", g_variant_new("(ox)", track.c_str(), gint64(42'000'000)));
    invoke("SetPosition", g_variant_new("(ox)", stale.c_str(), gint64(5'000'000)));
    invoke("SetPosition", g_variant_new("(ox)", track.c_str(), gint64(900'000'000)));
    invoke("Seek", g_variant_new("(x)", gint64(5'000'000)));    // 10 s + 5 s
    invoke("Seek", g_variant_new("(x)", gint64(-60'000'000)));  // clamps to the start
    invoke("Seek", g_variant_new("(x)", gint64(600'000'000)));  // past the end: next song
    invoke("Previous");
    // The bus thread hands the commands over in order, so the last one closes the list.
    ASSERT_TRUE(queue.runUntil([&] { return !ran.empty() && ran.back() == "previous"; }));
    std::vector<std::string> expected = {"toggle",      "play",       "pause", "position 42",
                                         "position 15", "position 0", "next",  "previous"};
    EXPECT_EQ(ran, expected);
    EXPECT_FALSE(offThread);
}

TEST_F(MprisNowPlayingCenterTest, SeekingDoesNothingWhereCanSeekIsFalse) {
    std::vector<std::string> ran;
    center->setHandlers({
        .previousTrack = [&] { ran.push_back("previous"); },
        .changePlaybackPosition = [&](double s) { ran.push_back("position " + std::to_string(s)); },
    });
    invoke("Seek", g_variant_new("(x)", gint64(5'000'000)));  // no song at all
    auto stream = song();
    stream.duration.reset();  // a stream without an end
    center->setInfo(stream);
    EXPECT_EQ(property(player, "CanSeek"), "false");
    std::string track = MprisNowPlayingCenter::trackObjectPath(stream.trackId);
    invoke("Seek", g_variant_new("(x)", G_MAXINT64));
    invoke("SetPosition", g_variant_new("(ox)", track.c_str(), gint64(3'000'000)));
    invoke("Previous");
    ASSERT_TRUE(queue.runUntil([&] { return !ran.empty() && ran.back() == "previous"; }));
    EXPECT_EQ(ran, std::vector<std::string>{"previous"});
}

// Numbers the player might hand over unchecked must not reach the bus or a handler as garbage.
TEST_F(MprisNowPlayingCenterTest, NonFiniteNumbersBecomeSaneOnes) {
    std::vector<double> targets;
    bool done = false;
    center->setHandlers({
        .previousTrack = [&] { done = true; },
        .changePlaybackPosition = [&](double s) { targets.push_back(s); },
    });
    auto info = song();
    info.elapsed = std::nan("");
    center->setInfo(info);
    center->setPlaybackState(NowPlayingCenter::PlaybackState::paused);
    EXPECT_EQ(property(player, "Position"), "0");
    invoke("Seek", g_variant_new("(x)", gint64(5'000'000)));

    info.elapsed = 1e300;
    info.duration = 1e300;
    center->setInfo(info);
    EXPECT_EQ(property(player, "Position"), std::to_string(G_MAXINT64));
    EXPECT_NE(property(player, "Metadata").find("'mpris:length': <int64 " +
                                                std::to_string(G_MAXINT64) + ">"),
              std::string::npos);
    invoke("Previous");
    ASSERT_TRUE(queue.runUntil([&] { return done; }));
    EXPECT_EQ(targets, std::vector<double>{5.0});
}

// A handler may replace the handlers, its own closure included, while it runs.
TEST_F(MprisNowPlayingCenterTest, AHandlerMayReplaceTheHandlers) {
    static std::weak_ptr<int> capture;
    static bool captureAliveAfterReplacing = false;
    auto token = std::make_shared<int>(1);
    capture = token;
    bool replaced = false;
    center->setHandlers({.play = [this, token = std::move(token), &replaced] {
        auto* target = center.get();
        bool* flag = &replaced;
        target->setHandlers({});
        // Only statics from here on: the closure may be gone.
        captureAliveAfterReplacing = !capture.expired();
        *flag = true;
    }});
    invoke("Play");
    ASSERT_TRUE(queue.runUntil([&] { return replaced; }));
    EXPECT_TRUE(captureAliveAfterReplacing);
    EXPECT_TRUE(capture.expired());  // and it is released once the call is over
}

TEST_F(MprisNowPlayingCenterTest, AnnouncesChangesAndJumps) {
    SignalRecorder recorder(client->connection(), queue);
    center->setInfo(song());
    center->setPlaybackState(NowPlayingCenter::PlaybackState::playing);
    ASSERT_TRUE(queue.runUntil([&] { return recorder.saw("'PlaybackStatus': <'Playing'>"); }));
    EXPECT_TRUE(recorder.saw("'xesam:title': <'雾中河'>"));

    // A repeated state and a regular update along the way are no news: the bus thread is not
    // even woken. An update far from the running position is a jump.
    const std::size_t flushes = center->flushesScheduled();
    center->setPlaybackState(NowPlayingCenter::PlaybackState::playing);
    auto info = song();
    info.elapsed = 10.2;
    center->setInfo(info);
    EXPECT_EQ(center->flushesScheduled(), flushes);
    info.elapsed = 120;
    center->setInfo(info);
    ASSERT_TRUE(queue.runUntil([&] { return recorder.saw("Seeked"); }));
    std::size_t seeks = 0;
    for (const auto& s : recorder.signals()) seeks += s.rfind("Seeked", 0) == 0;
    EXPECT_EQ(seeks, 1u);
    EXPECT_TRUE(recorder.saw("Seeked (120000000,)"));

    // A song waiting for its data stays Playing, as asked, but its position stands; when its
    // sound begins, players that run a clock of their own are told where it stands.
    info.trackId = "netease:186017";
    info.elapsed = 0;
    info.waiting = true;
    center->setInfo(info);
    queue.advance(std::chrono::seconds(3));
    EXPECT_EQ(property(player, "Position"), "0");
    EXPECT_EQ(property(player, "PlaybackStatus"), "'Playing'");
    info.waiting = false;
    center->setInfo(info);
    ASSERT_TRUE(queue.runUntil([&] { return recorder.saw("Seeked (0,)"); }));
    queue.advance(std::chrono::seconds(2));
    EXPECT_EQ(property(player, "Position"), "2000000");
}

TEST_F(MprisNowPlayingCenterTest, VolumeIsAnnouncedAndWritesGoToTheHandler) {
    SignalRecorder recorder(client->connection(), queue);
    std::vector<double> written;
    center->setHandlers({.changeVolume = [&](double v) { written.push_back(v); }});
    center->setVolume(0.5);
    ASSERT_TRUE(queue.runUntil([&] { return recorder.saw("'Volume': <0.5>"); }));
    EXPECT_EQ(property(player, "Volume"), "0.5");
    client->setProperty("Volume", g_variant_new_double(1.5));
    queue.runPending();
    EXPECT_EQ(written, std::vector<double>{1.5});  // the player judges it
    EXPECT_EQ(property(player, "Volume"), "0.5");  // until it says otherwise
}

TEST(MprisWithoutBusTest, StaysQuietWithoutASessionBus) {
    const char* saved = std::getenv("DBUS_SESSION_BUS_ADDRESS");
    std::string savedValue = saved ? saved : "";
    setenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/velto-bus", 1);
    ManualMainQueue queue;
    std::atomic<bool> logged = false;
    Log::setSink([&](Log::Level level, std::string_view category, std::string_view) {
        if (level == Log::Level::error && category == "NowPlaying") {
            logged = true;
            queue.post([] {});
        }
    });
    {
        MprisNowPlayingCenter center(queue, uniqueBusName());
        EXPECT_TRUE(queue.runUntil([&] { return logged.load(); }));
        center.setInfo({.trackId = "x", .title = "t"});
        center.setPlaybackState(NowPlayingCenter::PlaybackState::playing);
        center.setHandlers({.play = [] {}});
        center.clearInfo();
        queue.runPending();
        EXPECT_FALSE(center.published());
    }
    Log::setSink({});
    if (saved) {
        setenv("DBUS_SESSION_BUS_ADDRESS", savedValue.c_str(), 1);
    } else {
        unsetenv("DBUS_SESSION_BUS_ADDRESS");
    }
}

}  // namespace
}  // namespace velto
