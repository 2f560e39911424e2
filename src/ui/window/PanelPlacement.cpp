#include "ui/window/PanelPlacement.h"

#include <algorithm>
#include <initializer_list>
#include <numeric>

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

// A screen that reports no usable area (X11 with several screens) leaves the tray's strip in the
// area. Trays centre their icons across the strip, so the strip is taken to reach as far past
// the icon as the icon lies from the screen edge; an icon farther from the edge than its own
// size is in no strip that can be told.
QRect withoutTrayStrip(QRect area, QRect anchor, Side side, const QRect& g) {
    if (!area.contains(anchor.center())) return area;
    switch (side) {
    case Side::top:
        if (anchor.top() - g.top() <= anchor.height())
            area.setTop(std::max(area.top(), anchor.bottom() + 1 + (anchor.top() - g.top())));
        break;
    case Side::bottom:
        if (g.bottom() - anchor.bottom() <= anchor.height())
            area.setBottom(std::min(area.bottom(), anchor.top() - 1 - (g.bottom() - anchor.bottom())));
        break;
    case Side::left:
        if (anchor.left() - g.left() <= anchor.width())
            area.setLeft(std::max(area.left(), anchor.right() + 1 + (anchor.left() - g.left())));
        break;
    case Side::right:
        if (g.right() - anchor.right() <= anchor.width())
            area.setRight(std::min(area.right(), anchor.left() - 1 - (g.right() - anchor.right())));
        break;
    }
    return area;
}

Anchor besideAnchor(QRect anchor, const Screen& screen) {
    Anchor a;
    const Side side = traySide(anchor, screen);
    a.area = withoutTrayStrip(areaOf(screen), anchor, side, screen.geometry);
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

// The room the panel may take along an axis of the area: all of it between the margins.
int fitted(int size, int length) {
    return std::min(size, length > 2 * m ? length - 2 * m : length);
}

int keptInside(int value, int start, int length, int size) {
    if (length - 2 * m < size) return start;
    return std::clamp(value, start + m, start + length - m - size);
}

// The anchor's area, starting below the obstacle where the panel's span across meets it.
QRect clearOfObstacle(const Anchor& anchor, int x, int width) {
    QRect a = anchor.area;
    const QRect& o = anchor.obstacle;
    if (!o.isEmpty() && x <= o.right() && o.left() < x + width && o.top() <= a.bottom() &&
        o.bottom() >= a.top())
        a.setTop(std::min(o.bottom() + 1, a.bottom()));
    return a;
}

}  // namespace

PanelPlacement::Anchor PanelPlacement::anchor(const Input& input) {
    Anchor a = placed(input);
    a.obstacle = input.obstacle;
    return a;
}

PanelPlacement::Anchor PanelPlacement::placed(const Input& input) {
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
    QRect a = anchor.area;
    if (a.isEmpty())
        return {{alongAxis(anchor.horizontal, anchor.x, size.width()),
                 alongAxis(anchor.vertical, anchor.y, size.height())},
                size};
    const int width = fitted(size.width(), a.width());
    const int x = keptInside(alongAxis(anchor.horizontal, anchor.x, width), a.left(), a.width(), width);
    a = clearOfObstacle(anchor, x, width);
    const int height = fitted(size.height(), a.height());
    const int y = keptInside(alongAxis(anchor.vertical, anchor.y, height), a.top(), a.height(), height);
    return {x, y, width, height};
}

PanelPlacement::Banded PanelPlacement::withBand(const Anchor& anchor, QRect content, int band) {
    band = std::max(band, 0);
    const QRect a = clearOfObstacle(anchor, content.x(), content.width());
    const bool upward = anchor.vertical == Align::end;
    const QRect beyond = upward ? QRect(content.x(), content.top() - band, content.width(), band)
                                : QRect(content.x(), content.bottom() + 1, content.width(), band);
    const bool fits = a.isEmpty() || band == 0 ||
                      (upward ? beyond.top() >= a.top() + m : beyond.bottom() <= a.bottom() - m);
    if (fits) return {content.united(beyond), beyond};
    const int over = std::min(band, content.height());
    return {content, QRect(content.x(), content.bottom() + 1 - over, content.width(), over)};
}

int PanelPlacement::tallestPage(int content, const PageParts& p) {
    const auto stacked = [&](std::initializer_list<int> heights) {
        return std::accumulate(heights.begin(), heights.end(), 0) + p.spacing * int(heights.size() - 1);
    };
    const int page = std::max({stacked({p.importSheet}), stacked({p.settings}),
                               stacked({p.searchField, p.scopePicker, p.results, p.summary}),
                               stacked({p.searchField, p.catalog}), stacked({p.lyrics}),
                               stacked({p.results, p.summary})});
    return content - p.shownPage + page;
}

}  // namespace velto
