#include <gtest/gtest.h>
#include <signal.h>

#include <QDBusConnection>
#include <QDBusInterface>
#include <QDBusReply>
#include <QDBusVariant>
#include <QProcess>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <thread>

#include "ViewHarness.h"
#include "XvfbDisplay.h"
#include "foundation/AllocatorSettings.h"
#include "foundation/files/UserDefaults.h"
#include "foundation/text/Base64.h"
#include "playback/LocalAudioScanner.h"
#include "playback/PersistedSession.h"
#include "support/TempDir.h"
#include "support/WavFile.h"

namespace velto {
namespace {

// Whether `condition` holds within `bound`: the program's own pace (a start, a save every five
// seconds of song) is slower than the common bound allows.
bool within(std::chrono::seconds bound, const std::function<bool()>& condition) {
    const auto end = std::chrono::steady_clock::now() + bound;
    while (!condition()) {
        if (std::chrono::steady_clock::now() >= end) return false;
        std::this_thread::yield();
    }
    return true;
}

// The program in folders of the test's own, its output in a file there.
class Program {
  public:
    explicit Program(const TempDir& home) : home_(home.path()) {
        environment_ = QProcessEnvironment::systemEnvironment();
        environment_.remove(QStringLiteral("GLIBC_TUNABLES"));
        for (const char* folder : {"XDG_RUNTIME_DIR", "XDG_CONFIG_HOME", "XDG_DATA_HOME",
                                   "XDG_CACHE_HOME", "HOME"}) {
            auto path = home_ / folder;
            std::filesystem::create_directories(path);
            std::filesystem::permissions(path, std::filesystem::perms::owner_all);
            environment_.insert(QString::fromLatin1(folder), QString::fromStdString(path.string()));
        }
        environment_.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        environment_.insert(QStringLiteral("VELTO_AUDIO_SINK"), QStringLiteral("fakesink sync=true"));
    }
    ~Program() {
        if (process_.state() != QProcess::NotRunning) {
            process_.kill();
            process_.waitForFinished(10000);
        }
    }

    std::filesystem::path defaultsFile() const {
        return home_ / "XDG_CONFIG_HOME" / "velto" / "defaults.json";
    }
    void set(const char* name, const QString& value) {
        environment_.insert(QString::fromLatin1(name), value);
    }

    // Started, and said so.
    bool start() {
        process_.setProcessEnvironment(environment_);
        process_.setProcessChannelMode(QProcess::MergedChannels);
        process_.setStandardOutputFile(QString::fromStdString(logFile().string()));
        process_.start(QStringLiteral(VELTO_PROGRAM), {});
        return process_.waitForStarted(10000) &&
               within(std::chrono::seconds(60), [this] {
                   return output().find("[app] info: started") != std::string::npos ||
                          process_.state() == QProcess::NotRunning;
               }) &&
               process_.state() == QProcess::Running;
    }
    std::string output() const {
        std::ifstream file(logFile());
        return std::string(std::istreambuf_iterator<char>(file), {});
    }
    QProcess& process() { return process_; }

  private:
    std::filesystem::path logFile() const { return home_ / "output.log"; }

    std::filesystem::path home_;
    QProcessEnvironment environment_;
    QProcess process_;
};

// A logout asks the program to go with SIGTERM, a closed terminal with SIGHUP, Ctrl+C in it
// with SIGINT: it ends as the quit action ends it, through its destructors (which keep the place
// in the song playing), not killed where it stands.
TEST(QuitOnTermination, TheProgramEndsInOrderOnEachEndingSignal) {
    ViewHarness harness;  // the application object
    for (const auto& [signal, name] : {std::pair{SIGTERM, "SIGTERM"}, std::pair{SIGHUP, "SIGHUP"},
                                       std::pair{SIGINT, "SIGINT"}}) {
        TempDir home;
        Program program(home);
        ASSERT_TRUE(program.start()) << name << ": " << program.output();
        // Started again by itself under the allocator's setting: the same process, of its name.
        const auto proc = [&](const char* file) {
            std::ifstream in("/proc/" + std::to_string(program.process().processId()) + file);
            return std::string(std::istreambuf_iterator<char>(in), {});
        };
        const std::string setting(AllocatorSettings::threadCacheOff);
        EXPECT_NE(proc("/environ").find("GLIBC_TUNABLES=" + setting), std::string::npos);
        EXPECT_EQ(proc("/comm"), std::filesystem::path(VELTO_PROGRAM).filename().string() + '\n');
        ::kill(pid_t(program.process().processId()), signal);
        ASSERT_TRUE(program.process().waitForFinished(30000)) << name;
        EXPECT_EQ(program.process().exitStatus(), QProcess::NormalExit) << name << program.output();
        EXPECT_EQ(program.process().exitCode(), 0) << name;
        EXPECT_NE(program.output().find(std::string(name) + ": quitting"), std::string::npos)
            << program.output();
    }
}

// A session bus of the test's own: the program's media-player name is then its alone. Its
// socket is in the test's folder.
class PrivateBus {
  public:
    PrivateBus() {
        QProcess daemon;
        daemon.start(QStringLiteral("dbus-daemon"),
                     {"--session", "--fork", "--print-address=1", "--print-pid=1",
                      QString::fromStdString("--address=unix:dir=" + socketDir_.path().string())});
        if (!daemon.waitForFinished(10000)) return;
        const auto lines = daemon.readAllStandardOutput().split('\n');
        if (lines.size() < 2) return;
        address_ = QString::fromUtf8(lines[0].trimmed());
        pid_ = lines[1].trimmed().toInt();
    }
    ~PrivateBus() {
        QDBusConnection::disconnectFromBus(QStringLiteral("velto-ending"));
        if (pid_ > 0) ::kill(pid_, SIGTERM);
    }
    const QString& address() const { return address_; }
    QDBusConnection connection() const {
        return QDBusConnection::connectToBus(address_, QStringLiteral("velto-ending"));
    }

