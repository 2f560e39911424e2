#include <gtest/gtest.h>

#include <QPainter>
#include <QQuickItem>
#include <QSignalSpy>
#include <QTest>

#include "PanelFixture.h"
#include "ViewHarness.h"
#include "foundation/ManualMainQueue.h"
#include "ui/MacAppDelegate.h"
#include "ui/PanelNotifications.h"
#include "ui/StatusIcon.h"

namespace velto {
namespace {

using namespace std::chrono_literals;

void settle() {
    for (int i = 0; i < 5; ++i) QCoreApplication::processEvents();
}

// The delegate over the fixture root, without a tray (offscreen has none).
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
    // The panel takes the activation, as a window manager that allows it would give it.
    void openAndActivate() {
        delegate.toggleStatusPanel();
        ASSERT_TRUE(panel().isShown());
        settle();
        ASSERT_TRUE(panel().isActive());
    }
    // Another window (of another application, for the panel) takes the activation.
    void activateElsewhere() {
        elsewhere.show();
        elsewhere.requestActivate();
        settle();
    }
    int perShowing() { return panel().activationObserverCount() - baseline; }

    ViewHarness harness;  // the application, and a record of every warning
    ManualMainQueue mainQueue;
    MacAppDelegate delegate{{&mainQueue, panelFixtureRoot(), false}};
    QSignalSpy didClose{&PanelNotifications::shared(), &PanelNotifications::veltoStatusPanelDidClose};
    QWindow elsewhere;
    int baseline = 0;
};

TEST_F(PanelRules, TrayClicksToggleAndEveryCloseIsPostedOnce) {
    openAndActivate();
    EXPECT_EQ(perShowing(), 1);
    EXPECT_EQ(panel().size(), QSize(380, 520));
    EXPECT_TRUE(panel().flags().testFlags(Qt::Tool | Qt::FramelessWindowHint |
                                          Qt::WindowStaysOnTopHint));

    delegate.toggleStatusPanel();
    EXPECT_FALSE(panel().isShown());
    EXPECT_FALSE(panel().isVisible());
    EXPECT_EQ(didClose.count(), 1);
    EXPECT_EQ(panel().rootItem()->property("closes").toInt(), 1);
    EXPECT_EQ(perShowing(), 0);

    openAndActivate();
    EXPECT_EQ(perShowing(), 1);
    panel().rootItem()->findChild<QQuickItem*>(QStringLiteral("fixtureField"))->forceActiveFocus();
    QTest::keyClick(&panel(), Qt::Key_Escape);
    EXPECT_FALSE(panel().isShown());
    EXPECT_EQ(didClose.count(), 2);
    EXPECT_EQ(perShowing(), 0);
}

TEST_F(PanelRules, OpenRequestsTakeALaterTurnAndChangeNothingWhileShown) {
    emit PanelNotifications::shared().veltoOpenStatusPanel();
    EXPECT_FALSE(panel().isShown());
    mainQueue.runPending();
    ASSERT_TRUE(panel().isShown());

    const QPoint placed = panel().position();
    panel().setPosition(placed + QPoint(5, 5));  // as if the user's window manager moved it
    emit PanelNotifications::shared().veltoOpenStatusPanel();
    delegate.applicationShouldHandleReopen();
    mainQueue.runPending();
    EXPECT_TRUE(panel().isShown());
    EXPECT_EQ(panel().position(), placed + QPoint(5, 5));
    EXPECT_EQ(didClose.count(), 0);
    EXPECT_EQ(perShowing(), 1);
}

TEST_F(PanelRules, LosingActivationClosesAndTheTrayClickThatCausedItDoesNotReopen) {
    struct Step {
        std::chrono::milliseconds after;  // since the close
        bool opens;
    };
    for (const Step step : {Step{0ms, false}, Step{299ms, false}, Step{300ms, true}}) {
        openAndActivate();
        const int closesBefore = didClose.count();
        activateElsewhere();
        EXPECT_FALSE(panel().isShown());
        EXPECT_EQ(didClose.count(), closesBefore + 1);
        EXPECT_EQ(perShowing(), 0);

        mainQueue.advance(step.after);
        delegate.toggleStatusPanel();
        EXPECT_EQ(panel().isShown(), step.opens) << step.after.count() << " ms";
        if (panel().isShown()) delegate.toggleStatusPanel();
        mainQueue.advance(1s);
    }
    // The guard is for the tray click only: a request opens at once.
    openAndActivate();
    activateElsewhere();
    delegate.showStatusPanel();
    EXPECT_TRUE(panel().isShown());
}

TEST_F(PanelRules, SizeFollowsTheRootAndThePanelStaysInPlace) {
    openAndActivate();
    const QPoint placed = panel().position();
    panel().rootItem()->setImplicitHeight(610);
    EXPECT_EQ(panel().size(), QSize(380, 610));
    EXPECT_EQ(panel().rootItem()->height(), 610);
    EXPECT_EQ(panel().position(), placed);
}

TEST_F(PanelRules, TerminationClosesFirstThenStopsListening) {
    openAndActivate();
    delegate.applicationWillTerminate();
    EXPECT_FALSE(panel().isShown());
    EXPECT_EQ(didClose.count(), 1);
    EXPECT_EQ(perShowing(), 0);
    emit PanelNotifications::shared().veltoOpenStatusPanel();
    mainQueue.runPending();
    EXPECT_FALSE(panel().isShown());
}

// Luminance difference in [0, 1] between the icon's most distinct pixel and the tray's colour.
double strongestContrast(const QIcon& icon, QColor tray) {
    QImage image(22, 22, QImage::Format_ARGB32);
    image.fill(tray);
    QPainter painter(&image);
    icon.paint(&painter, image.rect());
    painter.end();
    double best = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            best = std::max(best, std::abs(double(QColor(image.pixel(x, y)).lightnessF()) -
                                            tray.lightnessF()));
    return best;
}

TEST_F(PanelRules, TrayIconReadsOnLightAndDarkPanels) {
    const QIcon icon = makeStatusIcon();
    for (QColor tray : {QColor(0xF6, 0xF6, 0xF6), QColor(0xE0, 0xE0, 0xE0), QColor(0x30, 0x30, 0x30),
                        QColor(0x10, 0x10, 0x10)})
        EXPECT_GT(strongestContrast(icon, tray), 0.6) << tray.name().toStdString();
}

TEST(PanelWindow, AViewThatCannotBeMadeLeavesThePanelClosed) {
    ViewHarness harness;
    ManualMainQueue mainQueue;
    MacAppDelegate delegate{{&mainQueue, {QUrl(QStringLiteral("qrc:/velto/qml/Missing.qml")), {}, {}}, false}};
    delegate.applicationDidFinishLaunching();
    delegate.showStatusPanel();
    delegate.toggleStatusPanel();
    EXPECT_FALSE(delegate.panel().isShown());
    EXPECT_FALSE(delegate.panel().isVisible());
}

TEST(PanelViews, PanelWindow) {
    ViewHarness harness;
    ASSERT_TRUE(ViewHarness::fontsAvailable());
    ManualMainQueue mainQueue;
    MacAppDelegate delegate{{&mainQueue, panelFixtureRoot(), false}};
    delegate.applicationDidFinishLaunching();
    delegate.showStatusPanel();
    ASSERT_TRUE(delegate.panel().isShown());
    settle();
    const QImage image = delegate.panel().grabWindow();
    EXPECT_EQ(image.size(), QSize(380, 520));
    EXPECT_FALSE(ViewHarness::isSingleColour(image));
    const QString dir = qEnvironmentVariable("VELTO_VIEWS_DIR");
    if (!dir.isEmpty()) {
        EXPECT_TRUE(image.save(dir + QStringLiteral("/panel-window.png")));
    }
    delegate.applicationWillTerminate();
    EXPECT_TRUE(harness.warnings.isEmpty()) << harness.warnings.join("\n").toStdString();
}

}  // namespace
}  // namespace velto
