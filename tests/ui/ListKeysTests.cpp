#include <gtest/gtest.h>

#include "ui/keys/ActivationKeys.h"
#include "ui/keys/FocusChain.h"
#include "ui/keys/ListKeys.h"
#include "ui/keys/SliderKeys.h"

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
    // A row that goes: the rows after it take its place, then those before it.
    EXPECT_EQ(ListKeys::rowsInPlaceOf(1, 4), (Rows{2, 3, 0}));
    EXPECT_EQ(ListKeys::rowsInPlaceOf(3, 4), (Rows{2, 1, 0}));
    EXPECT_EQ(ListKeys::rowsInPlaceOf(0, 1), Rows{});
}

// A focused control scrolls into view by the least move, its top first where it is taller than
// the view, never past the content's ends.
TEST(ListKeys, ScrollsAFocusedControlIntoViewByTheLeastMove) {
    EXPECT_EQ(ListKeys::shownAt(500, 0, 900, 260, 100, 149), 100);  // above: at the top
    EXPECT_EQ(ListKeys::shownAt(0, 0, 900, 260, 600, 649), 389);    // below: at the bottom
    EXPECT_EQ(ListKeys::shownAt(50, 0, 900, 260, 100, 149), 50);    // in view: stays
    EXPECT_EQ(ListKeys::shownAt(0, 0, 900, 260, 300, 700), 300);    // taller than the view
    EXPECT_EQ(ListKeys::shownAt(0, -4, 900, 260, -4, 40), -4);      // a top margin
    EXPECT_EQ(ListKeys::shownAt(0, 0, 100, 260, 600, 649), 100);    // not past the end
}

// Tab's order is the order boxes are seen in: bands of boxes beside one another, top band first,
// each left to right, whatever order they come in: a header of three buttons at slightly
// different heights, a tall box with two stacked beside it, a row below both.
TEST(FocusChain, VisualOrderIsTopToBottomThenLeftToRight) {
    const QList<QRectF> boxes{{300, 12, 20, 20}, {10, 10, 60, 24}, {340, 14, 20, 16},
                              {10, 200, 300, 40}, {10, 50, 40, 120}, {60, 100, 30, 30},
                              {60, 50, 30, 30}};
    EXPECT_EQ(FocusChain::visualOrder(boxes), (QList<int>{1, 0, 2, 4, 6, 5, 3}));
    EXPECT_EQ(FocusChain::visualOrder({}), QList<int>{});
    // Before a control that went: what lies above it, or beside it to its left.
    const QRectF gone(100, 100, 40, 20);
    EXPECT_TRUE(FocusChain::before({300, 40, 20, 20}, gone));
    EXPECT_TRUE(FocusChain::before({20, 105, 20, 20}, gone));
    EXPECT_FALSE(FocusChain::before({200, 95, 20, 20}, gone));
    EXPECT_FALSE(FocusChain::before({0, 130, 20, 20}, gone));
}

// A list's lines hold as many cells as lie beside its first; Tab enters it at the row asked for
// or last focused while the list still has it, else the first row wholly in view, else the first
// partly in view, else its first.
TEST(FocusChain, ColumnsAndTheRowTabEntersAt) {
    EXPECT_EQ(FocusChain::columns({{0, 0, 50, 30}, {60, 0, 50, 30}, {120, 0.5, 50, 30}, {0, 40, 50, 30}}), 3);
    EXPECT_EQ(FocusChain::columns({{0, 0, 50, 30}, {0, 40, 50, 30}}), 1);
    EXPECT_EQ(FocusChain::columns({}), 1);
    const QRectF view(0, 100, 300, 120);
    // Rows of 49 at a pitch of 51, scrolled so that row 2 is cut at the top.
    QList<QRectF> rows;
    for (int i = 0; i < 8; ++i) rows << QRectF(0, 100 - 110 + i * 51, 300, 49);
    EXPECT_EQ(FocusChain::entryRow(5, 8, rows, view), 5);
    EXPECT_EQ(FocusChain::entryRow(8, 8, rows, view), 3);  // gone: the first wholly in view
    EXPECT_EQ(FocusChain::entryRow(-1, 8, rows, view), 3);
    EXPECT_EQ(FocusChain::entryRow(-1, 8, {{}, {}, QRectF(0, 90, 300, 150)}, view), 2);
    EXPECT_EQ(FocusChain::entryRow(-1, 8, {}, view), 0);  // none made: the first
    EXPECT_EQ(FocusChain::entryRow(0, 0, rows, view), -1);
}

// Return and keypad Enter activate, with no other modifier.
TEST(ActivationKeys, ReturnAndEnterActivate) {
    EXPECT_TRUE(ActivationKeys::activates(Qt::Key_Return, Qt::NoModifier));
    EXPECT_TRUE(ActivationKeys::activates(Qt::Key_Enter, Qt::KeypadModifier));
    EXPECT_FALSE(ActivationKeys::activates(Qt::Key_Return, Qt::ShiftModifier));
    EXPECT_FALSE(ActivationKeys::activates(Qt::Key_Enter, Qt::KeypadModifier | Qt::ControlModifier));
    EXPECT_FALSE(ActivationKeys::activates(Qt::Key_Space, Qt::NoModifier));
}

// The seek slider's keys move a four-minute song by 5 s, a tenth of it, or to its ends; the
// volume's by 5 % and 10 %; neither goes past its ends, and other keys are not theirs.
TEST(SliderKeys, StepsAPersonCanUse) {
    const auto seek = [](int key, double at) { return SliderKeys::seekTarget(key, at, 240); };
    EXPECT_EQ(seek(Qt::Key_Right, 60), 65.0);
    EXPECT_EQ(seek(Qt::Key_Up, 60), 65.0);
    EXPECT_EQ(seek(Qt::Key_Left, 60), 55.0);
    EXPECT_EQ(seek(Qt::Key_Down, 3), 0.0);
    EXPECT_EQ(seek(Qt::Key_PageUp, 60), 84.0);
    EXPECT_EQ(seek(Qt::Key_PageDown, 60), 36.0);
    EXPECT_EQ(seek(Qt::Key_PageUp, 230), 240.0);
    EXPECT_EQ(seek(Qt::Key_Home, 60), 0.0);
    EXPECT_EQ(seek(Qt::Key_End, 60), 240.0);
    EXPECT_FALSE(seek(Qt::Key_Space, 60).isValid());
    EXPECT_DOUBLE_EQ(SliderKeys::volumeTarget(Qt::Key_Right, 0.3).toDouble(), 0.35);
    EXPECT_DOUBLE_EQ(SliderKeys::volumeTarget(Qt::Key_PageDown, 0.3).toDouble(), 0.2);
    EXPECT_EQ(SliderKeys::volumeTarget(Qt::Key_PageUp, 0.95), 1.0);
    EXPECT_EQ(SliderKeys::volumeTarget(Qt::Key_Down, 0.02), 0.0);
    EXPECT_EQ(SliderKeys::volumeTarget(Qt::Key_End, 0.3), 1.0);
    EXPECT_FALSE(SliderKeys::volumeTarget(Qt::Key_Tab, 0.3).isValid());
}

}  // namespace
}  // namespace velto
