#include <gtest/gtest.h>
#include <xcb/xcb.h>

#include <QPainter>
#include <QProcess>
#include <QQuickItem>
#include <QSignalSpy>
#include <QStyleHints>
#include <QTest>
#include <cstdlib>
#include <cstring>
#include <set>

#include "PanelFixture.h"
#include "ViewHarness.h"
#include "XvfbDisplay.h"
#include "foundation/ManualMainQueue.h"
#include "ui/window/PanelNotifications.h"
#include "ui/window/StatusIcon.h"

namespace velto {
namespace {

using namespace std::chrono_literals;

void settle() {
    for (int i = 0; i < 5; ++i) QCoreApplication::processEvents();
}

// An 800×600 desktop's tray at its bottom edge, and one under a bar at its top.
const PanelPlacement::Anchor bottomTray{{0, 0, 800, 600}, PanelPlacement::Align::centre, 400,
                                        PanelPlacement::Align::end, 570};
const PanelPlacement::Anchor topTray{{0, 30, 800, 570}, PanelPlacement::Align::centre, 400,
                                     PanelPlacement::Align::start, 26};

// The delegate over the stand-in root. The panel gets the activation it asks for, as from a
// window manager that allows it; another window can take it away.
class PanelRules : public ::testing::Test {
protected:
    void SetUp() override {
        delegate.applicationDidFinishLaunching();
        baseline = panel().activationObserverCount();
    }
    void TearDown() override {
        delegate.applicationWillTerminate();
        EXPECT_TRUE(harness.warnings.isEmpty()) << harness.warnings.join("\n").toStdString();
    }
    PanelWindow& panel() { return delegate.panel(); }
    void open() {
        delegate.toggleStatusPanel();
        settle();
        ASSERT_TRUE(panel().isActive());
    }
    void activateElsewhere() {
        elsewhere.show();
        elsewhere.requestActivate();
        settle();
    }
    int perShowing() { return panel().activationObserverCount() - baseline; }

