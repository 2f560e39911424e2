#include <gtest/gtest.h>
#include <poll.h>
#include <xcb/composite.h>
#include <xcb/damage.h>
#include <xcb/res.h>
#include <xcb/xcb.h>

#include <QDBusConnection>
#include <QDBusMessage>
#include <QProcess>
#include <QRect>
#include <QTest>
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <optional>
#include <tuple>
#include <vector>

#include "../ViewHarness.h"
#include "../XvfbDisplay.h"
#include "support/TempDir.h"
#include "ui/notch/X11MeterWindow.h"
#include "ui/notch/X11RootWatcher.h"
#include "ui/window/TrayHostWatcher.h"

namespace velto {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr auto patience = 10s;

// The test's own client on its X server: it makes the windows a desktop would have, acts as
// the window manager where one is needed, and watches what the meter does to the server.
class Desk {
public:
    explicit Desk(const QByteArray& display) : connection_(xcb_connect(display.constData(), nullptr)) {
        screen_ = xcb_setup_roots_iterator(xcb_get_setup(connection_)).data;
        std::free(xcb_damage_query_version_reply(connection_, xcb_damage_query_version(connection_, 1, 1), nullptr));
        damageEvent_ = xcb_get_extension_data(connection_, &xcb_damage_id)->first_event + XCB_DAMAGE_NOTIFY;
    }
    ~Desk() { xcb_disconnect(connection_); }

    bool connected() const { return xcb_connection_has_error(connection_) == 0; }
    xcb_window_t root() const { return screen_->root; }

    // An override-redirect window on the root (or inside `parent`), mapped; 32 bits deep with
    // an alpha channel as the notch's, or as deep as the root.
    // `id`: one taken earlier from `newId`. `managed`: one left to a window manager, as a
    // program's own windows and a desktop's panel are.
    xcb_window_t window(QRect frame, bool alpha = false, xcb_window_t parent = 0, xcb_window_t id = 0,
                        bool managed = false) {
        xcb_visualid_t visual = screen_->root_visual;
        std::uint8_t depth = screen_->root_depth;
        xcb_colormap_t colormap = screen_->default_colormap;
        if (alpha) {
            for (auto d = xcb_screen_allowed_depths_iterator(screen_); d.rem > 0; xcb_depth_next(&d)) {
                if (d.data->depth != 32) continue;
                visual = xcb_depth_visuals_iterator(d.data).data->visual_id;
                depth = 32;
            }
            colormap = xcb_generate_id(connection_);
            xcb_create_colormap(connection_, XCB_COLORMAP_ALLOC_NONE, colormap, root(), visual);
        }
        const xcb_window_t window = id ? id : newId();
        const std::uint32_t values[] = {0, 0, managed ? 0u : 1u, colormap};
        xcb_create_window(connection_, depth, window, parent ? parent : root(), std::int16_t(frame.x()),
                          std::int16_t(frame.y()), std::uint16_t(frame.width()), std::uint16_t(frame.height()), 0,
                          XCB_WINDOW_CLASS_INPUT_OUTPUT, visual,
                          XCB_CW_BACK_PIXEL | XCB_CW_BORDER_PIXEL | XCB_CW_OVERRIDE_REDIRECT | XCB_CW_COLORMAP,
                          values);
        map(window);
        return window;
    }
    xcb_window_t newId() { return xcb_generate_id(connection_); }
    void map(xcb_window_t window) { xcb_map_window(connection_, window), sync(); }
    void unmap(xcb_window_t window) { xcb_unmap_window(connection_, window), sync(); }
    void destroy(xcb_window_t window) { xcb_destroy_window(connection_, window), sync(); }
    void raise(xcb_window_t window) {
        const std::uint32_t above = XCB_STACK_MODE_ABOVE;
        xcb_configure_window(connection_, window, XCB_CONFIG_WINDOW_STACK_MODE, &above);
        sync();
    }
    void move(xcb_window_t window, QPoint to) {
        const std::uint32_t values[] = {std::uint32_t(to.x()), std::uint32_t(to.y())};
        xcb_configure_window(connection_, window, XCB_CONFIG_WINDOW_X | XCB_CONFIG_WINDOW_Y, values);
        sync();
    }
    // What a window manager sets: the active window, and a window's full-screen state.
    void activate(xcb_window_t window) {
        xcb_change_property(connection_, XCB_PROP_MODE_REPLACE, root(), atom("_NET_ACTIVE_WINDOW"), XCB_ATOM_WINDOW,
                            32, 1, &window);
        sync();
    }
    void makeFullScreen(xcb_window_t window) {
        const xcb_atom_t state = atom("_NET_WM_STATE_FULLSCREEN");
        xcb_change_property(connection_, XCB_PROP_MODE_REPLACE, window, atom("_NET_WM_STATE"), XCB_ATOM_ATOM, 32, 1,
                            &state);
        sync();
    }

