#include "ui/artwork/RoundedImageItem.h"

#include <QPainter>
#include <QPainterPath>

namespace velto {

RoundedImageItem::RoundedImageItem(QQuickItem* parent) : QQuickPaintedItem(parent) {
    setAntialiasing(true);
}

void RoundedImageItem::setImage(const QImage& image) {
    if (image.isNull() && image_.isNull()) return;
    if (image.cacheKey() == image_.cacheKey()) return;
    image_ = image;
    emit imageChanged();
    update();
}

void RoundedImageItem::setRadius(double radius) {
    if (radius == radius_) return;
    radius_ = radius;
    emit radiusChanged();
    update();
}

QRectF RoundedImageItem::fillSource(QSizeF size, QSizeF target) {
    if (size.isEmpty() || target.isEmpty()) return {};
    const double scale = std::max(target.width() / size.width(), target.height() / size.height());
    const QSizeF shown(target.width() / scale, target.height() / scale);
    return {QPointF((size.width() - shown.width()) / 2, (size.height() - shown.height()) / 2),
            shown};
}

void RoundedImageItem::paint(QPainter* painter) {
    if (image_.isNull()) return;
    const QRectF bounds(0, 0, width(), height());
    QPainterPath clip;
    clip.addRoundedRect(bounds, radius_, radius_);
    painter->setRenderHint(QPainter::Antialiasing);
    painter->setRenderHint(QPainter::SmoothPixmapTransform);
    painter->setClipPath(clip);
    painter->drawImage(bounds, image_, fillSource(image_.size(), bounds.size()));
}

}  // namespace velto