    ViewHarness harness;
    ManualMainQueue mainQueue;
    MacAppDelegate delegate{panelFixtureSetup(mainQueue)};
    QSignalSpy didClose{&PanelNotifications::shared(), &PanelNotifications::veltoStatusPanelDidClose};
    QWindow elsewhere;
    int baseline = 0;
};

TEST_F(PanelRules, EveryCloseIsPostedOnceAndDropsItsObserver) {
    const std::function<void()> closings[] = {
        [&] { delegate.toggleStatusPanel(); },
        [&] {
            panel().rootItem()->findChild<QQuickItem*>("fixtureField")->forceActiveFocus();
            QTest::keyClick(&panel(), Qt::Key_Escape);
        },
        [&] { activateElsewhere(); },
        [&] { delegate.applicationWillTerminate(); },
    };
    int closes = 0;
    for (const auto& close : closings) {
        open();
        EXPECT_EQ(perShowing(), 1);
        close();
        EXPECT_FALSE(panel().isVisible());
        EXPECT_EQ(didClose.count(), ++closes);
        EXPECT_EQ(perShowing(), 0);
        mainQueue.advance(1s);  // past the tray guard
    }
    EXPECT_EQ(panel().rootItem()->property("closes").toInt(), closes);
    // Terminated: open requests go unheard.
    emit PanelNotifications::shared().veltoOpenStatusPanel();
    mainQueue.runPending();
    EXPECT_FALSE(panel().isShown());
}

TEST_F(PanelRules, OpenRequestsTakeALaterTurnAndChangeNothingWhileShown) {
    emit PanelNotifications::shared().veltoOpenStatusPanel();
    EXPECT_FALSE(panel().isShown());
    mainQueue.runPending();
    ASSERT_TRUE(panel().isShown());
    EXPECT_EQ(panel().size(), QSize(380, 520));

    // Moved by the window manager: the panel goes back where it belongs.
    const QPoint placed = panel().position();
    panel().setPosition(placed + QPoint(5, 5));
    settle();
    EXPECT_EQ(panel().position(), placed);
    emit PanelNotifications::shared().veltoOpenStatusPanel();
    delegate.applicationShouldHandleReopen();
    mainQueue.runPending();
    EXPECT_EQ(panel().position(), placed);
    EXPECT_EQ(didClose.count(), 0);
    EXPECT_EQ(perShowing(), 1);
}

TEST_F(PanelRules, TheTrayClickThatTookTheActivationDoesNotReopen) {
    for (const auto& [after, opens] : {std::pair{0ms, false}, {299ms, false}, {300ms, true}}) {
        open();
        activateElsewhere();
        ASSERT_FALSE(panel().isShown());
        mainQueue.advance(after);
        delegate.toggleStatusPanel();
        EXPECT_EQ(panel().isShown(), opens) << after.count() << " ms";
        if (opens) delegate.toggleStatusPanel();
        mainQueue.advance(1s);
    }
    // Only the tray is guarded: a request opens at once.
    open();
    activateElsewhere();
    delegate.showStatusPanel();
    EXPECT_TRUE(panel().isShown());
}

// Over a bottom tray the panel grows up and shrinks down from it, cut to the usable area where
// that is lower: the resize alone puts it there, and a move by the window manager, or the late
// confirmation of a frame asked for before, takes it back.
TEST(PanelWindow, ResizesFromItsAnchor) {
    ViewHarness harness;
    PanelWindow window(panelFixtureRoot());
    ASSERT_TRUE(window.ensureRoot());
    const PanelPlacement::Anchor& anchor = bottomTray;
    window.showAt(anchor);
    settle();
    for (const auto& [height, frame] : {std::pair{155, QRect(210, 415, 380, 155)},
                                        {467, QRect(210, 103, 380, 467)},
                                        {700, QRect(210, 8, 380, 584)},
                                        {200, QRect(210, 370, 380, 200)}}) {
        window.rootItem()->setImplicitHeight(height);
        settle();
        EXPECT_EQ(window.geometry(), frame) << height;
        EXPECT_EQ(window.rootItem()->size(), frame.size()) << height;
        window.setPosition(window.position() + QPoint(3, -3));
        settle();
        EXPECT_EQ(window.geometry(), frame) << height << " moved";
    }
    // Resizes faster than their confirmations: each frame is confirmed only after the next one
    // was asked for, as a window manager's configure notices come in.
    QRect asked = window.geometry();
    for (int height : {300, 420, 260, 510, 480}) {
        const QRect earlier = asked;
        window.rootItem()->setImplicitHeight(height);
        asked = PanelPlacement::frame(anchor, {380, height});
        window.setGeometry(earlier);
    }
    settle();
    EXPECT_EQ(window.geometry(), QRect(210, 90, 380, 480));
    window.performClose();
}

// Over a bottom tray a page opened holds the tallest page's height, within the usable area, so
// that the page buttons stay where they were: on the compact panel too while the pointer rests in
// it, its own height again once the pointer has left or at the next opening. The compact panel
// before a page and a panel over a top tray take their own heights.
TEST(PanelWindow, HoldsThePageHeightOverABottomTrayWhileThePointerIsIn) {
    ViewHarness harness;
    PanelWindow window(panelFixtureRoot());
    ASSERT_TRUE(window.ensureRoot());
    QQuickItem* root = window.rootItem();
    const auto enter = [&] {
        QEnterEvent entered(QPointF(190, 30), QPointF(190, 30), window.mapToGlobal(QPointF(190, 30)));
        QCoreApplication::sendEvent(&window, &entered);
        settle();
    };
    const auto leave = [&] {
        QEvent left(QEvent::Leave);
        QCoreApplication::sendEvent(&window, &left);
        settle();
    };
    // The page shown is the content less 72 (margins, header and the rest); the settings page is
    // the tallest, at 408.
    const auto show = [&](int height, bool open) {
        if (!open) root->setProperty("pageOpen", false);
        root->setProperty("pageParts", QVariantMap{{"shownPage", open ? height - 72 : 0}, {"settings", 408}});
        root->setImplicitHeight(height);
        root->setProperty("pageOpen", open);
        // A frame: the held height is worked out once the view has laid it out.
        window.grabWindow();
        settle();
    };
    for (const auto& [anchor, held] : {std::pair{bottomTray, true}, {topTray, false}}) {
        const int most = anchor.area.height() - 16;
        const auto expected = [&](int height, bool holding) {
            return std::min(holding && held ? std::max(height, 480) : height, most);
        };
        show(155, false);
        window.showAt(anchor);
        settle();
        EXPECT_EQ(window.height(), 155) << held;
        enter();
        for (const int height : {300, 420}) {
            show(height, true);
            EXPECT_EQ(window.height(), expected(height, true)) << height << " " << held;
        }
        show(155, false);
        EXPECT_EQ(window.height(), expected(155, true)) << held << " closed under the pointer";
        leave();
        EXPECT_EQ(window.height(), 155) << held << " the pointer gone";
        enter();
        EXPECT_EQ(window.height(), 155) << held << " the pointer back";
        show(700, true);
        EXPECT_EQ(window.height(), most) << held;
        leave();
        EXPECT_EQ(window.height(), most) << held << " a page open";
        show(300, true);
        EXPECT_EQ(window.height(), expected(300, true)) << held << " a page open";
        // Closed with the pointer elsewhere: nothing rests on the panel.
        show(155, false);
        EXPECT_EQ(window.height(), 155) << held << " closed, the pointer out";
        enter();
        show(420, true);
        window.performClose();
        show(155, false);
        window.showAt(anchor);
        settle();
        EXPECT_EQ(window.height(), 155) << held << " reopened";
        window.performClose();
    }
}

// A press lands only on what the person could have aimed at. Over a bottom tray the page opened
// by a click at the compact panel's top grows the panel up, and a second click where the pointer
// rests is dropped, press, double click and release, however long after; once the pointer moves,
// a click lands. Content that moves when an answer comes, with no click before it, is held to the
// same rule. Over a top tray nothing moves, and every second click acts.
TEST(PanelWindow, APressOnContentMovedUnderARestingPointerIsDropped) {
    ViewHarness harness;
    static const QByteArray source = R"(
import QtQuick
Rectangle {
    id: root
    property bool pageOpen: false
    property bool answered: false
    property var pageParts: ({})
    property int opened: 0
    property int hits: 0
    implicitWidth: 380; implicitHeight: (pageOpen ? 500 : 150) + (answered ? 40 : 0)
    MouseArea { width: 380; height: 60; onClicked: { root.opened += 1; root.pageOpen = true } }
    MouseArea { y: 60; width: 380; height: root.height - 60; onPressed: root.hits += 1 }
})";
    for (const ulong later : {ulong(400), ulong(550), ulong(700), ulong(1000), ulong(5000)}) {
        for (const auto& [anchor, moves] : {std::pair{bottomTray, true}, {topTray, false}}) {
            const std::string at = std::to_string(later) + (moves ? " ms, bottom" : " ms, top");
            PanelWindow window({QUrl(QStringLiteral("qrc:/velto/fixture/PressFixture.qml")), source, {}});
            ASSERT_TRUE(window.ensureRoot());
            QQuickItem* root = window.rootItem();
            window.showAt(anchor);
            settle();
            // The pointer rests on the screen; the window's origin is where it was at each event.
            QPoint global = window.geometry().topLeft() + QPoint(190, 30);
            ulong time = 1000;
            const auto send = [&](QEvent::Type type, Qt::MouseButtons buttons) {
                const QPointF local = QPointF(global - window.geometry().topLeft());
                QMouseEvent event(type, local, QPointF(global), type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton,
                                  buttons, {});
                event.setTimestamp(time);
                QCoreApplication::sendEvent(&window, &event);
                settle();
            };
            const auto click = [&] {
                send(QEvent::MouseButtonPress, Qt::LeftButton);
                time += 60;
                send(QEvent::MouseButtonRelease, Qt::NoButton);
            };
            const auto acted = [&] { return root->property("hits").toInt() + root->property("opened").toInt(); };
            send(QEvent::MouseMove, Qt::NoButton);
            click();
            ASSERT_EQ(root->property("opened").toInt(), 1) << at;
            ASSERT_EQ(window.height(), 500) << at;
            time += later;
            send(QEvent::MouseButtonPress, Qt::LeftButton);
            send(QEvent::MouseButtonDblClick, Qt::LeftButton);
            time += 60;
            send(QEvent::MouseButtonRelease, Qt::NoButton);
            EXPECT_EQ(acted(), moves ? 1 : 2) << at << ", a second click";
            time += later;
            click();
            EXPECT_EQ(acted(), moves ? 1 : 3) << at << ", a third click";
            // The pointer moves a pixel: what is under it now is what the person aims at.
            global += QPoint(0, 1);
            time += 20;
            send(QEvent::MouseMove, Qt::NoButton);
            time += later;
            click();
            EXPECT_EQ(acted(), moves ? 2 : 4) << at << ", after a move";
            // An answer grows the content under the resting pointer, long after the last click.
            root->setProperty("answered", true);
            settle();
            time += later;
            click();
            EXPECT_EQ(acted(), moves ? 2 : 5) << at << ", after an answer";
            global += QPoint(1, 0);
            time += 20;
            send(QEvent::MouseMove, Qt::NoButton);
            click();
            EXPECT_EQ(acted(), moves ? 3 : 6) << at << ", after a move";
            window.performClose();
        }
    }
}

// The X server's side of the shown panel, asked over Qt's own connection so that it answers
// after all Qt has sent.
class XServerSide {
public:
    XServerSide() : connection_(qGuiApp->nativeInterface<QNativeInterface::QX11Application>()->connection()) {}
    xcb_atom_t atom(const char* name) const {
        auto* reply = xcb_intern_atom_reply(
            connection_, xcb_intern_atom(connection_, 0, std::uint16_t(std::strlen(name)), name), nullptr);
        const xcb_atom_t found = reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
        std::free(reply);
        return found;
    }
    std::set<xcb_atom_t> states(const QWindow& window) const {
        auto* reply = xcb_get_property_reply(
            connection_, xcb_get_property(connection_, 0, xcb_window_t(window.winId()),
                                          atom("_NET_WM_STATE"), XCB_ATOM_ATOM, 0, 64),
            nullptr);
        std::set<xcb_atom_t> found;
        if (reply && reply->format == 32) {
            const auto* atoms = static_cast<const xcb_atom_t*>(xcb_get_property_value(reply));
            found.insert(atoms, atoms + xcb_get_property_value_length(reply) / 4);
        }
        std::free(reply);
        return found;
    }
    bool viewable(const QWindow& window) const {
        auto* reply = xcb_get_window_attributes_reply(
            connection_, xcb_get_window_attributes(connection_, xcb_window_t(window.winId())), nullptr);
        const bool shown = reply && reply->map_state == XCB_MAP_STATE_VIEWABLE;
        std::free(reply);
        return shown;
    }
    // What a window manager does as a window is withdrawn.
    void dropStates(const QWindow& window) const {
        xcb_delete_property(connection_, xcb_window_t(window.winId()), atom("_NET_WM_STATE"));
        xcb_flush(connection_);
    }

private:
    xcb_connection_t* connection_;
};

// Qt sets its states on a window before mapping it and a window manager drops them on hiding,
// so the panel's own are set before each mapping: without a window manager the server holds
// just what the panel and Qt set.
void checkWindowStatesOnX() {
    ViewHarness harness;
    ASSERT_EQ(QGuiApplication::platformName(), "xcb");
    const XServerSide server;
    PanelWindow window(panelFixtureRoot());
    ASSERT_TRUE(window.ensureRoot());
    for (int showing = 1; showing <= 2; ++showing) {
        window.showAt({{0, 0, 1280, 770}, PanelPlacement::Align::centre, 640, PanelPlacement::Align::end, 774});
        EXPECT_TRUE(server.viewable(window)) << showing;
        const std::set<xcb_atom_t> states = server.states(window);
        for (const char* state : {"_NET_WM_STATE_SKIP_TASKBAR", "_NET_WM_STATE_SKIP_PAGER", "_NET_WM_STATE_ABOVE"})
            EXPECT_TRUE(states.contains(server.atom(state))) << state << " at showing " << showing;
        window.performClose();
        server.dropStates(window);
    }
    EXPECT_TRUE(harness.warnings.isEmpty()) << harness.warnings.join("\n").toStdString();
}

// On an X server of the test's own. A process holds one platform, so the checks run in a child
// of this test program on that server.
TEST(PanelWindowOnX, StaysOutOfTheTaskbarAndThePager) {
    if (qEnvironmentVariableIsSet("VELTO_PANEL_X_CHILD")) return checkWindowStatesOnX();
    ViewHarness harness;
    XvfbDisplay display;
    if (!display.present()) GTEST_SKIP() << "Xvfb is missing: the panel's window states on X go unchecked";
    ASSERT_FALSE(display.name().isEmpty()) << display.errors().toStdString();

    QProcess child;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("DISPLAY", QString::fromLatin1(display.name()));
    environment.insert("QT_QPA_PLATFORM", "xcb");
    environment.insert("VELTO_PANEL_X_CHILD", "1");
    child.setProcessEnvironment(environment);
    child.setProcessChannelMode(QProcess::MergedChannels);
    child.start(QCoreApplication::applicationFilePath(), {"--gtest_filter=PanelWindowOnX.*"});
    const bool finished = child.waitForFinished(60000);
    if (!finished) child.kill();
    ASSERT_TRUE(finished);
    EXPECT_EQ(child.exitCode(), 0) << child.readAll().toStdString();
}

TEST(PanelWindow, AViewThatCannotBeMadeLeavesThePanelClosed) {
    ViewHarness harness;
    ManualMainQueue mainQueue;
    MacAppDelegate::Setup setup = panelFixtureSetup(mainQueue);
    setup.makeRoot = [](MacAppModel*, MacStatusPanel*) {
        return PanelWindow::Root{QUrl(QStringLiteral("qrc:/velto/qml/Missing.qml")), {}, {}};
    };
    MacAppDelegate delegate(std::move(setup));
    delegate.applicationDidFinishLaunching();
    delegate.toggleStatusPanel();
    EXPECT_FALSE(delegate.panel().isVisible());
}

TEST(PanelWindow, TrayIconReadsOnLightAndDarkPanels) {
    ViewHarness harness;
    const QIcon icon = makeStatusIcon();
    for (const char* tray : {"#f6f6f6", "#e0e0e0", "#303030", "#101010"}) {
        QImage image(22, 22, QImage::Format_ARGB32);
        image.fill(QColor(tray));
        QPainter painter(&image);
        icon.paint(&painter, image.rect());
        double strongest = 0;
        for (int y = 0; y < 22; ++y)
            for (int x = 0; x < 22; ++x)
                strongest = std::max(strongest, std::abs(double(QColor(image.pixel(x, y)).lightnessF()) -
                                                         QColor(tray).lightnessF()));
        EXPECT_GT(strongest, 0.6) << tray;
    }
}

TEST(PanelWindowViews, PanelWindow) {
    ViewHarness harness;
    ASSERT_TRUE(ViewHarness::fontsAvailable());
    ManualMainQueue mainQueue;
    MacAppDelegate delegate(panelFixtureSetup(mainQueue));
    delegate.applicationDidFinishLaunching();
    delegate.showStatusPanel();
    settle();
    const QImage image = delegate.panel().grabWindow();
    EXPECT_FALSE(ViewHarness::isSingleColour(image));
    const QString dir = qEnvironmentVariable("VELTO_VIEWS_DIR");
    EXPECT_TRUE(dir.isEmpty() || image.save(dir + QStringLiteral("/panel-window.png")));
    delegate.applicationWillTerminate();
    EXPECT_TRUE(harness.warnings.isEmpty()) << harness.warnings.join("\n").toStdString();
}

}  // namespace
}  // namespace velto
