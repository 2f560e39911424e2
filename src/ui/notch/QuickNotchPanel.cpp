#include "ui/notch/QuickNotchPanel.h"

#include <xcb/xcb.h>

#include <QGuiApplication>
#include <QKeyEvent>
#include <QQuickWindow>
#include <cstdlib>

namespace velto {

namespace {

bool onX11() {
    return QGuiApplication::platformName() == QLatin1String("xcb");
}

xcb_connection_t* qtConnection() {
    auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    return x11 ? x11->connection() : nullptr;
}

}  // namespace

QuickNotchPanel::QuickNotchPanel(std::unique_ptr<QQuickWindow> window, QObject* parent)
    : QObject(parent), window_(std::move(window)) {
    Qt::WindowFlags flags = Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint |
                            Qt::NoDropShadowWindowHint;
    if (onX11()) flags |= Qt::X11BypassWindowManagerHint;
    window_->setFlags(flags);
    window_->setTitle(QString::fromUtf8(title));
    window_->setColor(Qt::transparent);
    window_->installEventFilter(this);
    connect(window_.get(), &QWindow::activeChanged, this, [this] {
        if (!window_->isActive() && handlers_.focusLost) handlers_.focusLost();
    });
}

QuickNotchPanel::~QuickNotchPanel() {
    window_->removeEventFilter(this);
}

void QuickNotchPanel::setFrame(const QRectF& frame) {
    frame_ = frame.toRect();
    if (!frame_.isEmpty()) window_->setGeometry(frame_);
    showIfPlaced();
}

void QuickNotchPanel::orderFront() {
    wantsFront_ = true;
    showIfPlaced();
    // Only X stacks on request; other platforms warn that they cannot.
    if (window_->isVisible() && onX11()) window_->raise();
}

void QuickNotchPanel::orderOut() {
    wantsFront_ = false;
    window_->hide();
}

void QuickNotchPanel::makeKey() {
    if (!window_->isVisible()) return;
    if (auto* connection = onX11() ? qtConnection() : nullptr; connection && !window_->isActive()) {
        auto* focus = xcb_get_input_focus_reply(connection, xcb_get_input_focus(connection), nullptr);
        previousFocus_ = focus ? focus->focus : 0;
        std::free(focus);
    }
    window_->requestActivate();
}

void QuickNotchPanel::resignKey() {
    if (!window_->isActive()) return;
    // Without a window manager's help the focus goes back where it came from by hand.
    auto* connection = onX11() ? qtConnection() : nullptr;
    if (!connection) return;
    const bool known = previousFocus_ != XCB_NONE && previousFocus_ != window_->winId();
    xcb_set_input_focus(connection, XCB_INPUT_FOCUS_POINTER_ROOT,
                        known ? previousFocus_ : static_cast<std::uint32_t>(XCB_INPUT_FOCUS_POINTER_ROOT),
                        XCB_CURRENT_TIME);
    xcb_flush(connection);
    previousFocus_ = 0;
}

bool QuickNotchPanel::eventFilter(QObject* watched, QEvent* event) {
    if (watched == window_.get() && event->type() == QEvent::KeyPress &&
        static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape) {
        if (handlers_.closePlayer) handlers_.closePlayer();
        return true;
    }
    return QObject::eventFilter(watched, event);
}

void QuickNotchPanel::showIfPlaced() {
    // With no screen measured yet there is nowhere to show the panel.
    if (!wantsFront_ || frame_.isEmpty() || window_->isVisible()) return;
    window_->show();
}

}  // namespace velto
