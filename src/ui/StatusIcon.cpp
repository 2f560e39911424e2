#include "ui/StatusIcon.h"

#include <QPainter>
#include <QPixmap>

namespace velto {

QIcon makeStatusIcon() {
    QIcon icon;
    for (int size : {16, 22, 32, 64}) {
        QPixmap pixmap(size, size);
        pixmap.fill(Qt::transparent);
        QPainter painter(&pixmap);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(Qt::NoPen);
        painter.setBrush(QColor(0xE6, 0xE6, 0xE6));
        const double heights[] = {0.35, 0.7, 1.0, 0.55, 0.8};
        const double bar = size / 9.0;
        for (int i = 0; i < 5; ++i) {
            double h = heights[i] * size * 0.8;
            painter.drawRoundedRect(QRectF(bar * (1 + 1.5 * i), (size - h) / 2, bar, h), bar / 2,
                                    bar / 2);
        }
        icon.addPixmap(pixmap);
    }
    return icon;
}

}  // namespace velto
