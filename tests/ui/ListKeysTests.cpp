#include <gtest/gtest.h>

#include "ui/ListKeys.h"

namespace velto {
namespace {

using Rows = QList<int>;

// The rows a key offers the focus in a grid of three columns and eight cells (two full lines and
// a short one), four lines to a screen of 100 at a pitch of 30: the row the key leads to, those
// beyond it, then those back towards where the focus is; none past an end or for other keys.
TEST(ListKeys, GridRowsBestFirst) {
    const auto rows = [](int key, int row) { return ListKeys::rowsFor(key, row, 8, 3, 100, 30); };
    EXPECT_EQ(rows(Qt::Key_Down, 1), (Rows{4, 5, 6, 7, 3, 2}));
    EXPECT_EQ(rows(Qt::Key_Down, 5), (Rows{7, 6}));  // the short line's last cell
    EXPECT_EQ(rows(Qt::Key_Down, 6), Rows{});
    EXPECT_EQ(rows(Qt::Key_Up, 4), (Rows{1, 0, 2, 3}));
    EXPECT_EQ(rows(Qt::Key_Up, 2), Rows{});
    EXPECT_EQ(rows(Qt::Key_Right, 2), (Rows{3, 4, 5, 6, 7}));
    EXPECT_EQ(rows(Qt::Key_Left, 0), Rows{});
    EXPECT_EQ(rows(Qt::Key_PageDown, 0), (Rows{7, 6, 5, 4, 3, 2, 1}));  // three lines a screen
    EXPECT_EQ(rows(Qt::Key_Home, 3), (Rows{0, 1, 2}));
    EXPECT_EQ(rows(Qt::Key_End, 7), Rows{});
    EXPECT_EQ(rows(Qt::Key_Space, 3), Rows{});
    // A list: left and right are not its keys; a screen of 100 at a pitch of 30 is three rows.
    EXPECT_FALSE(ListKeys::handles(Qt::Key_Left, 1));
    EXPECT_EQ(ListKeys::rowsFor(Qt::Key_PageDown, 2, 20, 1, 100, 30).first(), 5);
    EXPECT_EQ(ListKeys::rowsFor(Qt::Key_PageUp, 2, 20, 1, 100, 30), (Rows{0, 1}));
}

}  // namespace
}  // namespace velto
