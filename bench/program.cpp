#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
#include <xcb/sync.h>
#include <xcb/xcb.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <limits>
#include <memory>
#include <mutex>
#include <optional>
#include <tuple>
#include <utility>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "foundation/files/UserDefaults.h"
#include "playback/LocalAudioScanner.h"
#include "playback/PersistedSession.h"
#include "support/FakeMusicServices.h"
#include "support/TempDir.h"

// The whole program while it plays, as a separate process on its own session bus and private
// folders: its CPU per second of audio beside a bare GStreamer playbin on the same file, and
// the anonymous memory it gains per song over a run on repeat. Both need GStreamer's command
// line tools and skip with a message where they are missing. The CPU is measured offscreen and
// on an X server of its own (Xvfb with openbox, which skip where missing; the floor it is held
// against runs on a second one at the same time), with the main thread's wake-ups; on X also
// the server's CPU and wake-ups over the same windows, since what the program draws, and the
// steps it leaves the server to time, cost the desktop there. VELTO_BENCH_SECONDS lengthens the
// measured windows (the default keeps a run offscreen to about a minute, on X to about four);
// VELTO_BENCH_ROUNDS sets the rounds on X (7); VELTO_BENCH_SONG_SECONDS sets the length of the
// song played beside playbin (four minutes, an ordinary song: the open panel draws each time its
// seek slider's knob moves a pixel, so a short song costs more); VELTO_BENCH_DISPLAY picks the X
// display of the program (":71"; by default the server takes a free one);
// VELTO_BENCH_FLOOR_DISPLAY the floor's (":72"); VELTO_BENCH_COMPOSITOR names a compositing
// manager to run on the X servers ("xcompmgr"); VELTO_BENCH_WRAPPER names a tool to run the
// program under, whose own figures then count too; VELTO_BENCH_PROGRAM runs another build of
// the program (an older one, side by side with this one); VELTO_BENCH_LOG names a file that
// gets each window's figures, one line each.

extern char** environ;

namespace velto {
namespace {

using namespace std::chrono_literals;

bool onPath(const std::string& tool) {
    return std::system(("command -v " + tool + " >/dev/null 2>&1").c_str()) == 0;
}

double positiveSetting(const char* name, double fallback) {
    const char* value = std::getenv(name);
    return value && std::atof(value) > 0 ? std::atof(value) : fallback;
}

double measuredSeconds(double fallback) { return positiveSetting("VELTO_BENCH_SECONDS", fallback); }

// A child process that is killed and reaped when it goes out of scope.
class Child {
public:
    // `output`: where its standard output goes.
    Child(const std::vector<std::string>& argv, const std::vector<std::string>& env,
          const std::string& output = "/dev/null") {
        std::vector<char*> args;
        for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        std::vector<char*> vars;
        for (const auto& e : env) vars.push_back(const_cast<char*>(e.c_str()));
        vars.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 1, output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
        if (posix_spawnp(&pid_, argv[0].c_str(), &actions, nullptr, args.data(), vars.data()) != 0)
            pid_ = -1;
        posix_spawn_file_actions_destroy(&actions);
    }
    ~Child() { stop(); }
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;

    pid_t pid() const { return pid_; }
    bool running() const { return pid_ > 0 && waitpid(pid_, nullptr, WNOHANG) == 0; }
    // Waits for the child to end by itself; its exit status.
    int wait() {
        int status = -1;
        if (pid_ > 0) waitpid(pid_, &status, 0);
        pid_ = -1;
        return status;
    }
    void stop() {
        if (pid_ <= 0) return;
        kill(pid_, SIGTERM);
        for (int i = 0; i < 50 && waitpid(pid_, nullptr, WNOHANG) == 0; ++i)
            std::this_thread::sleep_for(100ms);
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
        pid_ = -1;
    }

