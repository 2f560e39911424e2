#include "ui/PanelPlacement.h"

#include <algorithm>

namespace velto {

namespace {

using Screen = PanelPlacement::Screen;
constexpr int m = PanelPlacement::margin;

const Screen* screenAt(const std::vector<Screen>& screens, QPoint point) {
    for (const Screen& screen : screens)
        if (screen.geometry.contains(point)) return &screen;
    return nullptr;
}

QRect areaOf(const Screen& screen) {
    return screen.available.isEmpty() ? screen.geometry : screen.available;
}

// `margin` inside the area; a panel that does not fit between the margins goes to the area's
// top or left edge itself.
QPoint keptInside(QPoint wanted, QRect area, QSize panel) {
    auto axis = [](int value, int start, int length, int size) {
        if (length - 2 * m < size) return start;
        return std::clamp(value, start + m, start + length - m - size);
    };
    return {axis(wanted.x(), area.left(), area.width(), panel.width()),
            axis(wanted.y(), area.top(), area.height(), panel.height())};
}

// Centred on the anchor, below it in the upper half of its screen and above it in the lower.
QPoint besideAnchor(QRect anchor, const Screen& screen, QSize panel) {
    const bool upperHalf = anchor.center().y() < screen.geometry.center().y();
    const int y = upperHalf ? anchor.top() + anchor.height() : anchor.top() - panel.height();
    const int x = anchor.left() + anchor.width() / 2 - panel.width() / 2;
    return keptInside({x, y}, areaOf(screen), panel);
}

}  // namespace

QPoint PanelPlacement::topLeft(const Input& input) {
    if (input.screens.empty()) return input.cursor;
    const QRect icon = input.trayIcon;
    if (!icon.isEmpty()) {
        const Screen* screen = screenAt(input.screens, icon.center());
        if (screen && icon.width() <= screen->geometry.width() &&
            icon.height() <= screen->geometry.height())
            return besideAnchor(icon, *screen, input.panel);
    }
    const Screen* screen = screenAt(input.screens, input.cursor);
    if (!screen) screen = &input.screens.front();
    if (input.openedByTrayClick)
        return besideAnchor(QRect(input.cursor, QSize(1, 1)), *screen, input.panel);
    const QRect area = areaOf(*screen);
    return keptInside({area.left() + area.width() - m - input.panel.width(), area.top() + m}, area,
                      input.panel);
}

}  // namespace velto
