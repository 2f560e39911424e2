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
        {"below a top icon, centred", {topBar}, {900, 4, 24, 24}, {}, true, panel, {722, 40}},
        {"top-right corner", {topBar}, {1890, 4, 24, 24}, {}, true, panel, {1532, 40}},
        {"above a bottom icon", {bottomBar}, {1000, 1048, 24, 24}, {}, true, panel, {822, 512}},
        {"bottom-left corner", {bottomBar}, {0, 1050, 24, 24}, {}, true, panel, {8, 512}},
        {"icon on the second screen", {topBar, right}, {2500, 0, 24, 24}, {}, true, panel,
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
        {"panel taller than the screen", {topBar}, {900, 4, 24, 24}, {}, true, {380, 1200},
         {722, 32}},
        {"no screens at all", {}, {900, 4, 24, 24}, {5, 6}, true, panel, {5, 6}},
    };
    for (const Case& c : cases) {
        PanelPlacement::Input input{c.icon, c.screens, c.cursor, c.trayClick, c.panel};
        EXPECT_EQ(PanelPlacement::topLeft(input), c.expected) << c.name;
    }
}

}  // namespace
}  // namespace velto
