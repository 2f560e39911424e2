#include "app/notch/NotchWindowController.h"

#include <QCoreApplication>
#include <algorithm>

namespace velto {

namespace {

// Screens this small are passing states of a display being set up; the panel stays put.
constexpr double minimumScreenSide = 100;

}  // namespace

NotchWindowController::NotchWindowController(MainQueue& queue,
                                             std::unique_ptr<NotchDesktopWatcher> desktop,
                                             PanelFactory makePanel, QObject* parent)
    : QObject(parent), queue_(queue), desktop_(std::move(desktop)), makePanel_(std::move(makePanel)) {
    // The watcher lives and dies with the controller, so its handlers may hold `this`.
    desktop_->setHandlers({
        .pressed = [this](QPointF position) { dismissIfOutside(position); },
        .applicationActivated = [this](std::optional<qint64> pid) { applicationActivated(pid); },
        .screensChanged = [this] { reposition(); },
        .obscuredChanged =
            [this](bool obscured) {
                if (obscured == obscured_) return;
                obscured_ = obscured;
                emit obscuredChanged();
            },
    });
}

NotchWindowController::~NotchWindowController() {
    cancelPendingAction();
    stopOutsideClickMonitoring();
    desktop_->setHandlers({});
    if (panel_) panel_->setHandlers({});
}

void NotchWindowController::setEnabled(bool enabled) {
    enabled_ = enabled;
    if (enabled) {
        if (!panel_ && makePanel_) {
            panel_ = makePanel_(*this);
            if (panel_) {
                panel_->setHandlers({
                    .closePlayer = [this] { collapse(); },
                    .focusLost = [this] {
                        if (expanded_) collapse();
                    },
                });
            }
        }
        reposition();
        if (panel_) panel_->orderFront();
        updateShownFrame();
        return;
    }
    cancelPendingAction();
    stopOutsideClickMonitoring();
    setExpanded(false);
    setPinned(false);
    interacting_ = false;
    pointerInside_ = false;
    keyboardOpen_ = false;
    if (panel_) panel_->orderOut();
    updateShownFrame();
}

void NotchWindowController::hover(bool inside) {
    if (!enabled_) return;
    pointerInside_ = inside;
    cancelPendingAction();
    if (inside) {
        keyboardOpen_ = false;
        if (!expanded_) schedule(openDelay, &NotchWindowController::openAfterDelay);
        return;
    }
    if (!expanded_ || pinned_ || interacting_ || keyboardOpen_) return;
    schedule(closeDelay, &NotchWindowController::closeAfterDelay);
}

void NotchWindowController::expand(bool keyboard) {
    if (!enabled_) return;
    cancelPendingAction();
    keyboardOpen_ = keyboard;
    setExpanded(true);
    reposition();
    if (panel_) {
        panel_->orderFront();
        if (keyboard) panel_->makeKey();
    }
    startOutsideClickMonitoring();
}

void NotchWindowController::collapse() {
    cancelPendingAction();
    stopOutsideClickMonitoring();
    setPinned(false);
    setExpanded(false);
    interacting_ = false;
    keyboardOpen_ = false;
    // The flags are down first, so the focus loss this may report finds nothing to collapse.
    if (panel_) panel_->resignKey();
    reposition();
}

void NotchWindowController::reposition() {
    if (!enabled_) return;
    const auto screens = desktop_->screens();
    if (screens.empty()) return;
    auto chosen = std::find_if(screens.begin(), screens.end(),
                               [](const NotchDesktopWatcher::Screen& s) { return s.safeTop > 0; });
    if (chosen == screens.end()) chosen = screens.begin();
    const auto& screen = *chosen;
    if (!(screen.frame.width() > minimumScreenSide && screen.frame.height() > minimumScreenSide)) return;

    double hardwareWidth = 0;
    if (screen.auxiliaryTopLeft && screen.auxiliaryTopRight) {
        hardwareWidth = std::max(screen.auxiliaryTopRight->left() - screen.auxiliaryTopLeft->right(), 0.0);
    }
    NotchGeometry measured{screen.frame, screen.safeTop, hardwareWidth};
    if (measured != geometry_) {
        geometry_ = measured;
        emit geometryChanged();
    }
    if (panel_) panel_->setFrame(geometry_.frame(expanded_));
    updateShownFrame();
}

void NotchWindowController::updateShownFrame() {
    const QRectF frame = enabled_ && panel_ ? geometry_.frame(false) : QRectF();
    if (frame == shownFrame_) return;
    shownFrame_ = frame;
    emit shownFrameChanged();
}

void NotchWindowController::toggleFromHeader() {
    if (expanded_) {
        collapse();
    } else {
        expand(true);
    }
}

void NotchWindowController::sliderEditingChanged(bool editing) {
    interacting_ = editing;
    cancelPendingAction();
    if (!editing && !pointerInside_) hover(false);
}

void NotchWindowController::openStatusPanel() {
    collapse();
    emit openStatusPanelRequested();
}

void NotchWindowController::cancelPendingAction() {
    if (!pending_) return;
    queue_.cancel(*pending_);
    pending_.reset();
}

void NotchWindowController::setPinned(bool pinned) {
    if (pinned_ == pinned) return;
    pinned_ = pinned;
    emit pinnedChanged();
}

void NotchWindowController::setExpanded(bool expanded) {
    if (expanded_ == expanded) return;
    expanded_ = expanded;
    emit expandedChanged();
}

void NotchWindowController::schedule(double delay, void (NotchWindowController::*action)()) {
    // Always after cancelPendingAction: at most one delayed action is pending.
    pending_ = queue_.schedule(seconds(delay), [this, action] {
        pending_.reset();
        (this->*action)();
    });
}

void NotchWindowController::openAfterDelay() {
    expand(false);
}

void NotchWindowController::closeAfterDelay() {
    collapse();
}

void NotchWindowController::startOutsideClickMonitoring() {
    stopOutsideClickMonitoring();
    desktop_->watchPresses(true);
    monitoring_ = true;
}

void NotchWindowController::stopOutsideClickMonitoring() {
    if (!monitoring_) return;
    desktop_->watchPresses(false);
    monitoring_ = false;
}

void NotchWindowController::dismissIfOutside(QPointF position) {
    if (!expanded_) return;
    if (!geometry_.frame(true).contains(position)) collapse();
}

void NotchWindowController::applicationActivated(std::optional<qint64> pid) {
    if (!pid || *pid == QCoreApplication::applicationPid()) return;
    if (expanded_) collapse();
}

}  // namespace velto
