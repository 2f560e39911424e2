#include "ui/notch/QuickNotchPanel.h"

#include <xcb/shape.h>
#include <xcb/xcb.h>

#include <QGuiApplication>
#include <QKeyEvent>
#include <QQuickWindow>
#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "ui/keys/ActivationKeys.h"

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
    new ActivationKeys(*window_);
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
    applyOutline();
    showIfPlaced();
}

void QuickNotchPanel::setCornerSource(std::function<std::pair<double, double>()> radii) {
    cornerSource_ = std::move(radii);
    refreshCorners();
}

void QuickNotchPanel::refreshCorners() {
    if (!cornerSource_) return;
    const auto [top, bottom] = cornerSource_();
    if (top == topRadius_ && bottom == bottomRadius_) return;
    topRadius_ = top;
    bottomRadius_ = bottom;
    applyOutline();
}

std::vector<QRect> QuickNotchPanel::outline(QSize size, double topRadius, double bottomRadius) {
    std::vector<QRect> bands;
    const int w = size.width(), h = size.height();
    if (w <= 0 || h <= 0) return bands;
    const double limit = std::min(w, h) / 2.0;
    const double top = std::clamp(topRadius, 0.0, limit);
    const double bottom = std::clamp(bottomRadius, 0.0, limit);
    // How far in from each side row `y` starts: the corner arc at the row's centre, the first
    // pixel whose centre lies on or inside it.
    const auto inset = [&](int y) {
        const double centre = y + 0.5;
        double radius = 0, depth = 0;  // depth: how far into the corner's square the row lies
        if (centre < top) radius = top, depth = top - centre;
        else if (centre > h - bottom) radius = bottom, depth = centre - (h - bottom);
        else return 0;
        const double edge = radius - std::sqrt(std::max(0.0, radius * radius - depth * depth));
        return static_cast<int>(std::ceil(edge - 0.5));
    };
    for (int y = 0; y < h; ++y) {
        const int in = inset(y);
        if (2 * in >= w) continue;
        if (!bands.empty() && bands.back().left() == in && bands.back().bottom() == y - 1)
            bands.back().setBottom(y);
        else
            bands.emplace_back(in, y, w - 2 * in, 1);
    }
    return bands;
}

void QuickNotchPanel::applyOutline() {
    if (frame_.isEmpty() || !onX11()) return;
    xcb_connection_t* connection = qtConnection();
    if (!connection) return;
    const auto* shape = xcb_get_extension_data(connection, &xcb_shape_id);
    if (!shape || !shape->present) return;
    // The outline is cut in device pixels.
    const double ratio = window_->devicePixelRatio();
    const QSize size = (QSizeF(frame_.size()) * ratio).toSize();
    std::vector<xcb_rectangle_t> rectangles;
    for (const QRect& band : outline(size, topRadius_ * ratio, bottomRadius_ * ratio))
        rectangles.push_back({static_cast<std::int16_t>(band.x()), static_cast<std::int16_t>(band.y()),
                              static_cast<std::uint16_t>(band.width()),
                              static_cast<std::uint16_t>(band.height())});
    xcb_shape_rectangles(connection, XCB_SHAPE_SO_SET, XCB_SHAPE_SK_BOUNDING, XCB_CLIP_ORDERING_YX_BANDED,
                         static_cast<xcb_window_t>(window_->winId()), 0, 0,
                         static_cast<std::uint32_t>(rectangles.size()), rectangles.data());
    xcb_flush(connection);
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