    // CPU seconds of its live threads so far, to the nanosecond (the scheduler's own count;
    // the clock ticks of /proc/PID/stat are too coarse for a few milliseconds a second).
    double cpuSeconds() const {
        double total = 0;
        std::error_code error;
        const auto tasks = std::filesystem::path("/proc") / std::to_string(pid_) / "task";
        for (const auto& task : std::filesystem::directory_iterator(tasks, error)) {
            std::ifstream schedstat(task.path() / "schedstat");
            double nanoseconds = 0;
            if (schedstat >> nanoseconds) total += nanoseconds / 1e9;
        }
        return total;
    }
    // The main thread's context switches so far: (voluntary, involuntary). A voluntary one is
    // a wait that ended, so their pace is how often the thread wakes up.
    std::pair<double, double> mainThreadSwitches() const {
        std::ifstream status("/proc/" + std::to_string(pid_) + "/task/" + std::to_string(pid_) + "/status");
        std::pair<double, double> switches;
        std::string line;
        while (std::getline(status, line)) {
            if (line.rfind("voluntary_ctxt_switches:", 0) == 0) switches.first = std::stod(line.substr(24));
            if (line.rfind("nonvoluntary_ctxt_switches:", 0) == 0) switches.second = std::stod(line.substr(27));
        }
        return switches;
    }
    // The voluntary context switches of all its live threads so far: how often any of them woke.
    double allThreadsWakeups() const {
        double total = 0;
        std::error_code error;
        const auto tasks = std::filesystem::path("/proc") / std::to_string(pid_) / "task";
        for (const auto& task : std::filesystem::directory_iterator(tasks, error)) {
            std::ifstream status(task.path() / "status");
            std::string line;
            while (std::getline(status, line))
                if (line.rfind("voluntary_ctxt_switches:", 0) == 0) total += std::stod(line.substr(24));
        }
        return total;
    }
    // CPU seconds of all its threads so far, those that ended included (in clock ticks).
    double totalCpuSeconds() const {
        std::ifstream stat("/proc/" + std::to_string(pid_) + "/stat");
        std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
        // After the command's closing parenthesis: state is field 3, utime and stime 14 and 15.
        std::istringstream fields(text.substr(std::min(text.size(), text.rfind(')') + 1)));
        std::string field;
        double ticks = 0;
        for (int i = 3; i <= 15 && fields >> field; ++i)
            if (i >= 14) ticks += std::stod(field);
        return ticks / double(sysconf(_SC_CLK_TCK));
    }
    double anonymousResidentBytes() const {
        std::ifstream status("/proc/" + std::to_string(pid_) + "/status");
        std::string line;
        while (std::getline(status, line)) {
            if (line.rfind("RssAnon:", 0) == 0) return std::stod(line.substr(8)) * 1024;
        }
        return 0;
    }

private:
    pid_t pid_ = -1;
};

std::string programPath() {
    const char* other = std::getenv("VELTO_BENCH_PROGRAM");
    return other && *other ? other : VELTO_PROGRAM;
}

std::string run(const std::string& command) {
    std::string out;
    if (FILE* pipe = popen(command.c_str(), "r")) {
        char buffer[512];
        while (std::fgets(buffer, sizeof buffer, pipe)) out += buffer;
        pclose(pipe);
    }
    return out;
}

// The program in private folders with one local song restored as its session, on a session
// bus of its own, playing into a synchronising null sink.
class Program {
public:
    // `display`: the X display to show it on, offscreen when empty.
    Program(const std::filesystem::path& song, const std::string& mode, const std::string& display = {})
        : Program(LocalAudioScanner::track(song, {}), mode, display, {}) {}
    // `extraEnv`: more variables for the program ("NAME=value"), such as the services to ask.
    Program(const std::optional<Track>& track, const std::string& mode, const std::string& display,
            const std::vector<std::string>& extraEnv) {
        for (const char* sub : {"config", "data", "cache", "runtime"})
            std::filesystem::create_directories(dir_.path() / sub);
        std::filesystem::permissions(dir_.path() / "runtime", std::filesystem::perms::owner_all);
        if (!track) return;
        UserDefaults defaults(dir_.path() / "config" / "velto" / "defaults.json");
        defaults.setString("playbackMode", mode);
        defaults.setData("velto.playback.session",
                         PersistedSession{*track, 0, std::chrono::system_clock::now()}.encode());

        std::istringstream bus(run("dbus-daemon --session --fork --print-address=1 --print-pid=1 "
                                   "--address=unix:dir=" + (dir_.path() / "runtime").string()));
        std::string pid;
        std::getline(bus, busAddress_);
        std::getline(bus, pid);
        busPid_ = std::atoi(pid.c_str());

        env_ = {"HOME=" + dir_.path().string(),
                "PATH=" + std::string(std::getenv("PATH") ? std::getenv("PATH") : "/usr/bin"),
                "XDG_CONFIG_HOME=" + (dir_.path() / "config").string(),
                "XDG_DATA_HOME=" + (dir_.path() / "data").string(),
                "XDG_CACHE_HOME=" + (dir_.path() / "cache").string(),
                "XDG_RUNTIME_DIR=" + (dir_.path() / "runtime").string(),
                "DBUS_SESSION_BUS_ADDRESS=" + busAddress_,
                "QT_QPA_PLATFORM=" + std::string(display.empty() ? "offscreen" : "xcb"),
                "VELTO_AUDIO_SINK=fakesink sync=true"};
        if (!display.empty()) env_.push_back("DISPLAY=" + display);
        env_.insert(env_.end(), extraEnv.begin(), extraEnv.end());
        std::vector<std::string> command{programPath()};
        // A tool to run the program under, for looking into what a figure shows (heaptrack).
        if (const char* wrapper = std::getenv("VELTO_BENCH_WRAPPER"); wrapper && *wrapper)
            command.insert(command.begin(), wrapper);
        program_.emplace(command, env_);
    }
    ~Program() {
        program_.reset();
        if (busPid_ > 0) kill(busPid_, SIGTERM);
    }

    const Child& child() const { return *program_; }

