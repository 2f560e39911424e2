#include <gtest/gtest.h>

#include <array>

#include "ui/PanelPlacement.h"

namespace velto {
namespace {

using Screen = PanelPlacement::Screen;

// A 1920×1080 screen with a 32 px top bar, one with a 40 px bottom bar, and a second screen
// to the right of the first.
const Screen topBar{{0, 0, 1920, 1080}, {0, 32, 1920, 1048}};
const Screen bottomBar{{0, 0, 1920, 1080}, {0, 0, 1920, 1040}};
const Screen right{{1920, 0, 1280, 1024}, {1920, 0, 1280, 1024}};
// Trays down the left and the right side of a 1920×1080 screen.
const Screen leftBar{{0, 0, 1920, 1080}, {40, 0, 1880, 1080}};
const Screen rightBar{{0, 0, 1920, 1080}, {0, 0, 1880, 1080}};

struct Case {
    const char* name;
    std::vector<Screen> screens;
    QRect icon;
    QPoint cursor;
    bool trayClick;
    QSize panel;
    QPoint expected;
};

TEST(PanelPlacement, FollowsTheIconTheCursorAndTheScreenEdges) {
    const QSize panel(380, 520);
    const Case cases[] = {
        {"below a top icon, centred", {topBar}, {900, 4, 24, 24}, {910, 14}, true, panel, {722, 40}},
        {"top-right corner", {topBar}, {1890, 4, 24, 24}, {1900, 14}, true, panel, {1532, 40}},
        {"above a bottom icon", {bottomBar}, {1000, 1048, 24, 24}, {1010, 1060}, true, panel, {822, 512}},
        {"bottom-left corner", {bottomBar}, {0, 1050, 24, 24}, {10, 1060}, true, panel, {8, 512}},
        {"icon on the second screen", {topBar, right}, {2500, 0, 24, 24}, {2510, 10}, true, panel,
         {2322, 24}},
        {"no rectangle, tray click: at the cursor", {topBar, right}, {}, {1000, 10}, true, panel,
         {810, 40}},
        {"no rectangle, request: corner under the cursor", {topBar, right}, {}, {2000, 500}, false,
         panel, {2812, 8}},
        {"icon off every screen", {topBar, right}, {-500, -500, 24, 24}, {300, 300}, false, panel,
         {1532, 40}},
        {"icon larger than its screen, click low on the screen", {topBar, right},
         {0, 0, 4000, 30}, {100, 1000}, true, panel, {8, 480}},
        {"cursor off every screen: the first screen", {topBar, right}, {}, {-50, -50}, false,
         panel, {1532, 40}},
        {"panel taller than the screen", {topBar}, {900, 4, 24, 24}, {910, 14}, true, {380, 1200},
         {722, 32}},
        {"tray click on the menu's first item: still the icon", {bottomBar}, {1000, 1048, 24, 24},
         {960, 980}, true, panel, {822, 512}},
        {"tray click far from a stale rectangle: the cursor", {bottomBar}, {0, 0, 24, 24},
         {1000, 1060}, true, panel, {810, 512}},
        {"no screens at all", {}, {900, 4, 24, 24}, {5, 6}, true, panel, {5, 6}},
    };
    for (const Case& c : cases) {
        PanelPlacement::Input input{c.icon, c.screens, c.cursor, c.trayClick, c.panel};
        EXPECT_EQ(PanelPlacement::topLeft(input), c.expected) << c.name;
    }
}

// The panel opens compact, grows and shrinks while shown: the side facing the tray stays put and
// the panel stays on the screen, whatever opened it and whatever size it was anchored at.
TEST(PanelPlacement, KeepsTheSideFacingTheTrayAsThePanelResizes) {
    struct Resize {
        const char* name;
        Screen screen;
        QRect icon;
        QPoint cursor;
        bool trayClick;
        int x, tops[3];  // at heights 155, 467 and 1400
    };
    const Resize cases[] = {
        {"bottom tray", bottomBar, {1000, 1048, 24, 24}, {}, false, 822, {877, 565, 0}},
        {"top tray", topBar, {1000, 4, 24, 24}, {}, false, 822, {40, 40, 32}},
        {"left tray, low", leftBar, {8, 900, 24, 24}, {}, false, 48, {769, 457, 0}},
        {"right tray, high", rightBar, {1888, 100, 24, 24}, {}, false, 1492, {100, 100, 0}},
        {"bottom-right corner", bottomBar, {1900, 1050, 24, 24}, {1910, 1060}, true, 1532, {877, 565, 0}},
        {"no rectangle, tray click", bottomBar, {}, {700, 1060}, true, 510, {877, 565, 0}},
        {"no rectangle, request", bottomBar, {}, {700, 1060}, false, 1532, {8, 8, 0}},
    };
    for (const Resize& c : cases) {
        const auto anchor = PanelPlacement::anchor({c.icon, {c.screen}, c.cursor, c.trayClick, {380, 467}});
        EXPECT_EQ(PanelPlacement::anchor({c.icon, {c.screen}, c.cursor, c.trayClick, {380, 155}}), anchor);
        for (int i = 0; i < 3; ++i) {
            const int height = std::array{155, 467, 1400}[i];
            EXPECT_EQ(PanelPlacement::frame(anchor, {380, height}), QRect(c.x, c.tops[i], 380, height)) << c.name;
        }
    }
}

}  // namespace
}  // namespace velto
