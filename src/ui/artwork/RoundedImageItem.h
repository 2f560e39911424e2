#pragma once

#include <QImage>
#include <QQuickPaintedItem>

namespace velto {

// A picture scaled to fill the item (aspect kept, overflow cropped) and clipped to a rounded
// square, painted on the CPU so the software scene graph shows the same as the GPU one.
class RoundedImageItem : public QQuickPaintedItem {
    Q_OBJECT
    Q_PROPERTY(QImage image READ image WRITE setImage NOTIFY imageChanged)
    Q_PROPERTY(bool hasImage READ hasImage NOTIFY imageChanged)
    Q_PROPERTY(double radius READ radius WRITE setRadius NOTIFY radiusChanged)

public:
    explicit RoundedImageItem(QQuickItem* parent = nullptr);

    QImage image() const { return image_; }
    void setImage(const QImage& image);
    bool hasImage() const { return !image_.isNull(); }
    double radius() const { return radius_; }
    void setRadius(double radius);

    // The part of a picture of `size` that fills a `target` rectangle, centred.
    static QRectF fillSource(QSizeF size, QSizeF target);

    void paint(QPainter* painter) override;

signals:
    void imageChanged();
    void radiusChanged();

private:
    QImage image_;
    double radius_ = 0;
};

}  // namespace velto