    // Asks it to play over its media-player interface until it says it plays.
    bool play() {
        const std::string send = "DBUS_SESSION_BUS_ADDRESS='" + busAddress_ +
                                 "' dbus-send --session --print-reply "
                                 "--dest=org.mpris.MediaPlayer2.velto /org/mpris/MediaPlayer2 ";
        for (int i = 0; i < 100 && program_->running(); ++i) {
            run(send + "org.mpris.MediaPlayer2.Player.Play 2>/dev/null");
            std::this_thread::sleep_for(200ms);
            if (run(send + "org.freedesktop.DBus.Properties.Get "
                           "string:org.mpris.MediaPlayer2.Player string:PlaybackStatus "
                           "2>/dev/null")
                    .find("\"Playing\"") != std::string::npos)
                return true;
        }
        return false;
    }
    // A second start hands over to the running one, which opens its panel.
    bool openPanel() {
        Child second({programPath()}, env_);
        return second.wait() == 0;
    }

private:
    TempDir dir_;
    std::string busAddress_;
    int busPid_ = 0;
    std::vector<std::string> env_;
    std::optional<Child> program_;
};

// An X server of its own with a window manager, as on a desktop: Xvfb and openbox. The screen
// saver is off, so that the screen stays lit through the run.
class XDesktop {
public:
    static std::optional<std::string> missingTool() {
        for (const char* tool : {"Xvfb", "openbox"}) {
            if (!onPath(tool)) return std::string(tool) + " is missing (Debian: xvfb, openbox)";
        }
        return std::nullopt;
    }

    // `setting`: the variable that may name its display.
    explicit XDesktop(const char* setting = "VELTO_BENCH_DISPLAY") {
        const std::vector<std::string> screen{"-screen", "0", "1920x1080x24", "-nolisten", "tcp", "-s", "0"};
        const std::vector<std::string> env{"PATH=/usr/bin:/bin"};
        if (const char* name = std::getenv(setting); name && *name) {
            const std::string display = name[0] == ':' ? name : ":" + std::string(name);
            std::vector<std::string> argv{"Xvfb", display};
            argv.insert(argv.end(), screen.begin(), screen.end());
            server_.emplace(argv, env);
            const auto socket = "/tmp/.X11-unix/X" + display.substr(1);
            for (int i = 0; i < 100 && server_->running() && !std::filesystem::exists(socket); ++i)
                std::this_thread::sleep_for(100ms);
            if (server_->running() && std::filesystem::exists(socket)) display_ = display;
        } else {
            // The server takes a free display itself and writes its number once it listens, so
            // that runs started together never take each other's.
            const auto written = dir_.path() / "display";
            std::vector<std::string> argv{"Xvfb", "-displayfd", "1"};
            argv.insert(argv.end(), screen.begin(), screen.end());
            server_.emplace(argv, env, written.string());
            for (int i = 0; i < 100 && server_->running() && display_.empty(); ++i) {
                std::this_thread::sleep_for(100ms);
                std::ifstream file(written);
                std::string number;
                if (std::getline(file, number) && !file.eof() && !number.empty()) display_ = ":" + number;
            }
        }
        if (display_.empty() || !server_->running()) {
            display_.clear();
            server_.reset();
            return;
        }
        manager_.emplace(std::vector<std::string>{"openbox"},
                         std::vector<std::string>{"PATH=/usr/bin:/bin", "DISPLAY=" + display_,
                                                  "HOME=" + dir_.path().string()});
        if (const char* compositor = std::getenv("VELTO_BENCH_COMPOSITOR"); compositor && *compositor)
            compositor_.emplace(std::vector<std::string>{compositor},
                                std::vector<std::string>{"PATH=/usr/bin:/bin", "DISPLAY=" + display_});
        std::this_thread::sleep_for(1s);  // until it manages the screen
    }

    // Empty when no server could be started.
    const std::string& display() const { return display_; }
    const Child& server() const { return *server_; }

private:
    TempDir dir_;
    std::optional<Child> server_;
    std::optional<Child> manager_;
    std::optional<Child> compositor_;
    std::string display_;
};

// Another program's window moved about 60 times a second far from the notch (at the top of the
// screen), as a window dragged or animated on a desktop, on a connection of its own. It passes
// the window manager by, so that the moves cost the server little beside what the program adds.
class WindowMover {
public:
    explicit WindowMover(const std::string& display) : connection_(xcb_connect(display.c_str(), nullptr)) {
        if (xcb_connection_has_error(connection_)) return;
        const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(connection_)).data;
        window_ = xcb_generate_id(connection_);
        const std::uint32_t values[] = {screen->white_pixel, 1};
        xcb_create_window(connection_, XCB_COPY_FROM_PARENT, window_, screen->root, 100, 600, 100, 100, 0,
                          XCB_WINDOW_CLASS_INPUT_OUTPUT, screen->root_visual,
                          XCB_CW_BACK_PIXEL | XCB_CW_OVERRIDE_REDIRECT, values);
        xcb_map_window(connection_, window_);
        xcb_flush(connection_);
        mover_ = std::jthread([this](std::stop_token stop) {
            auto next = std::chrono::steady_clock::now();
            for (int step = 0; !stop.stop_requested(); ++step) {
                const std::uint32_t place[] = {std::uint32_t(100 + (step % 120) * 5), 600};
                xcb_configure_window(connection_, window_, XCB_CONFIG_WINDOW_X | XCB_CONFIG_WINDOW_Y, place);
                xcb_flush(connection_);
                while (xcb_generic_event_t* event = xcb_poll_for_event(connection_)) std::free(event);
                next += std::chrono::microseconds(16667);
                std::this_thread::sleep_until(next);
            }
        });
    }
    ~WindowMover() {
        mover_ = {};
        xcb_disconnect(connection_);
    }
    WindowMover(const WindowMover&) = delete;
    WindowMover& operator=(const WindowMover&) = delete;