    // Owns the selection by which a compositing manager tells it runs on the first screen.
    xcb_window_t poseAsCompositor() { return own("_NET_WM_CM_S0"); }
    // As a compositing manager that starts: the root's windows are drawn off screen, and the
    // server no longer tells whether they are seen. It ends with the returned window.
    xcb_window_t startCompositor() {
        std::free(xcb_composite_query_version_reply(connection_, xcb_composite_query_version(connection_, 0, 4),
                                                    nullptr));
        xcb_composite_redirect_subwindows(connection_, root(), XCB_COMPOSITE_REDIRECT_MANUAL);
        return poseAsCompositor();
    }
    void stopCompositor(xcb_window_t owner) {
        xcb_composite_unredirect_subwindows(connection_, root(), XCB_COMPOSITE_REDIRECT_MANUAL);
        destroy(owner);
    }
    // Owns the selection `name` with a window of its own, which ends the ownership when destroyed.
    xcb_window_t own(const char* name) {
        const xcb_window_t owner = xcb_generate_id(connection_);
        xcb_create_window(connection_, 0, owner, root(), 0, 0, 1, 1, 0, XCB_WINDOW_CLASS_INPUT_ONLY,
                          XCB_COPY_FROM_PARENT, 0, nullptr);
        xcb_set_selection_owner(connection_, owner, atom(name), XCB_CURRENT_TIME);
        sync();
        return owner;
    }

    // Hosts the tray of the first screen in a window of its own at `frame`, as a desktop's panel
    // that starts: owns its selection and tells the root's listeners.
    xcb_window_t hostTray(QRect frame) {
        const xcb_window_t host = window(frame);
        trayOpcode_ = atom("_NET_SYSTEM_TRAY_OPCODE");
        const xcb_atom_t selection = atom("_NET_SYSTEM_TRAY_S0");
        xcb_set_selection_owner(connection_, host, selection, XCB_CURRENT_TIME);
        xcb_client_message_event_t told{};
        told.response_type = XCB_CLIENT_MESSAGE;
        told.format = 32;
        told.window = root();
        told.type = atom("MANAGER");
        told.data.data32[0] = XCB_CURRENT_TIME;
        told.data.data32[1] = selection;
        told.data.data32[2] = host;
        xcb_send_event(connection_, 0, root(), XCB_EVENT_MASK_STRUCTURE_NOTIFY, reinterpret_cast<const char*>(&told));
        sync();
        return host;
    }
    // The window a program asked the tray to take, 0 while none has.
    xcb_window_t dockRequested() {
        forgetDrawing();
        return docked_;
    }
    // The root's children, bottom first.
    std::vector<xcb_window_t> stack() {
        auto* tree = xcb_query_tree_reply(connection_, xcb_query_tree(connection_, root()), nullptr);
        std::vector<xcb_window_t> children;
        if (tree) {
            const xcb_window_t* first = xcb_query_tree_children(tree);
            children.assign(first, first + xcb_query_tree_children_length(tree));
        }
        std::free(tree);
        return children;
    }
    // Whether the root's child `upper` is stacked above its child `lower`.
    bool stackedAbove(xcb_window_t upper, xcb_window_t lower) {
        const auto children = stack();
        const auto upperAt = std::find(children.begin(), children.end(), upper);
        return upperAt != children.end() && std::find(children.begin(), upperAt, lower) != upperAt;
    }
    // The root's child stacked just above `window`, 0 when there is none.
    xcb_window_t above(xcb_window_t window) {
        const auto children = stack();
        const auto at = std::find(children.begin(), children.end(), window);
        return at != children.end() && at + 1 != children.end() ? *(at + 1) : 0;
    }
    // Where `window` lies on the root and whether it is shown. Another client's requests may be
    // handled between the two questions: the state is asked first, so that a window told shown
    // is told where it lies since.
    std::pair<QRect, bool> frame(xcb_window_t window) {
        const auto attributesAsked = xcb_get_window_attributes(connection_, window);
        auto* geometry = xcb_get_geometry_reply(connection_, xcb_get_geometry(connection_, window), nullptr);
        auto* attributes = xcb_get_window_attributes_reply(connection_, attributesAsked, nullptr);
        std::pair<QRect, bool> found;
        if (geometry) found.first = QRect(geometry->x, geometry->y, geometry->width, geometry->height);
        found.second = attributes && attributes->map_state == XCB_MAP_STATE_VIEWABLE;
        std::free(geometry);
        std::free(attributes);
        return found;
    }
    // The top-level window that takes the pointer's events at `at`.
    xcb_window_t pointedAt(QPoint at) {
        xcb_warp_pointer(connection_, XCB_NONE, root(), 0, 0, 0, 0, std::int16_t(at.x()), std::int16_t(at.y()));
        auto* pointer = xcb_query_pointer_reply(connection_, xcb_query_pointer(connection_, root()), nullptr);
        const xcb_window_t found = pointer ? pointer->child : 0;
        std::free(pointer);
        return found;
    }
    // The window another client stacked just above `window` and showed, once there is one. A
    // window is made on top and only then placed and shown: made, it may lie above for a while
    // where it does not belong yet.
    xcb_window_t madeAbove(xcb_window_t window) {
        xcb_window_t found = 0;
        waitUntil([&] { return (found = above(window)) != 0 && frame(found).second; });
        return found;
    }

