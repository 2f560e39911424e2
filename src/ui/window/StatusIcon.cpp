#include "ui/window/StatusIcon.h"

#include <algorithm>

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

namespace velto {

QIcon makeStatusIcon() {
    QIcon icon;
    for (int size : {16, 22, 24, 32, 48, 64}) {
        QPixmap pixmap(size, size);
        pixmap.fill(Qt::transparent);
        QPainter painter(&pixmap);
        painter.setRenderHint(QPainter::Antialiasing);
        QPainterPath bars;
        const double heights[] = {0.35, 0.7, 1.0, 0.55, 0.8};
        const double bar = size / 9.0;
        for (int i = 0; i < 5; ++i) {
            const double h = heights[i] * size * 0.8;
            bars.addRoundedRect(QRectF(bar * (1 + 1.5 * i), (size - h) / 2, bar, h), bar / 2,
                                bar / 2);
        }
        // Tray panels come light and dark and the icon cannot know which: light bars with a
        // dark rim read on both.
        const double rim = std::max(1.0, size / 16.0);
        painter.setPen(QPen(QColor(0x1C, 0x1C, 0x1E, 230), rim * 2, Qt::SolidLine, Qt::RoundCap,
                            Qt::RoundJoin));
        painter.drawPath(bars);
        painter.setPen(Qt::NoPen);
        painter.setBrush(QColor(0xF4, 0xF4, 0xF6));
        painter.drawPath(bars);
        icon.addPixmap(pixmap);
    }
    return icon;
}

}  // namespace velto