    bool moving() const { return mover_.joinable(); }

private:
    xcb_connection_t* connection_;
    xcb_window_t window_ = 0;
    std::jthread mover_;
};

// The least a client can spend on a meter that swings in a window of its own: a 24×20 picture
// redrawn 7.14 times a second from 64 frames kept on the server, the steps queued ten seconds
// ahead and held back by the server until their time (SYNC's Await on SERVERTIME). Its thread
// wakes once in nearly ten seconds. Runs in this process; its CPU is its thread's.
class FloorClient {
public:
    explicit FloorClient(const std::string& display) : connection_(xcb_connect(display.c_str(), nullptr)) {
        if (xcb_connection_has_error(connection_)) return;
        const auto* sync = xcb_get_extension_data(connection_, &xcb_sync_id);
        if (!sync || !sync->present) return;
        std::free(xcb_sync_initialize_reply(connection_, xcb_sync_initialize(connection_, 3, 1), nullptr));
        const std::uint32_t counter = serverTime();
        if (counter == 0) return;
        const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(connection_)).data;
        const xcb_window_t window = xcb_generate_id(connection_);
        const std::uint32_t values[] = {screen->black_pixel, 1};
        xcb_create_window(connection_, XCB_COPY_FROM_PARENT, window, screen->root, 950, 14, width, height, 0,
                          XCB_WINDOW_CLASS_INPUT_OUTPUT, screen->root_visual,
                          XCB_CW_BACK_PIXEL | XCB_CW_OVERRIDE_REDIRECT, values);
        xcb_map_window(connection_, window);
        const xcb_gcontext_t gc = xcb_generate_id(connection_);
        const std::uint32_t gcValues[] = {screen->white_pixel, 0};
        xcb_create_gc(connection_, gc, window, XCB_GC_FOREGROUND | XCB_GC_GRAPHICS_EXPOSURES, gcValues);
        std::vector<xcb_pixmap_t> frames;
        for (int frame = 0; frame < 64; ++frame) {
            const xcb_pixmap_t pixmap = xcb_generate_id(connection_);
            xcb_create_pixmap(connection_, screen->root_depth, pixmap, window, width, height);
            const xcb_rectangle_t bar{0, 0, width, std::uint16_t(1 + frame * height / 64)};
            xcb_poly_fill_rectangle(connection_, pixmap, gc, 1, &bar);
            frames.push_back(pixmap);
        }
        auto* value = xcb_sync_query_counter_reply(connection_, xcb_sync_query_counter(connection_, counter), nullptr);
        if (!value) return;
        const std::int64_t serverNow = (std::int64_t(value->counter_value.hi) << 32) | value->counter_value.lo;
        std::free(value);
        const auto start = std::chrono::steady_clock::now();
        stepper_ = std::jthread([this, counter, window, gc, frames, serverNow, start](std::stop_token stop) {
            tid_ = gettid();
            constexpr auto step = std::chrono::microseconds(140000);
            auto queuedUntil = start;
            int index = 0;
            while (!stop.stop_requested()) {
                for (auto at = queuedUntil + step; at <= std::chrono::steady_clock::now() + 10s; at += step) {
                    const std::int64_t due =
                        serverNow + std::chrono::duration_cast<std::chrono::milliseconds>(at - start).count();
                    xcb_sync_waitcondition_t condition{};
                    condition.trigger.counter = counter;
                    condition.trigger.wait_type = XCB_SYNC_VALUETYPE_ABSOLUTE;
                    condition.trigger.wait_value = {std::int32_t(due >> 32), std::uint32_t(due)};
                    condition.trigger.test_type = XCB_SYNC_TESTTYPE_POSITIVE_COMPARISON;
                    condition.event_threshold = {std::numeric_limits<std::int32_t>::max(),
                                                 std::numeric_limits<std::uint32_t>::max()};
                    xcb_sync_await(connection_, 1, &condition);
                    xcb_copy_area(connection_, frames[std::size_t(index++ % 64)], window, gc, 0, 0, 0, 0, width,
                                  height);
                    queuedUntil = at;
                }
                xcb_flush(connection_);
                std::mutex mutex;
                std::unique_lock lock(mutex);
                std::condition_variable_any().wait_until(lock, stop, queuedUntil - 300ms, [] { return false; });
            }
        });
    }
    ~FloorClient() {
        stepper_ = {};
        xcb_disconnect(connection_);
    }
    FloorClient(const FloorClient&) = delete;
    FloorClient& operator=(const FloorClient&) = delete;

    bool stepping() const { return stepper_.joinable(); }
    double cpuSeconds() const {
        std::ifstream schedstat("/proc/self/task/" + std::to_string(tid_.load()) + "/schedstat");
        double nanoseconds = 0;
        schedstat >> nanoseconds;
        return nanoseconds / 1e9;
    }

private:
    static constexpr std::uint16_t width = 24, height = 20;

