#pragma once

#include <QPoint>
#include <QRect>
#include <QSize>
#include <vector>

namespace velto {

// Where the panel window goes, from what the tray and the screens report. Pure, so the rules
// can be checked without a desktop.
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
    };

    static constexpr int margin = 8;

    // The panel's top-left corner: below the icon when it lies in the upper half of its screen,
    // else above it, centred on it and kept `margin` inside the available area. Without a usable
    // icon rectangle: the same around the cursor after a tray click, else the top-right corner of
    // the screen under the cursor.
    static QPoint topLeft(const Input& input);
};

}  // namespace velto