    // Each drawing into `window` or the windows inside it from now on is an event here.
    void watchDrawing(xcb_window_t window) {
        watched_ = window;
        xcb_damage_create(connection_, xcb_generate_id(connection_), window,
                          XCB_DAMAGE_REPORT_LEVEL_RAW_RECTANGLES);
        sync();
    }
    // Waits for `count` drawings into the watched window after those already told.
    bool drawnAgain(int count) {
        forgetDrawing();
        return drawn(count);
    }
    // Drawings told so far are not counted by `drawn`. Called before an act whose drawing is
    // awaited, as the drawing may be told before `drawn` asks.
    void forgetDrawing() {
        while (xcb_generic_event_t* event = xcb_poll_for_event(connection_)) take(event);
    }
    // Each window made inside `parent` from now on is counted by `made`.
    void watchMaking(xcb_window_t parent) {
        const std::uint32_t mask = XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
        xcb_change_window_attributes(connection_, parent, XCB_CW_EVENT_MASK, &mask);
        sync();
    }
    int made() {
        sync();
        forgetDrawing();
        return made_;
    }
    // The colour of one pixel of `window` as the screen shows it.
    std::uint32_t pixel(xcb_window_t window, QPoint at) {
        auto* image = xcb_get_image_reply(
            connection_,
            xcb_get_image(connection_, XCB_IMAGE_FORMAT_Z_PIXMAP, window, std::int16_t(at.x()), std::int16_t(at.y()),
                          1, 1, ~0u),
            nullptr);
        std::uint32_t found = 0;
        if (image && xcb_get_image_data_length(image) >= 4) std::memcpy(&found, xcb_get_image_data(image), 4);
        std::free(image);
        return found & 0xffffff;
    }
    // Waits for `count` drawings into the watched window not yet forgotten.
    bool drawn(int count) {
        int seen = 0;
        const auto deadline = Clock::now() + patience;
        while (seen < count && Clock::now() < deadline) {
            pollfd fd{xcb_get_file_descriptor(connection_), POLLIN, 0};
            poll(&fd, 1, 100);
            while (xcb_generic_event_t* event = xcb_poll_for_event(connection_)) {
                if ((event->response_type & ~0x80) == damageEvent_ &&
                    reinterpret_cast<xcb_damage_notify_event_t*>(event)->drawable == watched_)
                    ++seen;
                take(event);
            }
        }
        return seen >= count;
    }

    // The clients of the server other than this one and the server itself: (resource base,
    // pixmaps held).
    std::vector<std::pair<std::uint32_t, int>> otherClients() {
        std::vector<std::pair<std::uint32_t, int>> found;
        auto* clients = xcb_res_query_clients_reply(connection_, xcb_res_query_clients(connection_), nullptr);
        if (!clients) return found;
        const xcb_atom_t pixmap = atom("PIXMAP");
        for (auto it = xcb_res_query_clients_clients_iterator(clients); it.rem > 0; xcb_res_client_next(&it)) {
            const std::uint32_t base = it.data->resource_base;
            if (base == 0 || base == xcb_get_setup(connection_)->resource_id_base) continue;
            auto* held = xcb_res_query_client_resources_reply(
                connection_, xcb_res_query_client_resources(connection_, base), nullptr);
            if (!held) continue;  // gone since
            int pixmaps = 0;
            for (auto type = xcb_res_query_client_resources_types_iterator(held); type.rem > 0;
                 xcb_res_type_next(&type))
                if (type.data->resource_type == pixmap) pixmaps = int(type.data->count);
            std::free(held);
            found.emplace_back(base, pixmaps);
        }
        std::free(clients);
        return found;
    }
    void kill(std::uint32_t client) {
        xcb_kill_client(connection_, client);
        sync();
    }

    // Past this, events that the server sent other clients for earlier requests are in their
    // sockets: the server flushed them before it read this request.
    void roundTrips() { sync(), sync(); }

    static bool waitUntil(const std::function<bool()>& done) {
        const auto deadline = Clock::now() + patience;
        while (!done()) {
            if (Clock::now() >= deadline) return false;
            QTest::qWait(10);
        }
        return true;
    }

private:
    void take(xcb_generic_event_t* event) {
        const std::uint8_t type = event->response_type & ~0x80;
        if (type == XCB_CREATE_NOTIFY) ++made_;
        if (type == XCB_CLIENT_MESSAGE) {
            const auto* message = reinterpret_cast<const xcb_client_message_event_t*>(event);
            // A request to dock: its time, the opcode 0, the window.
            if (trayOpcode_ != 0 && message->type == trayOpcode_ && message->data.data32[1] == 0)
                docked_ = message->data.data32[2];
        }
        std::free(event);
    }

    xcb_atom_t atom(const char* name) {
        auto* reply = xcb_intern_atom_reply(
            connection_, xcb_intern_atom(connection_, 0, std::uint16_t(std::strlen(name)), name), nullptr);
        const xcb_atom_t found = reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
        std::free(reply);
        return found;
    }
    void sync() { std::free(xcb_get_input_focus_reply(connection_, xcb_get_input_focus(connection_), nullptr)); }

