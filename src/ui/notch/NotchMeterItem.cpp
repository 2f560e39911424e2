#include "ui/notch/NotchMeterItem.h"

#include <QGuiApplication>
#include <QPainter>
#include <QQuickWindow>

#include "ui/notch/X11MeterWindow.h"

namespace velto {

NotchMeterItem::NotchMeterItem(QQuickItem* parent) : QQuickPaintedItem(parent) {
    setAntialiasing(true);
}

NotchMeterItem::~NotchMeterItem() {
    if (native_ && model_) model_->setPacedByPainter(false);
}

void NotchMeterItem::setModel(NotchMeterModel* model) {
    if (model == model_) return;
    if (model_) {
        disconnect(model_, nullptr, this, nullptr);
        model_->setPacedByPainter(false);
    }
    model_ = model;
    if (model_) {
        connect(model_, &NotchMeterModel::heightsChanged, this, &NotchMeterItem::showModel);
        connect(model_, &NotchMeterModel::stateChanged, this, &NotchMeterItem::showModel);
        model_->setPacedByPainter(native_ != nullptr);
    }
    emit modelChanged();
    showModel();
}

void NotchMeterItem::setBackdrop(const QColor& colour) {
    if (colour == fillColor()) return;
    setFillColor(colour);
    setOpaquePainting(colour.alpha() == 255);
    emit backdropChanged();
    if (window()) useNativeWhereDue(window());
    showModel();
}

void NotchMeterItem::itemChange(ItemChange change, const ItemChangeData& value) {
    QQuickPaintedItem::itemChange(change, value);
    if (change != ItemSceneChange) return;
    disconnect(frames_);
    disconnect(shownChanges_);
    useNativeWhereDue(value.window);
}

void NotchMeterItem::useNativeWhereDue(QQuickWindow* window) {
    // Drawn over by a window of its own only where the backdrop is solid, so that nothing
    // under the meter should show through.
    if (window && !native_ && QGuiApplication::platformName() == QLatin1String("xcb") &&
        fillColor().alpha() == 255) {
        const QByteArray display = qgetenv("DISPLAY");
        native_ = X11MeterWindow::connect(display.isEmpty() ? nullptr : display.constData());
        if (native_ && model_) model_->setPacedByPainter(true);
        showModel();
    }
    if (!native_) return;
    if (!window) {
        native_->place(0, {}, 1);
        return;
    }
    // Whatever moves the meter draws a frame first, laid out by then; the place is checked on each.
    if (!frames_)
        frames_ = connect(window, &QQuickWindow::beforeSynchronizing, this, &NotchMeterItem::placeNative,
                          Qt::DirectConnection);
    // A hidden window draws no frame; the meter over it goes at once.
    if (!shownChanges_)
        shownChanges_ = connect(window, &QWindow::visibleChanged, this, &NotchMeterItem::placeNative);
    placeNative();
}

void NotchMeterItem::placeNative() {
    QQuickWindow* shownIn = window();
    if (!native_ || !shownIn) return;
    if (!isVisible() || !shownIn->isVisible()) {
        native_->place(0, {}, 1);
        return;
    }
    // Qt calls a window visible before its own connection has sent the map: the window is
    // handed over once the server has shown it, and its frames come only after that.
    if (!shownIn->isExposed()) return;
    const double ratio = shownIn->effectiveDevicePixelRatio();
    const QRectF area = mapRectToScene(boundingRect());
    const QRect pixels(QRectF(area.topLeft() * ratio, area.size() * ratio).toAlignedRect());
    native_->place(static_cast<std::uint32_t>(shownIn->winId()), pixels, ratio);
}

void NotchMeterItem::showModel() {
    if (!native_) {
        update();
        return;
    }
    if (!model_) return;
    native_->show({
        .swinging = model_->running(),
        .heights = model_->heights(),
        .opacity = model_->barOpacity(),
        .backdrop = fillColor(),
    });
}

void NotchMeterItem::paint(QPainter* painter) {
    // On X the window of its own shows the bars; the item paints its backdrop alone.
    if (!model_ || native_) return;
    paintBars(*painter, size(), model_->heights(), model_->barOpacity());
}

void NotchMeterItem::paintBars(QPainter& painter, QSizeF size, const QList<double>& heights, double opacity) {
    const double total = heights.size() * barWidth + (heights.size() - 1) * barSpacing;
    double x = (size.width() - total) / 2;
    QColor colour(0x32, 0xad, 0xe6);
    colour.setAlphaF(opacity);
    painter.setPen(Qt::NoPen);
    painter.setBrush(colour);
    painter.setRenderHint(QPainter::Antialiasing);
    for (double height : heights) {
        painter.drawRoundedRect(QRectF(x, (size.height() - height) / 2, barWidth, height), barWidth / 2,
                                barWidth / 2);
        x += barWidth + barSpacing;
    }
}

}  // namespace velto