  private:
    TempDir socketDir_;
    QString address_;
    int pid_ = 0;
};

// The end of the X session without a session manager takes the X server first, and Qt then
// ends the program with exit(): the place in the song is saved there as a quit saves it, not
// left at the last save along the song, seconds back.
TEST(QuitOnTermination, TheLossOfTheXServerSavesThePlaceAsAQuitDoes) {
    XvfbDisplay display;
    if (!display.present()) GTEST_SKIP() << "Xvfb is not installed";
    ASSERT_FALSE(display.name().isEmpty()) << display.errors().toStdString();
    PrivateBus bus;
    ASSERT_FALSE(bus.address().isEmpty()) << "no dbus-daemon";
    TempDir home;
    Program program(home);
    const auto song = home.path() / "song.wav";
    writeWav(song, 60);
    {
        auto track = LocalAudioScanner::track(song);
        ASSERT_TRUE(track);
        UserDefaults(program.defaultsFile())
            .setData("velto.playback.session",
                     PersistedSession{*track, 0, std::chrono::system_clock::now()}.encode());
    }
    program.set("QT_QPA_PLATFORM", QStringLiteral("xcb"));
    program.set("DISPLAY", QString::fromLatin1(display.name()));
    program.set("DBUS_SESSION_BUS_ADDRESS", bus.address());
    ASSERT_TRUE(program.start()) << program.output();

    const QString service = QStringLiteral("org.mpris.MediaPlayer2.velto");
    const QString path = QStringLiteral("/org/mpris/MediaPlayer2");
    const QString playerInterface = QStringLiteral("org.mpris.MediaPlayer2.Player");
    QDBusInterface player(service, path, playerInterface, bus.connection());
    QDBusInterface properties(service, path, QStringLiteral("org.freedesktop.DBus.Properties"),
                              bus.connection());
    auto property = [&](const char* name) {
        QDBusReply<QDBusVariant> reply =
            properties.call(QStringLiteral("Get"), playerInterface, QString::fromLatin1(name));
        return reply.isValid() ? reply.value().variant() : QVariant();
    };
    ASSERT_TRUE(within(std::chrono::seconds(30), [&] {
        if (property("PlaybackStatus").toString() == QStringLiteral("Playing")) return true;
        player.call(QStringLiteral("Play"));
        return false;
    })) << program.output();

    // The saves along the song go to the deferred file; read as it is, not opened as settings,
    // which would remove the writes under way as left unfinished.
    auto savedAlong = [&]() -> std::optional<double> {
        std::ifstream file(program.defaultsFile().string() + ".deferred");
        const auto json = nlohmann::json::parse(file, nullptr, false);
        const auto data = json.is_discarded()
                              ? nullptr
                              : json.value(nlohmann::json::json_pointer(
                                               "/values/velto.playback.session/$data"),
                                           nlohmann::json());
        if (!data.is_string()) return std::nullopt;
        const auto bytes = Base64::decode(data.get<std::string>());
        auto session = bytes ? PersistedSession::decode(*bytes) : std::nullopt;
        return session ? std::optional(session->elapsed) : std::nullopt;
    };
    // A save along the song, then three seconds of song after it.
    std::optional<double> along;
    ASSERT_TRUE(within(std::chrono::seconds(30), [&] {
        along = savedAlong();
        return along && *along >= 1;
    })) << program.output();
    double place = 0;
    ASSERT_TRUE(within(std::chrono::seconds(30), [&] {
        place = property("Position").toLongLong() / 1e6;
        return place >= *along + 3;
    })) << program.output();
    display.kill();
    ASSERT_TRUE(program.process().waitForFinished(30000));
    const auto data = UserDefaults(program.defaultsFile()).dataValue("velto.playback.session");
    const auto session = data ? PersistedSession::decode(*data) : std::nullopt;
    ASSERT_TRUE(session) << program.output();
    const double kept = session->elapsed;
    EXPECT_GE(kept, place - 0.05) << "the save along the song, at " << *along << " s, was kept\n"
                                   << program.output();
    EXPECT_LE(kept, place + 0.5) << program.output();
}

}  // namespace
}  // namespace velto