    xcb_connection_t* connection_;
    xcb_screen_t* screen_ = nullptr;
    std::uint8_t damageEvent_ = 0;
    xcb_window_t watched_ = 0;
    int made_ = 0;
    xcb_atom_t trayOpcode_ = 0;
    xcb_window_t docked_ = 0;
};

// The built program on the test's X display, in folders of its own and on a session bus of its
// own, where no status-notifier host runs: its tray icon docks in the X tray.
class ProgramOnX {
public:
    explicit ProgramOnX(const QByteArray& display) {
        const auto folder = [&](const char* name) {
            std::filesystem::create_directories(dir_.path() / name);
            return QString::fromStdString((dir_.path() / name).string());
        };
        environment_.insert(QStringLiteral("PATH"), qEnvironmentVariable("PATH"));
        environment_.insert(QStringLiteral("HOME"), folder("home"));
        environment_.insert(QStringLiteral("XDG_CONFIG_HOME"), folder("config"));
        environment_.insert(QStringLiteral("XDG_DATA_HOME"), folder("data"));
        environment_.insert(QStringLiteral("XDG_CACHE_HOME"), folder("cache"));
        environment_.insert(QStringLiteral("XDG_RUNTIME_DIR"), folder("runtime"));
        std::filesystem::permissions(dir_.path() / "runtime", std::filesystem::perms::owner_all);
        environment_.insert(QStringLiteral("DISPLAY"), QString::fromLatin1(display));
        environment_.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
        environment_.insert(QStringLiteral("VELTO_AUDIO_SINK"), QStringLiteral("fakesink sync=true"));
        bus_.start(QStringLiteral("dbus-daemon"), {"--session", "--nofork", "--print-address=1",
                                                   "--address=unix:dir=" + folder("runtime")});
        QByteArray address;
        while (!address.contains('\n') && bus_.waitForReadyRead(10000)) address += bus_.readAllStandardOutput();
        environment_.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), QString::fromLatin1(address.trimmed()));
        program_.setProcessEnvironment(environment_);
        program_.setProcessChannelMode(QProcess::MergedChannels);
        program_.start(QStringLiteral(VELTO_PROGRAM), {});
    }
    ~ProgramOnX() {
        program_.terminate();
        if (!program_.waitForFinished(10000)) program_.kill();
        bus_.terminate();
        bus_.waitForFinished(5000);
    }
    ProgramOnX(const ProgramOnX&) = delete;
    ProgramOnX& operator=(const ProgramOnX&) = delete;

    // Waits until it has written `words` to its log.
    bool said(const QByteArray& words) {
        return Desk::waitUntil([&] {
            output_ += program_.readAll();
            return output_.contains(words);
        });
    }
    const QByteArray& output() const { return output_; }

private:
    TempDir dir_;
    QProcessEnvironment environment_;
    QProcess bus_;
    QProcess program_;
    QByteArray output_;
};

class NotchOnX : public ::testing::Test {
protected:
    void SetUp() override {
        if (!display.present()) GTEST_SKIP() << "Xvfb is missing: the notch on X goes unchecked";
        ASSERT_FALSE(display.name().isEmpty()) << display.errors().toStdString();
        desk.emplace(display.name());
        ASSERT_TRUE(desk->connected());
    }

    // The meter swinging, as while a song plays.
    static X11MeterWindow::Look swinging(QColor backdrop = Qt::black) {
        return {.swinging = true, .heights = {10, 10, 10, 10}, .opacity = 0.9, .backdrop = backdrop};
    }
    // A notch window as the program's, on the top edge, 32 bits deep.
    xcb_window_t makeNotch() { return desk->window({500, 0, 280, 32}, true); }
    // The meter on the display, placed in `in` and showing `look`.
    void showMeter(xcb_window_t in, const X11MeterWindow::Look& look = swinging()) {
        notch = in;
        meter = X11MeterWindow::connect(display.name().constData());
        ASSERT_NE(meter, nullptr);
        meter->place(notch, {120, 4, 40, 24}, 1);
        meter->show(look);
    }
    // The same, and `bars`, its window, once made over the notch: watched, and drawn `drawings`
    // times since.
    void watchMeter(xcb_window_t in, const X11MeterWindow::Look& look = swinging(), int drawings = 2) {
        ASSERT_NO_FATAL_FAILURE(showMeter(in, look));
        bars = desk->madeAbove(notch);
        ASSERT_NE(bars, 0u);
        desk->watchDrawing(bars);
        if (drawings > 0) {
            ASSERT_TRUE(desk->drawnAgain(drawings));
        }
    }

    ViewHarness harness;
    XvfbDisplay display{QStringLiteral("2560x800x24")};
    std::optional<Desk> desk;
    xcb_window_t notch = 0;
    xcb_window_t bars = 0;
    std::unique_ptr<X11MeterWindow> meter;
};

class NotchOnXWithOrWithoutCompositor : public NotchOnX, public ::testing::WithParamInterface<bool> {};

// The meter steps while it is seen; covered whole by windows above it does not step, and past a
// brief cover keeps no frames on the server, though its window stays; and when the server closes
// the connection that times its steps, it steps by itself. The server tells the meter's window whether it is seen, unless a compositing
// manager redirects it: then it is judged from the windows stacked above.
TEST_P(NotchOnXWithOrWithoutCompositor, TheMeterStepsOnlyWhileSeen) {
    if (GetParam()) desk->poseAsCompositor();
    ASSERT_NO_FATAL_FAILURE(watchMeter(makeNotch(), swinging(), 0));
    EXPECT_TRUE(desk->drawnAgain(4)) << "shown";

    // Two windows, each over a part of it, hide it whole.
    const xcb_window_t left = desk->window({400, 0, 240, 40});
    const xcb_window_t right = desk->window({640, 0, 300, 40});
    const auto meterHolds = [&](int pixmaps) {
        return Desk::waitUntil([&] {
            const auto clients = desk->otherClients();
            return clients.size() == 1 && clients[0].second == pixmaps;
        });
    };
    EXPECT_TRUE(meterHolds(X11MeterWindow::filmLength))
        << "briefly covered: clients and their pixmaps " << testing::PrintToString(desk->otherClients());
    desk->unmap(right);
    EXPECT_TRUE(desk->drawnAgain(4)) << "half covered";
    EXPECT_EQ(desk->above(notch), bars) << "the same window after a cover";
    desk->map(right);
    EXPECT_TRUE(meterHolds(0)) << "covered long: clients and their pixmaps "
                               << testing::PrintToString(desk->otherClients());
    desk->unmap(right);
    EXPECT_TRUE(desk->drawnAgain(4)) << "half covered again";
    desk->destroy(left);

    std::vector<std::pair<std::uint32_t, int>> clients;
    ASSERT_TRUE(Desk::waitUntil([&] { return (clients = desk->otherClients()).size() == 2; }));
    const std::uint32_t meterClient = bars & ~std::uint32_t(0x1fffff);
    desk->kill(clients[0].first == meterClient ? clients[1].first : clients[0].first);
    EXPECT_TRUE(desk->drawnAgain(4)) << "after losing the stepping connection";
}
INSTANTIATE_TEST_SUITE_P(NotchOnX, NotchOnXWithOrWithoutCompositor, ::testing::Bool());