    // The SERVERTIME counter, 0 when the server has none: entries of a counter, a resolution, a
    // name length and the name, padded to four bytes.
    std::uint32_t serverTime() {
        auto* list = xcb_sync_list_system_counters_reply(connection_, xcb_sync_list_system_counters(connection_),
                                                         nullptr);
        if (!list) return 0;
        const auto* data = reinterpret_cast<const std::uint8_t*>(list + 1);
        const std::size_t length = std::size_t(list->length) * 4;
        std::uint32_t found = 0;
        std::size_t at = 0;
        for (std::uint32_t i = 0; i < list->counters_len && at + 14 <= length; ++i) {
            std::uint32_t counter;
            std::uint16_t nameLength;
            std::memcpy(&counter, data + at, 4);
            std::memcpy(&nameLength, data + at + 12, 2);
            if (at + 14 + nameLength > length) break;
            if (std::string(reinterpret_cast<const char*>(data + at + 14), nameLength) == "SERVERTIME") found = counter;
            at += (14 + nameLength + 3) & ~std::size_t(3);
        }
        std::free(list);
        return found;
    }

    xcb_connection_t* connection_;
    std::atomic<pid_t> tid_ = 0;
    std::jthread stepper_;
};

// A FLAC of a sine tone made by GStreamer itself.
bool writeFlac(const std::filesystem::path& path, double seconds) {
    const int buffers = int(seconds * 10);
    return std::system(("gst-launch-1.0 -q audiotestsrc wave=sine num-buffers=" +
                        std::to_string(buffers) +
                        " samplesperbuffer=4410 ! audio/x-raw,rate=44100,channels=2 ! "
                        "audioconvert ! flacenc ! filesink location='" + path.string() + "'")
                           .c_str()) == 0;
}

bool toolsMissing(benchmark::State& state) {
    if (std::string(VELTO_PROGRAM).empty()) {
        state.SkipWithError("the program was not built (VELTO_BUILD_UI is off)");
        return true;
    }
    for (const char* tool : {"gst-launch-1.0", "dbus-daemon", "dbus-send"}) {
        if (!onPath(tool)) {
            state.SkipWithError((std::string(tool) +
                                 " is missing (Debian: gstreamer1.0-tools, dbus-daemon, dbus-bin)")
                                    .c_str());
            return true;
        }
    }
    return false;
}

// The median of `values` and half their range.
std::pair<double, double> medianAndSpread(std::vector<double> values) {
    if (values.empty()) return {0, 0};
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    const double median = n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
    return {median, (values.back() - values.front()) / 2};
}

