#include <gtest/gtest.h>

#include <QPainterPath>
#include <QRegion>

#include "ui/notch/QuickNotchPanel.h"

namespace velto {
namespace {

// The window's cut outline against the outline the view draws, pixel centre by pixel centre:
// collapsed, expanded, mid-animation, and with radii past half the size (clamped by both).
TEST(NotchOutline, CutsTheWindowToTheDrawnCorners) {
    struct Case {
        QSize size;
        double top, bottom;
    };
    for (const Case& c : {Case{{230, 36}, 18, 18}, Case{{420, 262}, 18, 28}, Case{{420, 262}, 8, 23.5},
                          Case{{60, 20}, 40, 40}}) {
        const double w = c.size.width(), h = c.size.height();
        const double t = std::min({c.top, w / 2, h / 2}), b = std::min({c.bottom, w / 2, h / 2});
        QPainterPath drawn;
        drawn.moveTo(t, 0);
        drawn.arcTo(w - 2 * t, 0, 2 * t, 2 * t, 90, -90);
        drawn.arcTo(w - 2 * b, h - 2 * b, 2 * b, 2 * b, 0, -90);
        drawn.arcTo(0, h - 2 * b, 2 * b, 2 * b, 270, -90);
        drawn.arcTo(0, 0, 2 * t, 2 * t, 180, -90);
        QRegion cut;
        for (const QRect& band : QuickNotchPanel::outline(c.size, c.top, c.bottom)) cut += band;
        int differing = 0;
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
                differing += drawn.contains(QPointF(x + 0.5, y + 0.5)) != cut.contains(QPoint(x, y));
        EXPECT_LE(differing, 4) << w << "×" << h;  // centres on the curve itself go either way
        EXPECT_EQ(cut.boundingRect(), QRect(QPoint(), c.size)) << w << "×" << h;
    }
}

}  // namespace
}  // namespace velto