// While it swings, the server times the steps: the meter's thread sleeps through them.
TEST_F(NotchOnX, ItsThreadSleepsThroughTheSteps) {
    ASSERT_NO_FATAL_FAILURE(watchMeter(makeNotch()));
    const std::uint64_t turns = meter->counts().turns;
    // Three seconds of steps.
    ASSERT_TRUE(desk->drawnAgain(22));
    EXPECT_EQ(meter->counts().turns, turns);
}

// The meter lies over its place in the notch, stacked just above it, wherever the notch goes,
// and only while the notch is shown.
TEST_F(NotchOnX, TheMeterLiesOverTheNotch) {
    notch = makeNotch();
    desk->window({0, 0, 100, 100});
    ASSERT_NO_FATAL_FAILURE(showMeter(notch));
    const auto liesAt = [&](QPoint at) {
        return Desk::waitUntil([&] {
            const xcb_window_t bars = desk->above(notch);
            return bars != 0 && desk->frame(bars) == std::pair(QRect(at, QSize(40, 24)), true);
        });
    };
    EXPECT_TRUE(liesAt({620, 4})) << "placed";
    EXPECT_EQ(desk->pointedAt({640, 16}), notch) << "the pointer's events go on to the notch";
    desk->move(notch, {300, 10});
    EXPECT_TRUE(liesAt({420, 14})) << "the notch moved";
    desk->raise(notch);
    EXPECT_TRUE(liesAt({420, 14})) << "the notch raised";
    meter->place(notch, {100, 2, 40, 24}, 1);
    EXPECT_TRUE(liesAt({400, 12})) << "placed anew in it";
    desk->unmap(notch);
    EXPECT_TRUE(Desk::waitUntil([&] { return desk->above(notch) == 0; })) << "the notch unmapped";
    desk->map(notch);
    EXPECT_TRUE(liesAt({400, 12})) << "the notch mapped again";
}

// Where a compositing manager runs, the cover is judged again only after a change of a window
// that lies or lay over the meter: moves, restacks, unmapping and mapping elsewhere cost no
// round trips.
TEST_F(NotchOnX, OnlyChangesOverTheMeterAreJudged) {
    desk->poseAsCompositor();
    notch = makeNotch();
    const xcb_window_t other = desk->window({0, 400, 200, 200});
    const xcb_window_t spare = desk->window({900, 400, 100, 100});
    ASSERT_NO_FATAL_FAILURE(showMeter(notch));
    const auto& counts = meter->counts();
    ASSERT_TRUE(Desk::waitUntil([&] { return counts.judgements > 0; }));

    const std::uint64_t first = counts.judgements;
    int judged = 0;
    const std::tuple<const char*, bool, std::function<void()>> steps[] = {
        {"moved elsewhere", false, [&] { desk->move(other, {300, 500}); }},
        {"raised elsewhere", false, [&] { desk->raise(other); }},
        {"another raised", false, [&] { desk->raise(spare); }},
        {"unmapped elsewhere", false, [&] { desk->unmap(other); }},
        {"mapped elsewhere", false, [&] { desk->map(other); }},
        {"moved over the meter", true, [&] { desk->move(other, {560, 0}); }},
        {"raised over the meter", true, [&] { desk->raise(other); }},
        {"another raised above it", false, [&] { desk->raise(spare); }},
        {"unmapped over the meter", true, [&] { desk->unmap(other); }},
        {"mapped over the meter", true, [&] { desk->map(other); }},
        {"moved away", true, [&] { desk->move(other, {300, 500}); }},
        {"moved about elsewhere", false, [&] { desk->move(other, {320, 520}); }},
        {"destroyed elsewhere", false, [&] { desk->destroy(other); }},
        {"moved over the meter at last", true, [&] { desk->move(spare, {600, 0}); }},
    };
    for (const auto& [name, over, step] : steps) {
        const std::uint64_t events = counts.events;
        step();
        // Read before the next step's, so that each is judged on its own or not at all.
        ASSERT_TRUE(Desk::waitUntil([&] { return counts.events > events; })) << name;
        if (!over) continue;
        ++judged;
        EXPECT_TRUE(Desk::waitUntil([&] { return counts.judgements >= first + judged; })) << name;
    }
    // A judgement of a change elsewhere would have come before the last one's.
    EXPECT_EQ(counts.judgements, first + judged);
}

// The meter keeps its window and frames while what it shows changes and comes back, as at a
// change of song.
TEST_F(NotchOnX, TheMeterOutlivesItsLooks) {
    ASSERT_NO_FATAL_FAILURE(watchMeter(makeNotch()));
    // Its heights move on while it swings; they are not drawn.
    meter->show({.swinging = true, .heights = {11, 12, 13, 14}, .opacity = 0.9, .backdrop = Qt::black});
    // Standing still, it draws once: that drawing may come before the wait for it begins.
    desk->forgetDrawing();
    meter->show({.swinging = false, .heights = {4, 4, 4, 4}, .opacity = 0.4, .backdrop = Qt::black});
    ASSERT_TRUE(desk->drawn(1)) << "stands still";
    meter->show(swinging());
    EXPECT_TRUE(desk->drawnAgain(4)) << "swings again";
    EXPECT_EQ(desk->above(notch), bars);
    const auto clients = desk->otherClients();
    const std::uint32_t meterClient = bars & ~std::uint32_t(0x1fffff);
    EXPECT_TRUE(std::count(clients.begin(), clients.end(), std::pair(meterClient, X11MeterWindow::filmLength)) == 1)
        << testing::PrintToString(clients);
}

