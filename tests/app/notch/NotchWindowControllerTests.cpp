#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QSignalSpy>
#include <functional>
#include <memory>

#include "NotchFakes.h"
#include "app/notch/NotchWindowController.h"
#include "foundation/ManualMainQueue.h"

using namespace velto;
using namespace velto::notchtest;
using namespace std::chrono_literals;

namespace {

const QRectF desktopScreen(0, 0, 1920, 1080);
const QRectF collapsedFrame(845, 6, 230, 36);
const QRectF expandedFrame(750, 6, 420, 262);

class NotchControllerTest : public ::testing::Test {
  public:
    NotchControllerTest() {
        auto watcher = std::make_unique<FakeDesktop>();
        desktop = watcher.get();
        controller = std::make_unique<NotchWindowController>(
            queue, std::move(watcher), [this](NotchWindowController&) -> std::unique_ptr<NotchPanel> {
                ++panelsMade;
                if (!canMakePanel) return nullptr;
                auto made = std::make_unique<FakePanel>();
                panel = made.get();
                return made;
            });
    }

    // Enabled, expanded by hovering, pointer inside.
    void expandByHover() {
        controller->setEnabled(true);
        controller->hover(true);
        queue.advance(170ms);
        ASSERT_TRUE(controller->expanded());
    }

    ManualMainQueue queue;
    FakeDesktop* desktop = nullptr;
    FakePanel* panel = nullptr;
    int panelsMade = 0;
    bool canMakePanel = true;
    std::unique_ptr<NotchWindowController> controller;
};

}  // namespace

TEST_F(NotchControllerTest, SwitchingOnShowsOnePanelCollapsedAndSwitchingOffHidesIt) {
    controller->setEnabled(true);
    ASSERT_NE(panel, nullptr);
    EXPECT_TRUE(panel->visible);
    EXPECT_EQ(panel->frame, collapsedFrame);
    EXPECT_EQ(controller->geometry().screen, desktopScreen);

    controller->expand(false);
    controller->setEnabled(true);  // a second switch-on keeps the expanded state
    EXPECT_TRUE(controller->expanded());
    EXPECT_EQ(panel->frame, expandedFrame);
    // What other windows keep clear of: the collapsed frame while the panel is shown.
    EXPECT_EQ(controller->shownFrame(), collapsedFrame);

    controller->setEnabled(false);
    EXPECT_FALSE(panel->visible);
    EXPECT_FALSE(controller->expanded());
    EXPECT_TRUE(controller->shownFrame().isEmpty());
    controller->setEnabled(true);
    EXPECT_EQ(panelsMade, 1);
    EXPECT_TRUE(panel->visible);
    EXPECT_EQ(panel->frame, collapsedFrame);
}

TEST_F(NotchControllerTest, HoverOpensAfterTheShortDelayAndClosesAfterTheLongOne) {
    controller->setEnabled(true);
    controller->hover(true);
    queue.advance(160ms);
    EXPECT_FALSE(controller->expanded());
    queue.advance(10ms);
    EXPECT_TRUE(controller->expanded());
    EXPECT_EQ(panel->frame, expandedFrame);
    EXPECT_TRUE(desktop->watching);
    EXPECT_FALSE(panel->key);  // hovering never takes keyboard focus

    controller->hover(false);
    queue.advance(490ms);
    EXPECT_TRUE(controller->expanded());
    queue.advance(10ms);
    EXPECT_FALSE(controller->expanded());
    EXPECT_EQ(panel->frame, collapsedFrame);
    EXPECT_FALSE(desktop->watching);
}

TEST_F(NotchControllerTest, ABriefPassNeverOpensAndABriefExitNeverCloses) {
    controller->setEnabled(true);
    controller->hover(true);
    queue.advance(100ms);
    controller->hover(false);
    queue.advance(2s);
    EXPECT_FALSE(controller->expanded());

    controller->hover(true);
    queue.advance(170ms);
    controller->hover(false);
    queue.advance(400ms);
    controller->hover(true);
    EXPECT_FALSE(controller->hasPendingAction());
    queue.advance(2s);
    EXPECT_TRUE(controller->expanded());
}

TEST_F(NotchControllerTest, PinDragAndKeyboardOpeningEachHoldTheExpandedPlayer) {
    const std::pair<const char*, std::function<void(NotchWindowController&)>> holds[] = {
        {"pinned", [](NotchWindowController& c) { c.setPinned(true); }},
        {"dragging", [](NotchWindowController& c) { c.sliderEditingChanged(true); }},
        {"opened for the keyboard", [](NotchWindowController& c) { c.expand(true); }},
    };
    for (const auto& [name, hold] : holds) {
        SCOPED_TRACE(name);
        controller->setEnabled(false);
        expandByHover();
        hold(*controller);
        controller->hover(false);
        EXPECT_FALSE(controller->hasPendingAction());
        queue.advance(2s);
        EXPECT_TRUE(controller->expanded());
    }
}

TEST_F(NotchControllerTest, KeyboardOpeningTakesFocusUntilThePointerComesBack) {
    controller->setEnabled(true);
    controller->expand(true);
    EXPECT_TRUE(panel->key);
    EXPECT_TRUE(controller->keyboardOpen());

    controller->hover(true);
    EXPECT_FALSE(controller->keyboardOpen());
    controller->hover(false);
    queue.advance(500ms);
    EXPECT_FALSE(controller->expanded());
    EXPECT_FALSE(panel->key);
}