// Playbins play the song beside the program, and every window is measured beside them: a
// machine's load moves from window to window, and two playbins differ from each other by more
// than the margins measured here. Each window's figures are divided by their mean CPU in the
// same window. The program plays the same file; each window measures the CPU per second of
// audio and its main thread's wake-ups (and involuntary switches) a second, first with the
// panel closed, then with it open. Given the X server, its CPU and wake-ups too, and the ratio
// of the program and the server together to playbin, which needs no server: openbox, the
// server's only other client, stays idle meanwhile. On X the floor (the least client that shows
// a meter, with a server of its own) runs on a second X server, and every window measures it
// too: floor and program see the same load at the same time, where one after the other they
// would each see another. The run takes several rounds, each of two windows: the panel closed,
// and the same while another program's window moves far from the notch ("moving"). Each round
// starts every process afresh (the program, the playbins, the floor's client and both X
// servers): a process keeps its own pace for its whole life, one playbin up to a fifth faster
// than another on the same song, so that one kept through the run would weigh on every round
// alike. For the same reason several playbins (VELTO_BENCH_PLAYBINS, 3) play side by side and
// their mean is the one divided by.
// `closed_over_floor` and `moving_vs_still` are the rounds' medians, with half their range as
// the spread; the other figures are the last round's, which also measures the panel open. The
// server's cost of the moves beyond what the same moves cost it alone is measured before the
// first round's program starts and after the last one's ends, as the machine's load drifts.
void measureBesidePlaybin(benchmark::State& state, bool onX) {
    const double window = measuredSeconds(onX ? 8 : 15);
    // Odd, so that the median is a round's own.
    const int rounds = onX ? int(positiveSetting("VELTO_BENCH_ROUNDS", 9)) : 1;
    // Playbins measured side by side, whose mean is the one divided by: each has its own pace.
    const int playbinCount = int(positiveSetting("VELTO_BENCH_PLAYBINS", 3));
    state.counters["playbins"] = playbinCount;
    // It outlasts a round whatever the windows' length.
    const double songSeconds = std::max(positiveSetting("VELTO_BENCH_SONG_SECONDS", 240), 3 * window + 60);
    TempDir dir;
    auto song = dir.path() / "song.flac";
    if (!writeFlac(song, songSeconds)) return state.SkipWithError("flacenc is missing");
    state.counters["song_seconds"] = songSeconds;
    state.counters["rounds"] = rounds;
    std::pair<double, double> moverAlone;
    const auto measureMoverAlone = [&](const XDesktop& desktop) {
        WindowMover mover(desktop.display());
        if (!mover.moving()) return false;
        std::this_thread::sleep_for(1s);
        const double before = desktop.server().cpuSeconds();
        const double wakeupsBefore = desktop.server().mainThreadSwitches().first;
        std::this_thread::sleep_for(std::chrono::duration<double>(window));
        moverAlone.first += 1000 * (desktop.server().cpuSeconds() - before) / window / 2;
        moverAlone.second += (desktop.server().mainThreadSwitches().first - wakeupsBefore) / window / 2;
        return true;
    };
    std::vector<double> overFloor, movingVsStill, movingExtraWakeups;
    std::ofstream log;
    if (const char* path = std::getenv("VELTO_BENCH_LOG"); path && *path) log.open(path, std::ios::app);
    for (auto _ : state) {
        for (int round = 0; round < rounds; ++round) {
            const bool last = round == rounds - 1;
            std::optional<XDesktop> desktop, floorDesktop;
            if (onX) {
                desktop.emplace();
                if (desktop->display().empty()) return state.SkipWithError("no X display could be started");
                floorDesktop.emplace("VELTO_BENCH_FLOOR_DISPLAY");
                if (floorDesktop->display().empty())
                    return state.SkipWithError("no second X display could be started");
                if (round == 0 && !measureMoverAlone(*desktop))
                    return state.SkipWithError("no window could be moved on the X display");
            }
            const std::string display = onX ? desktop->display() : std::string();
            const Child* server = onX ? &desktop->server() : nullptr;
            const Child* floorServer = onX ? &floorDesktop->server() : nullptr;
            {
                std::vector<std::unique_ptr<Child>> playbins;
                for (int i = 0; i < playbinCount; ++i) {
                    playbins.push_back(std::make_unique<Child>(
                        std::vector<std::string>{"gst-launch-1.0", "-q", "playbin", "uri=file://" + song.string(),
                                                 "audio-sink=fakesink sync=true", "flags=2"},
                        std::vector<std::string>{"PATH=/usr/bin:/bin"}));
                }
                const auto playbinSeconds = [&] {
                    double total = 0;
                    for (const auto& playbin : playbins) total += playbin->cpuSeconds();
                    return total / double(playbins.size());
                };
                std::optional<FloorClient> floor;
                if (onX) {
                    floor.emplace(floorDesktop->display());
                    if (!floor->stepping())
                        return state.SkipWithError("the floor client found no SERVERTIME counter");
                }
                Program program(song, "playInOrder", display);
                if (!program.play()) return state.SkipWithError("the program did not start playing");
                std::this_thread::sleep_for(3s);  // past start-up and the first frames
                // The program (with the server) over playbin in the window; beside it the floor:
                // playbin, the client and its server together, over playbin alone.
                double floorOverPlaybin = 0;
                auto measure = [&](const std::string& name) {
                    const double programBefore = program.child().cpuSeconds();
                    const double playbinBefore = playbinSeconds();
                    const double serverBefore = server ? server->cpuSeconds() : 0;
                    const double clientBefore = floor ? floor->cpuSeconds() : 0;
                    const double floorServerBefore = floorServer ? floorServer->cpuSeconds() : 0;
                    const auto switchesBefore = program.child().mainThreadSwitches();
                    const double allWakeupsBefore = program.child().allThreadsWakeups();
                    const auto serverSwitchesBefore =
                        server ? server->mainThreadSwitches() : std::pair<double, double>();
                    std::this_thread::sleep_for(std::chrono::duration<double>(window));
                    const double programMs = 1000 * (program.child().cpuSeconds() - programBefore) / window;
                    const double playbinMs = 1000 * (playbinSeconds() - playbinBefore) / window;
                    const auto switches = program.child().mainThreadSwitches();
                    state.counters[name + "_all_threads_wakeups_per_s"] =
                        (program.child().allThreadsWakeups() - allWakeupsBefore) / window;
                    state.counters[name + "_ms_per_s"] = programMs;
                    state.counters["playbin_" + name + "_ms_per_s"] = playbinMs;
                    state.counters[name + "_ratio"] = playbinMs > 0 ? programMs / playbinMs : 0;
                    state.counters[name + "_wakeups_per_s"] = (switches.first - switchesBefore.first) / window;
                    state.counters[name + "_involuntary_per_s"] = (switches.second - switchesBefore.second) / window;
                    if (!server) return state.counters[name + "_ratio"].value;
                    const double serverMs = 1000 * (server->cpuSeconds() - serverBefore) / window;
                    state.counters["x_server_" + name + "_ms_per_s"] = serverMs;
                    state.counters["x_server_" + name + "_wakeups_per_s"] =
                        (server->mainThreadSwitches().first - serverSwitchesBefore.first) / window;
                    state.counters[name + "_with_x_server_ratio"] =
                        playbinMs > 0 ? (programMs + serverMs) / playbinMs : 0;
                    const double clientMs = 1000 * (floor->cpuSeconds() - clientBefore) / window;
                    const double floorServerMs = 1000 * (floorServer->cpuSeconds() - floorServerBefore) / window;
                    state.counters["floor_playbin_ms_per_s"] = playbinMs;
                    state.counters["floor_client_ms_per_s"] = clientMs;
                    state.counters["floor_x_server_ms_per_s"] = floorServerMs;
                    floorOverPlaybin = playbinMs > 0 ? (playbinMs + clientMs + floorServerMs) / playbinMs : 0;
                    state.counters["floor_ratio"] = floorOverPlaybin;
                    if (log.is_open())
                        log << name << " program " << programMs << " server " << serverMs << " playbin " << playbinMs
                            << " client " << clientMs << " floor_server " << floorServerMs << " over_floor "
                            << (programMs + serverMs) / (playbinMs + clientMs + floorServerMs) << std::endl;
                    return state.counters[name + "_with_x_server_ratio"].value;
                };
                const double closed = measure("closed");
                if (onX) {
                    // Each step of the meter wakes the server; a run in which it never stepped
                    // measures a program that shows less than it should.
                    if (state.counters["x_server_closed_wakeups_per_s"] < 1000.0 / 140 / 2)
                        return state.SkipWithError("the notch meter never stepped");
                    if (floorOverPlaybin > 0) overFloor.push_back(closed / floorOverPlaybin);
                    const double still = state.counters["closed_ratio"];
                    std::optional<WindowMover> mover(std::in_place, display);
                    std::this_thread::sleep_for(1s);
                    measure("moving");
                    mover.reset();
                    if (still > 0) movingVsStill.push_back(state.counters["moving_ratio"] / still);
                    movingExtraWakeups.push_back(state.counters["moving_all_threads_wakeups_per_s"] -
                                                 state.counters["closed_all_threads_wakeups_per_s"]);
                }
                if (last) {
                    if (onX) std::this_thread::sleep_for(1s);  // past what the last moves left to do
                    if (!program.openPanel()) return state.SkipWithError("the panel did not open");
                    std::this_thread::sleep_for(2s);
                    measure("open");
                }
            }
            if (last && onX && !measureMoverAlone(*desktop)) return;
        }
    }
    if (!onX) return;
    const auto [overFloorMedian, overFloorSpread] = medianAndSpread(overFloor);
    state.counters["closed_over_floor"] = overFloorMedian;
    state.counters["closed_over_floor_spread"] = overFloorSpread;
    const auto [movingMedian, movingSpread] = medianAndSpread(movingVsStill);
    state.counters["moving_vs_still"] = movingMedian;
    state.counters["moving_vs_still_spread"] = movingSpread;
    // What wakes only for the moves: the threads' wake-ups a second beyond those with nothing moving.
    state.counters["moving_extra_wakeups_per_s"] = medianAndSpread(movingExtraWakeups).first;
    // The server's CPU and wake-ups beyond what the moves alone cost it, beside its own with
    // nothing moving (the meter's steps are in both).
    const double stillServerMs = state.counters["x_server_closed_ms_per_s"];
    const double extraServerMs = state.counters["x_server_moving_ms_per_s"] - moverAlone.first;
    state.counters["x_server_mover_alone_ms_per_s"] = moverAlone.first;
    state.counters["x_server_mover_alone_wakeups_per_s"] = moverAlone.second;
    state.counters["x_server_moving_extra_ms_per_s"] = extraServerMs;
    state.counters["x_server_moving_extra_vs_still"] = stillServerMs > 0 ? extraServerMs / stillServerMs : 0;
    state.counters["x_server_moving_extra_wakeups_per_s"] =
        state.counters["x_server_moving_wakeups_per_s"] - moverAlone.second;
}