// A song change brings a new backdrop, and may stop the swing for a moment: the meter paints
// its frames over in the window it has, and makes no window for it.
TEST_F(NotchOnX, ASongChangeMakesNoWindow) {
    X11MeterWindow::Look look = swinging(QColor(0x10, 0x20, 0x30));
    ASSERT_NO_FATAL_FAILURE(watchMeter(makeNotch(), look));
    desk->watchMaking(desk->root());
    desk->watchMaking(bars);
    // The corner of the meter shows the backdrop; the bars lie in the middle.
    const auto shows = [&](QColor colour) {
        return Desk::waitUntil([&] { return desk->pixel(bars, {0, 0}) == (colour.rgb() & 0xffffff); });
    };
    ASSERT_TRUE(shows(look.backdrop));
    const QColor accents[] = {QColor(0xc0, 0x30, 0x20), QColor(0x20, 0x90, 0x40), QColor(0x30, 0x40, 0xd0)};
    for (int change = 0; change < 3; ++change) {
        if (change == 1) {
            // Its one drawing may come before the wait for it begins.
            desk->forgetDrawing();
            meter->show({.swinging = false, .heights = {4, 4, 4, 4}, .opacity = 0.9, .backdrop = look.backdrop});
            ASSERT_TRUE(desk->drawn(1)) << "stopped for the change";
        }
        look.backdrop = accents[change];
        meter->show(look);
        EXPECT_TRUE(shows(look.backdrop)) << "change " << change;
        // Steps queued before the change show the new colours too.
        EXPECT_TRUE(desk->drawnAgain(8)) << "change " << change;
        EXPECT_TRUE(shows(look.backdrop)) << "change " << change;
    }
    EXPECT_EQ(desk->made(), 0);
    EXPECT_EQ(desk->above(notch), bars);
}

// With no window manager, a window that comes over the notch (a desktop's panel along the top
// edge, started or raised after it) is stacked under it again, and the meter over the notch
// draws; menus and the like stay above it. While a window manager runs, that is its business.
TEST_F(NotchOnX, WithoutAWindowManagerTheNotchStaysAbove) {
    xcb_window_t manager = desk->own("WM_S0");
    // The notch's program is not the panel's.
    Desk program(display.name());
    notch = program.window({500, 0, 280, 32}, true);
    auto watcher = X11RootWatcher::connect(display.name().constData());
    ASSERT_NE(watcher, nullptr);
    watcher->setNotchWindow(notch);
    ASSERT_NO_FATAL_FAILURE(watchMeter(notch));
    const auto settled = [&] {
        desk->roundTrips();
        QCoreApplication::processEvents();
        desk->roundTrips();
        QCoreApplication::processEvents();
    };
    const auto notchOver = [&](xcb_window_t window) {
        return Desk::waitUntil([&] { return desk->stackedAbove(notch, window); });
    };

    const xcb_window_t panel = desk->window({0, 0, 2560, 40}, false, 0, 0, true);
    settled();
    EXPECT_TRUE(desk->stackedAbove(panel, notch)) << "a window manager runs";
    desk->destroy(manager);
    EXPECT_TRUE(notchOver(panel)) << "the window manager ended";
    EXPECT_EQ(desk->above(notch), bars) << "the meter follows the notch";
    EXPECT_TRUE(desk->drawnAgain(4)) << "over the panel";
    desk->raise(panel);
    EXPECT_TRUE(notchOver(panel)) << "the panel raised";
    EXPECT_TRUE(desk->drawnAgain(4)) << "over the panel raised";
    const xcb_window_t started = desk->window({400, 0, 400, 40}, false, 0, 0, true);
    EXPECT_TRUE(notchOver(started)) << "a window made over it";
    const xcb_window_t menu = desk->window({550, 0, 100, 100});
    settled();
    EXPECT_TRUE(desk->stackedAbove(menu, notch)) << "a menu over it";
    desk->destroy(menu);
    desk->destroy(started);

    manager = desk->own("WM_S0");
    settled();
    desk->raise(panel);
    settled();
    EXPECT_TRUE(desk->stackedAbove(panel, notch)) << "a window manager came back";
}

// A notch window refused by the server is asked about again after a delay that doubles, so
// that its thread neither spins nor asks often for long: five questions after the first take
// at least 50 + 100 + 200 + 400 + 800 ms.
TEST_F(NotchOnX, ANotchNotYetMadeIsAskedAboutLessAndLessOften) {
    notch = desk->newId();
    meter = X11MeterWindow::connect(display.name().constData());
    ASSERT_NE(meter, nullptr);
    meter->show(swinging());
    meter->place(notch, {120, 4, 40, 24}, 1);
    // Past the turns the two wake-ups above may bring.
    ASSERT_TRUE(Desk::waitUntil([&] { return meter->counts().turns >= 3; }));
    const auto start = Clock::now();
    const std::uint64_t turns = meter->counts().turns;
    ASSERT_TRUE(Desk::waitUntil([&] { return meter->counts().turns >= turns + 5; }));
    EXPECT_GE(Clock::now() - start, 1200ms) << meter->counts().turns - turns << " turns";
}

