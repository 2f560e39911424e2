#include "ui/PanelPlacement.h"

#include <algorithm>

namespace velto {

namespace {

using Screen = PanelPlacement::Screen;
using Anchor = PanelPlacement::Anchor;
using Align = PanelPlacement::Align;
constexpr int m = PanelPlacement::margin;

const Screen* screenAt(const std::vector<Screen>& screens, QPoint point) {
    for (const Screen& screen : screens)
        if (screen.geometry.contains(point)) return &screen;
    return nullptr;
}

QRect areaOf(const Screen& screen) {
    return screen.available.isEmpty() ? screen.geometry : screen.available;
}

enum class Side { top, bottom, left, right };

// The screen edge the tray runs along: the one whose panel strip holds the anchor, else the
// nearest (top or bottom on a tie, as trays mostly run along them).
Side traySide(QRect anchor, const Screen& screen) {
    const QPoint c = anchor.center();
    const QRect area = areaOf(screen);
    if (c.y() < area.top()) return Side::top;
    if (c.y() > area.bottom()) return Side::bottom;
    if (c.x() < area.left()) return Side::left;
    if (c.x() > area.right()) return Side::right;
    const QRect g = screen.geometry;
    const int top = c.y() - g.top(), bottom = g.bottom() - c.y();
    const int left = c.x() - g.left(), right = g.right() - c.x();
    const int vertical = std::min(top, bottom);
    if (vertical <= std::min(left, right)) return top <= bottom ? Side::top : Side::bottom;
    return left <= right ? Side::left : Side::right;
}

Anchor besideAnchor(QRect anchor, const Screen& screen) {
    Anchor a;
    a.area = areaOf(screen);
    const Side side = traySide(anchor, screen);
    if (side == Side::top || side == Side::bottom) {
        a.horizontal = Align::centre;
        a.x = anchor.left() + anchor.width() / 2;
        a.vertical = side == Side::top ? Align::start : Align::end;
        a.y = side == Side::top ? anchor.top() + anchor.height() : anchor.top();
    } else {
        a.horizontal = side == Side::left ? Align::start : Align::end;
        a.x = side == Side::left ? anchor.left() + anchor.width() : anchor.left();
        const bool upperHalf = anchor.center().y() < screen.geometry.center().y();
        a.vertical = upperHalf ? Align::start : Align::end;
        a.y = upperHalf ? anchor.top() : anchor.top() + anchor.height();
    }
    return a;
}

int alongAxis(Align align, int at, int size) {
    switch (align) {
    case Align::start: return at;
    case Align::centre: return at - size / 2;
    case Align::end: return at - size;
    }
    return at;
}

int keptInside(int value, int start, int length, int size) {
    if (length - 2 * m < size) return start;
    return std::clamp(value, start + m, start + length - m - size);
}

}  // namespace

PanelPlacement::Anchor PanelPlacement::anchor(const Input& input) {
    if (input.screens.empty())
        return {QRect(), Align::start, input.cursor.x(), Align::start, input.cursor.y()};
    const QRect icon = input.trayIcon;
    // A tray click happens on the icon: a rectangle far from the cursor then is stale (a tray
    // host that moved the icon, a position reported relative to the tray).
    const bool stale = input.openedByTrayClick &&
                       !icon.adjusted(-clickSlack, -clickSlack, clickSlack, clickSlack).contains(input.cursor);
    if (!icon.isEmpty() && !stale) {
        const Screen* screen = screenAt(input.screens, icon.center());
        if (screen && icon.width() <= screen->geometry.width() &&
            icon.height() <= screen->geometry.height())
            return besideAnchor(icon, *screen);
    }
    const Screen* screen = screenAt(input.screens, input.cursor);
    if (!screen) screen = &input.screens.front();
    if (input.openedByTrayClick) return besideAnchor(QRect(input.cursor, QSize(1, 1)), *screen);
    const QRect area = areaOf(*screen);
    return {area, Align::end, area.left() + area.width() - m, Align::start, area.top() + m};
}

QRect PanelPlacement::frame(const Anchor& anchor, QSize size) {
    QPoint topLeft(alongAxis(anchor.horizontal, anchor.x, size.width()),
                   alongAxis(anchor.vertical, anchor.y, size.height()));
    if (!anchor.area.isEmpty()) {
        const QRect& a = anchor.area;
        topLeft = {keptInside(topLeft.x(), a.left(), a.width(), size.width()),
                   keptInside(topLeft.y(), a.top(), a.height(), size.height())};
    }
    return {topLeft, size};
}

}  // namespace velto