void BM_ProgramCpuBesidePlaybin(benchmark::State& state) {
    if (toolsMissing(state)) return;
    measureBesidePlaybin(state, false);
}
BENCHMARK(BM_ProgramCpuBesidePlaybin)->Iterations(1)->Unit(benchmark::kSecond);

// The same on an X desktop, where the windows are drawn and sent to the server.
void BM_ProgramCpuBesidePlaybinOnX(benchmark::State& state) {
    if (toolsMissing(state)) return;
    if (auto missing = XDesktop::missingTool()) return state.SkipWithError(missing->c_str());
    measureBesidePlaybin(state, true);
}
BENCHMARK(BM_ProgramCpuBesidePlaybinOnX)->Iterations(1)->Unit(benchmark::kSecond);

// Bytes per second of a least-squares line through (seconds, bytes).
double slope(const std::vector<std::pair<double, double>>& samples) {
    double n = double(samples.size()), sx = 0, sy = 0, sxx = 0, sxy = 0;
    for (const auto& [x, y] : samples) {
        sx += x;
        sy += y;
        sxx += x * x;
        sxy += x * y;
    }
    const double spread = n * sxx - sx * sx;
    return spread > 0 ? (n * sxy - sx * sy) / spread : 0.0;
}

// After the first ten seconds of a program playing songs of `songSeconds` on repeat, the
// anonymous memory it gains per song and per minute, as the system counts it (RssAnon). A longer
// warm-up would hide what the allocator keeps: that growth levels off after a few hundred songs,
// megabytes higher. Sampled each second and fitted by least squares, so that the moment of a
// song's change at either end of the window does not count; the window's halves are fitted apart
// too: growth that slows down is settling, growth that keeps its pace is a leak.
void measureMemoryOnRepeat(benchmark::State& state, Program& program, double songSeconds) {
    const double warmUp = 10;
    // Long enough for the script engine's collector to have run: its heap grows between runs.
    const double window = measuredSeconds(600);
    if (!program.play()) return state.SkipWithError("the program did not start playing");
    std::this_thread::sleep_for(std::chrono::duration<double>(warmUp));
    std::vector<std::pair<double, double>> samples;
    const auto start = std::chrono::steady_clock::now();
    for (double at = 0; at <= window; at += 1) {
        std::this_thread::sleep_until(start + std::chrono::duration<double>(at));
        samples.emplace_back(at, program.child().anonymousResidentBytes());
    }
    const auto half = samples.begin() + std::ptrdiff_t(samples.size() / 2);
    state.counters["anon_rss_start_MB"] = samples.front().second / 1e6;
    state.counters["anon_rss_end_MB"] = samples.back().second / 1e6;
    state.counters["anon_bytes_per_song"] = slope(samples) * songSeconds;
    state.counters["anon_bytes_per_song_first_half"] = slope({samples.begin(), half}) * songSeconds;
    state.counters["anon_bytes_per_song_second_half"] = slope({half, samples.end()}) * songSeconds;
    state.counters["anon_bytes_per_minute"] = slope(samples) * 60;
    state.counters["anon_bytes_per_minute_second_half"] = slope({half, samples.end()}) * 60;
}