TEST_F(NotchControllerTest, ADragThatEndsOutsideStartsTheCloseAndOneEndingInsideDoesNot) {
    expandByHover();
    controller->sliderEditingChanged(true);
    controller->sliderEditingChanged(false);  // pointer still inside
    EXPECT_FALSE(controller->hasPendingAction());

    controller->sliderEditingChanged(true);
    controller->hover(false);
    controller->sliderEditingChanged(false);
    EXPECT_FALSE(controller->interacting());
    queue.advance(500ms);
    EXPECT_FALSE(controller->expanded());
}

TEST_F(NotchControllerTest, EveryWayOfDismissingCollapsesAPinnedPlayerAndClearsThePin) {
    const qint64 ownPid = QCoreApplication::applicationPid();
    const std::pair<const char*, std::function<void(NotchControllerTest&)>> dismissals[] = {
        {"escape", [](NotchControllerTest& t) { t.panel->handlers.closePlayer(); }},
        {"focus lost", [](NotchControllerTest& t) { t.panel->handlers.focusLost(); }},
        {"press outside", [](NotchControllerTest& t) { t.desktop->press({100, 500}); }},
        {"press just below", [](NotchControllerTest& t) { t.desktop->press({960, 269}); }},
        {"other program", [=](NotchControllerTest& t) { t.desktop->handlers.applicationActivated(ownPid + 1); }},
        {"open panel", [](NotchControllerTest& t) { t.controller->openStatusPanel(); }},
        {"header", [](NotchControllerTest& t) { t.controller->toggleFromHeader(); }},
    };
    for (const auto& [name, dismiss] : dismissals) {
        SCOPED_TRACE(name);
        controller->setEnabled(false);
        expandByHover();
        controller->setPinned(true);
        dismiss(*this);
        EXPECT_FALSE(controller->expanded());
        EXPECT_FALSE(controller->pinned());
        EXPECT_FALSE(desktop->watching);
    }
}

TEST_F(NotchControllerTest, PressesInsideAndActivationsOfThisProgramLeaveItOpen) {
    expandByHover();
    desktop->press({750, 6});
    desktop->press({960, 200});
    desktop->handlers.applicationActivated(QCoreApplication::applicationPid());
    desktop->handlers.applicationActivated(std::nullopt);
    EXPECT_TRUE(controller->expanded());
}

TEST_F(NotchControllerTest, SwitchingOffDropsThePendingCloseAndAllFlags) {
    expandByHover();
    controller->sliderEditingChanged(true);
    controller->sliderEditingChanged(false);
    controller->hover(false);
    ASSERT_TRUE(controller->hasPendingAction());

    controller->setEnabled(false);
    EXPECT_EQ(queue.pendingTimerCount(), 0u);
    EXPECT_FALSE(controller->expanded() || controller->pinned() || controller->interacting() ||
                 controller->pointerInside() || controller->keyboardOpen());
    EXPECT_FALSE(desktop->watching);

    // Disabled: hovering and expanding do nothing, collapsing still works.
    controller->hover(true);
    controller->expand(true);
    EXPECT_EQ(queue.pendingTimerCount(), 0u);
    EXPECT_FALSE(controller->expanded());
    controller->collapse();
    EXPECT_FALSE(panel->visible);
}

TEST_F(NotchControllerTest, ScreenChangesMoveThePanelAndIgnoreTinyOrMissingScreens) {
    controller->setEnabled(true);
    QSignalSpy geometryChanges(controller.get(), &NotchWindowController::geometryChanged);

    desktop->screenList = {{QRectF(0, 0, 100, 600)}};
    desktop->handlers.screensChanged();
    desktop->screenList = {};
    desktop->handlers.screensChanged();
    EXPECT_EQ(controller->geometry().screen, desktopScreen);
    EXPECT_EQ(panel->frame, collapsedFrame);

    // A screen with a housing wins over the first one.
    desktop->screenList = {{QRectF(0, 0, 1920, 1080)},
                           {QRectF(1920, 0, 1512, 982), 38, QRectF(1920, 0, 663.5, 38), QRectF(2768.5, 0, 663.5, 38)}};
    desktop->handlers.screensChanged();
    EXPECT_EQ(controller->geometry().hardwareWidth, 185);
    EXPECT_EQ(panel->frame, QRectF(2539.5, 0, 273, 38));
    desktop->handlers.screensChanged();
    EXPECT_EQ(geometryChanges.count(), 1);  // the same measurement announces nothing
}

TEST_F(NotchControllerTest, WithoutAPanelTheControllerStillRunsAndTriesAgainNextTime) {
    canMakePanel = false;
    controller->setEnabled(true);
    controller->hover(true);
    queue.advance(170ms);
    EXPECT_TRUE(controller->expanded());
    EXPECT_TRUE(controller->shownFrame().isEmpty());
    controller->collapse();

    canMakePanel = true;
    controller->setEnabled(true);
    EXPECT_EQ(panelsMade, 2);
    EXPECT_TRUE(panel->visible);
}

TEST_F(NotchControllerTest, APendingActionDiesWithTheController) {
    controller->setEnabled(true);
    controller->hover(true);
    controller.reset();
    queue.advance(1s);
    EXPECT_EQ(queue.pendingTimerCount(), 0u);
}