// A notch window handed over before the server has made it, or before it is mapped, is asked
// about again: the meter comes once it is there.
TEST_F(NotchOnX, TheMeterWaitsForANotchNotYetMade) {
    ASSERT_NO_FATAL_FAILURE(showMeter(desk->newId()));
    // Its thread has asked and been refused.
    ASSERT_TRUE(Desk::waitUntil([&] { return meter->counts().turns > 0; }));
    desk->roundTrips();
    desk->window({500, 0, 280, 32}, true, 0, notch);
    bars = desk->madeAbove(notch);
    ASSERT_NE(bars, 0u);
    EXPECT_EQ(desk->frame(bars), std::pair(QRect(620, 4, 40, 24), true));
}

// A compositing manager that starts after the meter, ends and starts again: the cover is judged
// from the windows above while one runs, and told by the server while none does.
TEST_F(NotchOnX, TheMeterFollowsACompositorThatComesAndGoes) {
    ASSERT_NO_FATAL_FAILURE(watchMeter(makeNotch()));
    const auto steps = [&] { return desk->otherClients().size() == 2; };  // with its stepping connection
    const auto stopped = [&] { return Desk::waitUntil([&] { return !steps(); }); };

    xcb_window_t compositor = desk->startCompositor();
    const xcb_window_t cover = desk->window({400, 0, 400, 40});
    EXPECT_TRUE(stopped()) << "covered after a compositor came";
    desk->unmap(cover);
    EXPECT_TRUE(desk->drawnAgain(4)) << "uncovered";
    desk->stopCompositor(compositor);
    desk->map(cover);
    EXPECT_TRUE(stopped()) << "covered after it went";
    desk->unmap(cover);
    EXPECT_TRUE(desk->drawnAgain(4)) << "uncovered again";
    compositor = desk->startCompositor();
    desk->map(cover);
    EXPECT_TRUE(stopped()) << "covered after it came back";
    desk->unmap(cover);
    EXPECT_TRUE(desk->drawnAgain(4)) << "uncovered at last";
}

// With a compositing manager, a window moving far from the meter wakes its thread seldom, though
// the server tells each move: ever less often, up to as seldom as its steps are queued.
TEST_F(NotchOnX, FarMovesSeldomWakeTheMeter) {
    desk->startCompositor();
    ASSERT_NO_FATAL_FAILURE(watchMeter(makeNotch(), swinging(), 0));
    const xcb_window_t other = desk->window({0, 400, 200, 200});
    ASSERT_TRUE(desk->drawnAgain(2));
    const std::uint64_t turns = meter->counts().turns;
    // A move in each of 56 steps: eight seconds, read after 0, 1, 3 and 7 s.
    for (int step = 0; step < 56; ++step) {
        desk->move(other, {step * 10, 400});
        ASSERT_TRUE(desk->drawnAgain(1));
    }
    EXPECT_LE(meter->counts().turns - turns, 5u);
}

// A status-notifier watcher on the session bus, as a desktop's panel runs one.
class StatusNotifierWatcher : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.kde.StatusNotifierWatcher")
    Q_PROPERTY(bool IsStatusNotifierHostRegistered READ hostRegistered)
public:
    bool hostRegistered() const { return host_; }
    void setHostRegistered(bool host) {
        host_ = host;
        QDBusConnection::sessionBus().send(QDBusMessage::createSignal(
            QStringLiteral("/StatusNotifierWatcher"), QStringLiteral("org.kde.StatusNotifierWatcher"),
            host ? QStringLiteral("StatusNotifierHostRegistered") : QStringLiteral("StatusNotifierHostUnregistered")));
    }

private:
    bool host_ = false;
};

// The tray's host is followed as it starts after the program, ends and starts again: one that
// owns the screen's tray selection, or one registered with the bus's status-notifier watcher.
TEST_F(NotchOnX, TrayHostsAreFollowed) {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) GTEST_SKIP() << "no session bus: tray hosts go unchecked";
    TrayHostWatcher hosts(display.name().constData());
    int appeared = 0;
    QObject::connect(&hosts, &TrayHostWatcher::hostAppeared, [&] { ++appeared; });
    harness.settle();
    EXPECT_FALSE(hosts.hostPresent());

    xcb_window_t host = desk->own("_NET_SYSTEM_TRAY_S0");
    EXPECT_TRUE(Desk::waitUntil([&] { return hosts.hostPresent(); })) << "started";
    EXPECT_EQ(appeared, 1);
    desk->destroy(host);
    EXPECT_TRUE(Desk::waitUntil([&] { return !hosts.hostPresent(); })) << "ended";
    host = desk->own("_NET_SYSTEM_TRAY_S0");
    EXPECT_TRUE(Desk::waitUntil([&] { return hosts.hostPresent(); })) << "started again";
    EXPECT_EQ(appeared, 2);
    desk->destroy(host);
    ASSERT_TRUE(Desk::waitUntil([&] { return !hosts.hostPresent(); }));

    // The bus's watcher starts without a host; a host registers with it, goes, and the watcher
    // itself restarts with one.
    StatusNotifierWatcher watcher;
    const auto serve = [&] {
        ASSERT_TRUE(bus.registerObject(QStringLiteral("/StatusNotifierWatcher"), &watcher,
                                       QDBusConnection::ExportAllProperties));
        ASSERT_TRUE(bus.registerService(QStringLiteral("org.kde.StatusNotifierWatcher")));
    };
    serve();
    harness.settle();
    watcher.setHostRegistered(true);
    EXPECT_TRUE(Desk::waitUntil([&] { return hosts.hostPresent(); })) << "a host registered";
    EXPECT_EQ(appeared, 3);
    watcher.setHostRegistered(false);
    EXPECT_TRUE(Desk::waitUntil([&] { return !hosts.hostPresent(); })) << "the host unregistered";
    bus.unregisterService(QStringLiteral("org.kde.StatusNotifierWatcher"));
    bus.unregisterObject(QStringLiteral("/StatusNotifierWatcher"));
    watcher.setHostRegistered(true);
    harness.settle();
    serve();
    EXPECT_TRUE(Desk::waitUntil([&] { return hosts.hostPresent(); })) << "the watcher restarted with a host";
    EXPECT_EQ(appeared, 4);
    bus.unregisterService(QStringLiteral("org.kde.StatusNotifierWatcher"));
    bus.unregisterObject(QStringLiteral("/StatusNotifierWatcher"));
}

