#include <gtest/gtest.h>

#include "app/notch/NotchGeometry.h"

using namespace velto;

namespace {

struct FrameCase {
    const char* name;
    NotchGeometry geometry;
    QRectF collapsed;
    QRectF expanded;
};

}  // namespace

TEST(NotchGeometry, FramesCentreOnTheScreenAndHangFromItsTopEdge) {
    const QRectF laptop(0, 0, 1512, 982);
    const QRectF desktop(0, 0, 1920, 1080);
    const FrameCase cases[] = {
        {"notch, tall inset", {laptop, 38, 185}, {619.5, 0, 273, 38}, {546, 0, 420, 264}},
        {"notch, inset below 32", {laptop, 24, 185}, {619.5, 0, 273, 32}, {546, 0, 420, 258}},
        {"wide housing", {laptop, 38, 400}, {512, 0, 488, 38}, {506, 0, 500, 264}},
        {"no inset", {desktop, 0, 0}, {845, 6, 230, 36}, {750, 6, 420, 262}},
        {"inset without housing", {desktop, 25, 0}, {845, 6, 230, 36}, {750, 6, 420, 262}},
        {"secondary screen", {{1512, 0, 2560, 1440}, 0, 0}, {2677, 6, 230, 36}, {2582, 6, 420, 262}},
        {"screen below another", {{0, 1080, 1920, 1080}, 0, 0}, {845, 1086, 230, 36}, {750, 1086, 420, 262}},
        {"small screen", {{0, 0, 300, 200}, 38, 185}, {13.5, 0, 273, 38}, {12, 0, 276, 188}},
        {"zero geometry", {}, {0, 6, 0, 0}, {0, 6, 0, 0}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(c.geometry.frame(false), c.collapsed);
        EXPECT_EQ(c.geometry.frame(true), c.expanded);
    }
}