// Short local songs on repeat (one second, and five, which change songs less often than the
// program's collections and trims run).
void BM_ProgramMemoryPerSong(benchmark::State& state) {
    if (toolsMissing(state)) return;
    const double songSeconds = double(state.range(0));
    TempDir dir;
    auto song = dir.path() / "song.flac";
    if (!writeFlac(song, songSeconds)) return state.SkipWithError("flacenc is missing");
    for (auto _ : state) {
        Program program(song, "repeatOne");
        measureMemoryOnRepeat(state, program, songSeconds);
    }
}
BENCHMARK(BM_ProgramMemoryPerSong)->ArgName("song_seconds")->Arg(1)->Arg(5)->Iterations(1)->Unit(benchmark::kSecond);

// The CPU a song change costs the whole program: one program plays two-second songs on repeat
// while another plays one long song, side by side over the same window; the difference of their
// CPU, per change. Counted from the kernel's totals for each process, so that threads that end
// with a song count too. A process keeps its own pace all its life, so each round
// (VELTO_BENCH_ROUNDS, 5) starts both afresh; the median of the rounds and half their range. In
// a list each change is a gapless hand-over; repeating one song loads it anew.
void BM_ProgramCpuPerSongChange(benchmark::State& state, const std::string& mode) {
    if (toolsMissing(state)) return;
    const double songSeconds = 2;
    const double window = measuredSeconds(60);
    const int rounds = int(positiveSetting("VELTO_BENCH_ROUNDS", 5));
    TempDir dir;
    const auto shortSong = dir.path() / "short.flac";
    const auto longSong = dir.path() / "long.flac";
    if (!writeFlac(shortSong, songSeconds) || !writeFlac(longSong, window + 60))
        return state.SkipWithError("flacenc is missing");
    for (auto _ : state) {
        std::vector<double> perChange;
        for (int round = 0; round < rounds; ++round) {
            Program changing(shortSong, mode);
            Program steady(longSong, mode);
            if (!changing.play() || !steady.play())
                return state.SkipWithError("the program did not start playing");
            std::this_thread::sleep_for(10s);
            const double changingBefore = changing.child().totalCpuSeconds();
            const double steadyBefore = steady.child().totalCpuSeconds();
            std::this_thread::sleep_for(std::chrono::duration<double>(window));
            const double changingSpent = changing.child().totalCpuSeconds() - changingBefore;
            const double steadySpent = steady.child().totalCpuSeconds() - steadyBefore;
            perChange.push_back(1000 * (changingSpent - steadySpent) / (window / songSeconds));
        }
        const auto [median, spread] = medianAndSpread(perChange);
        state.counters["cpu_ms_per_change"] = median;
        state.counters["cpu_ms_per_change_spread"] = spread;
    }
}
BENCHMARK_CAPTURE(BM_ProgramCpuPerSongChange, list, std::string("listLoop"))
    ->Iterations(1)
    ->Unit(benchmark::kSecond);
BENCHMARK_CAPTURE(BM_ProgramCpuPerSongChange, repeat_one, std::string("repeatOne"))
    ->Iterations(1)
    ->Unit(benchmark::kSecond);

// Five-second network songs on repeat from a media server that answers every request three
// seconds late: each song's first data are fetched ahead while the one before plays.
void BM_ProgramNetworkMemoryPerSong(benchmark::State& state) {
    if (toolsMissing(state)) return;
    const double songSeconds = 5;
    TempDir dir;
    FakeMusicServices services(songSeconds);
    services.delayMedia(3s);
    services.writeResources(dir.path() / "resources");
    const auto& song = services.songs().front();
    const Track track{MusicSource::wy, song.id, song.title, song.artist, song.album, std::nullopt, "{}"};
    for (auto _ : state) {
        Program program(track, "listLoop", {},
                        {"VELTO_NETEASE_BASE_URL=" + services.origin(),
                         "VELTO_ROVOZ_BASE_URL=" + services.origin(),
                         "VELTO_RESOURCE_DIR=" + (dir.path() / "resources").string()});
        const auto begun = std::chrono::steady_clock::now();
        measureMemoryOnRepeat(state, program, songSeconds);
        // At least one a song: a run whose songs stood asks for fewer.
        const std::chrono::duration<double> ran = std::chrono::steady_clock::now() - begun;
        state.counters["stream_requests_per_minute"] =
            double(services.requestCount("/stream/" + song.id + ".wav")) * 60 / ran.count();
    }
}
BENCHMARK(BM_ProgramNetworkMemoryPerSong)->Iterations(1)->Unit(benchmark::kSecond);

}  // namespace
}  // namespace velto
