#include <gtest/gtest.h>

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

// The panel opens compact, grows (settings, a long list) and shrinks again while shown: the side
// facing the tray stays put and the whole panel stays on the screen, whatever opened it.
TEST(PanelPlacement, KeepsTheSideFacingTheTrayAsThePanelResizes) {
    struct Resize {
        const char* name;
        std::vector<Screen> screens;
        QRect icon;
        QPoint cursor;
        bool trayClick;
        QRect compact, grown, tall;  // at 380×155, 380×467 and 380×1400
    };
    const Resize cases[] = {
        {"bottom tray: the bottom edge stays", {bottomBar}, {1000, 1048, 24, 24}, {}, false,
         {822, 877, 380, 155}, {822, 565, 380, 467}, {822, 0, 380, 1400}},
        {"top tray: the top edge stays", {topBar}, {1000, 4, 24, 24}, {}, false,
         {822, 40, 380, 155}, {822, 40, 380, 467}, {822, 32, 380, 1400}},
        {"left tray, low: right of it, bottom level with it", {leftBar}, {8, 900, 24, 24}, {},
         false, {48, 769, 380, 155}, {48, 457, 380, 467}, {48, 0, 380, 1400}},
        {"right tray, high: left of it, top level with it", {rightBar}, {1888, 100, 24, 24}, {},
         false, {1492, 100, 380, 155}, {1492, 100, 380, 467}, {1492, 0, 380, 1400}},
        {"bottom-right corner: kept inside", {bottomBar}, {1900, 1050, 24, 24}, {1910, 1060}, true,
         {1532, 877, 380, 155}, {1532, 565, 380, 467}, {1532, 0, 380, 1400}},
        {"no rectangle, tray click at a bottom tray", {bottomBar}, {}, {700, 1060}, true,
         {510, 877, 380, 155}, {510, 565, 380, 467}, {510, 0, 380, 1400}},
        {"no rectangle, request: the top-right corner", {bottomBar}, {}, {700, 1060}, false,
         {1532, 8, 380, 155}, {1532, 8, 380, 467}, {1532, 0, 380, 1400}},
    };
    for (const Resize& c : cases) {
        PanelPlacement::Input input{c.icon, c.screens, c.cursor, c.trayClick, {380, 467}};
        const PanelPlacement::Anchor anchor = PanelPlacement::anchor(input);
        // The size when the anchor is taken does not matter: a panel that was left expanded
        // and opens compact lands where a compact one belongs.
        input.panel = {380, 155};
        EXPECT_EQ(PanelPlacement::anchor(input), anchor) << c.name;
        EXPECT_EQ(PanelPlacement::frame(anchor, {380, 155}), c.compact) << c.name;
        EXPECT_EQ(PanelPlacement::frame(anchor, {380, 467}), c.grown) << c.name;
        EXPECT_EQ(PanelPlacement::frame(anchor, {380, 1400}), c.tall) << c.name;
    }
}

}  // namespace
}  // namespace velto
