#include "ui/notch/NotchMeterItem.h"

#include <QPainter>

namespace velto {

NotchMeterItem::NotchMeterItem(QQuickItem* parent) : QQuickPaintedItem(parent) {
    setAntialiasing(true);
}

void NotchMeterItem::setModel(NotchMeterModel* model) {
    if (model == model_) return;
    if (model_) disconnect(model_, nullptr, this, nullptr);
    model_ = model;
    if (model_) {
        connect(model_, &NotchMeterModel::heightsChanged, this, [this] { update(); });
        connect(model_, &NotchMeterModel::stateChanged, this, [this] { update(); });
    }
    emit modelChanged();
    update();
}

void NotchMeterItem::setBackdrop(const QColor& colour) {
    if (colour == fillColor()) return;
    setFillColor(colour);
    setOpaquePainting(colour.alpha() == 255);
    emit backdropChanged();
}

void NotchMeterItem::paint(QPainter* painter) {
    if (!model_) return;
    const auto heights = model_->heights();
    const double total = heights.size() * barWidth + (heights.size() - 1) * barSpacing;
    double x = (width() - total) / 2;
    QColor colour(0x32, 0xad, 0xe6);
    colour.setAlphaF(model_->barOpacity());
    painter->setPen(Qt::NoPen);
    painter->setBrush(colour);
    painter->setRenderHint(QPainter::Antialiasing);
    for (double height : heights) {
        painter->drawRoundedRect(QRectF(x, (this->height() - height) / 2, barWidth, height),
                                 barWidth / 2, barWidth / 2);
        x += barWidth + barSpacing;
    }
}

}  // namespace velto
