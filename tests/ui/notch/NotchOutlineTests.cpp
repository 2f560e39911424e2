#include <gtest/gtest.h>

#include <QPainterPath>
#include <QRegion>

#include "ui/notch/QuickNotchPanel.h"

namespace velto {
namespace {

// The outline the view draws: square-ish top corners, rounder bottom ones.
QPainterPath drawnOutline(QSizeF size, double top, double bottom) {
    QPainterPath path;
    const double w = size.width(), h = size.height();
    path.moveTo(top, 0);
    path.lineTo(w - top, 0);
    path.arcTo(w - 2 * top, 0, 2 * top, 2 * top, 90, -90);
    path.lineTo(w, h - bottom);
    path.arcTo(w - 2 * bottom, h - 2 * bottom, 2 * bottom, 2 * bottom, 0, -90);
    path.lineTo(bottom, h);
    path.arcTo(0, h - 2 * bottom, 2 * bottom, 2 * bottom, 270, -90);
    path.lineTo(0, top);
    path.arcTo(0, 0, 2 * top, 2 * top, 180, -90);
    path.closeSubpath();
    return path;
}

// The window's cut outline against the drawn one, pixel centre by pixel centre, for the
// notch's sizes collapsed and expanded, during the corner animation, and with radii past half
// the size (which the view clamps too).
TEST(NotchOutline, CutsTheWindowToTheDrawnCornersAndNoMore) {
    struct Case {
        QSize size;
        double top, bottom;
    };
    for (const Case& c : {Case{{230, 36}, 18, 18}, Case{{420, 262}, 18, 28}, Case{{420, 262}, 8, 23.5},
                          Case{{230, 36}, 8, 28}, Case{{60, 20}, 40, 40}}) {
        const double limit = std::min(c.size.width(), c.size.height()) / 2.0;
        const double top = std::min(c.top, limit), bottom = std::min(c.bottom, limit);
        const QPainterPath drawn = drawnOutline(c.size, top, bottom);
        QRegion cut;
        for (const QRect& band : QuickNotchPanel::outline(c.size, c.top, c.bottom)) cut += band;
        int differing = 0, inside = 0;
        for (int y = 0; y < c.size.height(); ++y)
            for (int x = 0; x < c.size.width(); ++x) {
                const bool drawnHere = drawn.contains(QPointF(x + 0.5, y + 0.5));
                inside += drawnHere;
                differing += drawnHere != cut.contains(QPoint(x, y));
            }
        const QString name = QStringLiteral("%1×%2 r%3/%4").arg(c.size.width()).arg(c.size.height())
                                 .arg(c.top).arg(c.bottom);
        // Pixel centres on the curve itself may go either way.
        EXPECT_LE(differing, 4) << name.toStdString();
        EXPECT_GT(inside, c.size.width() * c.size.height() / 2) << name.toStdString();
        EXPECT_FALSE(cut.contains(QPoint(0, 0))) << name.toStdString();
        EXPECT_FALSE(cut.contains(QPoint(c.size.width() - 1, c.size.height() - 1))) << name.toStdString();
        EXPECT_TRUE(cut.boundingRect() == QRect(QPoint(), c.size)) << name.toStdString();
    }
    EXPECT_TRUE(QuickNotchPanel::outline({0, 36}, 18, 18).empty());
}

}  // namespace
}  // namespace velto
