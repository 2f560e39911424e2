#include "ui/keys/ListKeys.h"

#include <algorithm>
#include <cmath>

namespace velto {

bool ListKeys::handles(int key, int columns) {
    switch (key) {
    case Qt::Key_Up:
    case Qt::Key_Down:
    case Qt::Key_PageUp:
    case Qt::Key_PageDown:
    case Qt::Key_Home:
    case Qt::Key_End:
        return true;
    case Qt::Key_Left:
    case Qt::Key_Right:
        return columns > 1;
    default:
        return false;
    }
}

QList<int> ListKeys::rowsFor(int key, int row, int count, int columns, double viewHeight,
                             double rowPitch) {
    if (!handles(key, columns) || row < 0 || row >= count) return {};
    columns = std::max(1, columns);
    // The lines wholly in view, at least one.
    const int page =
        columns * std::max(1, rowPitch > 0 ? int(std::floor((viewHeight + 0.5) / rowPitch)) : 1);
    const int last = count - 1;
    int target = row;
    switch (key) {
    case Qt::Key_Up: target = row - columns; break;
    case Qt::Key_Down:
        // From a full line above a short last line, down leads to that line's last cell.
        target = row / columns < last / columns ? std::min(row + columns, last) : count;
        break;
    case Qt::Key_Left: target = row - 1; break;
    case Qt::Key_Right: target = row + 1; break;
    case Qt::Key_PageUp: target = std::max(row - page, 0); break;
    case Qt::Key_PageDown: target = std::min(row + page, last); break;
    case Qt::Key_Home: target = 0; break;
    case Qt::Key_End: target = last; break;
    }
    if (target < 0 || target > last || target == row) return {};
    const int onward = target > row ? 1 : -1;
    QList<int> rows;
    for (int r = target; r >= 0 && r <= last; r += onward) rows << r;
    for (int r = target - onward; r != row; r -= onward) rows << r;
    return rows;
}

QList<int> ListKeys::rowsInPlaceOf(int row, int count) {
    QList<int> rows;
    if (row < 0 || row >= count) return rows;
    for (int r = row + 1; r < count; ++r) rows << r;
    for (int r = row - 1; r >= 0; --r) rows << r;
    return rows;
}

double ListKeys::shownAt(double contentY, double minimum, double maximum, double viewHeight,
                         double top, double bottom) {
    double y = contentY;
    if (bottom > y + viewHeight) y = bottom - viewHeight;
    if (top < y) y = top;
    return std::clamp(y, minimum, std::max(minimum, maximum));
}

}  // namespace velto