// The program started before the tray's host: its icon docks once a host appears.
TEST_F(NotchOnX, TheTrayIconComesWithALateHost) {
    ProgramOnX program(display.name());
    ASSERT_TRUE(program.said("the status item comes with one")) << program.output().toStdString();
    // At the right end of the top edge, clear of the notch.
    desk->hostTray({2400, 0, 32, 32});
    EXPECT_TRUE(Desk::waitUntil([&] { return desk->dockRequested() != 0; }))
        << "the icon docks: " << program.output().toStdString();
}

// Time counted from before its start, as a wall clock in 1970 reads against 2001, falls on a
// frame as well as any other.
TEST(NotchMeterFilm, EveryTimeFallsOnAFrameOfThePeriod) {
    constexpr double period = X11MeterWindow::filmPeriod;
    for (double seconds : {0.0, -0.0, 1e-9, -1e-9, period, -period, period * 0.999999, -978307200.0, -1.5,
                           1765000000.0 - 978307200.0, 3e9}) {
        const int frame = X11MeterWindow::filmFrame(seconds);
        EXPECT_GE(frame, 0) << seconds;
        EXPECT_LT(frame, X11MeterWindow::filmLength) << seconds;
    }
    for (double phase : {0.1, 0.3, 0.55}) {
        EXPECT_EQ(X11MeterWindow::filmFrame(phase - 3 * period), X11MeterWindow::filmFrame(phase)) << phase;
        EXPECT_EQ(X11MeterWindow::filmFrame(phase), std::lround(phase / period * X11MeterWindow::filmLength));
    }
}

// With no descriptor left to wake its thread there is no meter window, though the display can be
// reached: the scene draws the meter.
TEST_F(NotchOnX, WithoutAWakeDescriptorThereIsNoMeterWindow) {
    meter = X11MeterWindow::connect(display.name().constData(), [] {
        errno = EMFILE;
        return -1;
    });
    EXPECT_TRUE(meter == nullptr);
    // One that cannot be woken would wait for ever to be destroyed.
    if (meter) static_cast<void>(meter.release());
    EXPECT_NE(X11MeterWindow::connect(display.name().constData()), nullptr) << "with one";
}

// The meter stands still while the active window is full-screen on the notch's screen and
// stacked above the notch; unmapped or destroyed, that window is full-screen no more, though
// the window manager still names it. The right half of the display stands for a second screen.
TEST_F(NotchOnX, AFullScreenWindowHidesTheNotchOnlyInFrontOfIt) {
    notch = makeNotch();
    // A managed window lies in its window manager's frame.
    const xcb_window_t frame = desk->window({1280, 0, 1280, 800});
    const xcb_window_t player = desk->window({0, 0, 1280, 800}, false, frame);
    desk->makeFullScreen(player);
    desk->activate(player);

    auto watcher = X11RootWatcher::connect(display.name().constData());
    ASSERT_NE(watcher, nullptr);
    std::vector<bool> told;
    watcher->setHandlers({.obscuredChanged = [&](bool obscured) { told.push_back(obscured); }});
    watcher->setNotchWindow(notch);
    EXPECT_FALSE(watcher->obscured()) << "on the other screen";

    const std::pair<const char*, std::function<void()>> steps[] = {
        {"moved over the notch", [&] { desk->move(frame, {0, 0}); }},
        {"the notch raised", [&] { desk->raise(notch); }},
        {"raised again", [&] { desk->raise(frame); }},
        {"unmapped", [&] { desk->unmap(player); }},
        {"mapped again", [&] { desk->map(player); }},
        {"destroyed", [&] { desk->destroy(player); }},
    };
    // Other windows' changes are not even told.
    const xcb_window_t bystander = desk->window({600, 300, 100, 100});
    bool hidden = false;
    for (const auto& [name, step] : steps) {
        step();
        hidden = !hidden;
        EXPECT_TRUE(Desk::waitUntil([&] { return watcher->obscured() == hidden; })) << name;
        const std::uint64_t judgements = watcher->judgements();
        desk->move(bystander, {hidden ? 0 : 600, 300});
        desk->raise(bystander);
        desk->roundTrips();
        QCoreApplication::processEvents();
        EXPECT_EQ(watcher->judgements(), judgements) << "a bystander moved after: " << name;
    }
    EXPECT_EQ(told, std::vector<bool>({true, false, true, false, true, false}));
}

}  // namespace
}  // namespace velto

#include "NotchOnXTests.moc"
