#pragma once

#include <QList>
#include <QObject>

namespace velto {

// Where a key moves the keyboard focus in a list or grid of rows, as native lists move their
// current row: Up and Down a row (a line of a grid), Left and Right a cell of a grid, Page Up and
// Page Down a screenful, Home and End to the ends. A row may hold nothing to focus, so the rows
// come best first: the one the key leads to, those beyond it, then those back towards the start.
class ListKeys : public QObject {
    Q_OBJECT
public:
    // Whether a list of `columns` per line takes `key` (even at an end, where the focus stays).
    Q_INVOKABLE static bool handles(int key, int columns);
    // None for a key the list leaves alone or a move past an end.
    Q_INVOKABLE static QList<int> rowsFor(int key, int row, int count, int columns,
                                          double viewHeight, double rowPitch);
    // The rows that take the place of `row` as it goes, or as the focused control in it does,
    // best first: those after it, then those before it, nearest first.
    Q_INVOKABLE static QList<int> rowsInPlaceOf(int row, int count);
    // The scroll position nearest `contentY` (within minimum and maximum) at which a view of
    // `viewHeight` shows the content from `top` to `bottom`: its top where not all of it fits.
    Q_INVOKABLE static double shownAt(double contentY, double minimum, double maximum,
                                      double viewHeight, double top, double bottom);
};

}  // namespace velto
