#pragma once

#include <QPoint>
#include <QRect>
#include <QSize>
#include <vector>

namespace velto {

// Where the panel window goes, from what the tray and the screens report. Pure, so the rules
// can be checked without a desktop.
//
// The panel hangs from its tray item: placing it yields an anchor, and every size the panel
// takes afterwards is laid out from that anchor, so the side facing the tray stays where it is
// (the bottom edge over a bottom tray) and the panel grows away from the tray.
struct PanelPlacement {
    struct Screen {
        QRect geometry;
        QRect available;  // without panels and docks
    };
    struct Input {
        QRect trayIcon;  // empty when the tray host reports none (usual over D-Bus)
        std::vector<Screen> screens;
        QPoint cursor;
        bool openedByTrayClick = false;
        QSize panel;
        // A window hanging from the top of a screen that the panel must leave uncovered (the
        // notch player); empty when there is none.
        QRect obstacle;
    };

    // Which panel side or centre sits on the anchor's coordinate along each axis.
    enum class Align { start, centre, end };
    struct Anchor {
        QRect area;  // the panel stays `margin` inside it
        Align horizontal = Align::end;
        int x = 0;  // the panel's left (start), centre or right (end, exclusive)
        Align vertical = Align::start;
        int y = 0;  // the panel's top (start) or bottom (end, exclusive)
        QRect obstacle;
        bool operator==(const Anchor&) const = default;
    };

    static constexpr int margin = 8;
    // How far from the icon a tray click may be seen (the tray menu's first item included).
    static constexpr int clickSlack = 100;

    // Beside the icon on the side away from the screen edge that holds it: below a top tray and
    // above a bottom one, centred on the icon; right of a left tray and left of a right one,
    // level with the icon and growing towards the screen's far end. A screen reporting no usable
    // area keeps the panel off the tray strip its icon implies. Without a usable icon
    // rectangle (none, or one far from the cursor at a tray click): the same around the cursor
    // after a tray click, else from the top-right corner of the screen under the cursor.
    static Anchor anchor(const Input& input);
    // The panel of `size` at `anchor`, kept inside the area between its margins and never
    // larger: a panel too large for it is cut to it (its view scrolls). Where the panel's span
    // across meets the obstacle's, the area starts below the obstacle.
    static QRect frame(const Anchor& anchor, QSize size);
    // A panel whose content stands at `content` (where `frame` puts it) with a message band of
    // `band` beside it: the window, and where the band lies, on the screen.
    struct Banded {
        QRect window;
        QRect band;
        bool operator==(const Banded&) const = default;
    };
    // The band lies beyond the content's edge that the panel grows at (its top when the bottom
    // edge is held), the window grown by it, where the area lets the window grow by all of it.
    // Elsewhere the window keeps the content's frame and the band lies over the content's
    // bottom, away from the header, whichever edge the tray holds: the content never moves for
    // a message, and a message that stays hides no header control.
    static Banded withBand(const Anchor& anchor, QRect content, int band);
    static QPoint topLeft(const Input& input) { return frame(anchor(input), input.panel).topLeft(); }

    // The heights of what the panel's pages are made of, each at its tallest (rows that come and
    // go counted), and of the page shown now as the view lays it out.
    struct PageParts {
        int shownPage = 0;
        int spacing = 0;  // between two parts shown
        int importSheet = 0;
        int settings = 0;
        int searchField = 0;
        int scopePicker = 0;
        int results = 0;
        int summary = 0;
        int catalog = 0;
        int lyrics = 0;
    };
    // The content's height with its tallest page in place of the one shown (whose height is
    // `content`): what the panel holds over a bottom tray once a page is open (the import sheet,
    // the settings, the search page with its scopes and count line, a catalog page under the
    // field, the lyrics, the favourites with their count).
    static int tallestPage(int content, const PageParts& parts);

private:
    static Anchor placed(const Input& input);
};

}  // namespace velto
