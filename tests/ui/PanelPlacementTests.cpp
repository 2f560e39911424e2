#include <gtest/gtest.h>

#include <array>
#include <tuple>

#include "app/notch/NotchGeometry.h"
#include "ui/window/PanelPlacement.h"

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
// 1920×1080 at scale 2 with a 30 px bottom bar: a usable area lower than many of the panel's pages.
const Screen small{{0, 0, 960, 540}, {0, 0, 960, 510}};
const Screen smallTopBar{{0, 0, 960, 540}, {0, 15, 960, 525}};
// A screen beside another as X11 reports it to Qt: no usable area, whatever bar it has.
const Screen noArea{{0, 0, 1920, 1080}, {0, 0, 1920, 1080}};

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
        {"icon on the second screen, which reports no usable area", {topBar, right},
         {2500, 0, 24, 24}, {2510, 10}, true, panel, {2322, 32}},
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
        {"tray click on the menu's first item: still the icon", {bottomBar}, {1000, 1048, 24, 24},
         {960, 980}, true, panel, {822, 512}},
        {"tray click far from a stale rectangle: the cursor", {bottomBar}, {0, 0, 24, 24},
         {1000, 1060}, true, panel, {810, 512}},
        {"no screens at all", {}, {900, 4, 24, 24}, {5, 6}, true, panel, {5, 6}},
        // Its icon centred in a 32 px bar: as far from the bar as if the screen had reported it.
        {"no usable area, bottom icon", {noArea, right}, {1000, 1052, 24, 24}, {1010, 1060}, true,
         panel, {822, 520}},
        {"no usable area, top icon", {noArea, right}, {900, 4, 24, 24}, {910, 14}, true, panel,
         {722, 40}},
        {"no usable area, icon off the edge", {noArea, right}, {1000, 900, 24, 24}, {1010, 910},
         true, panel, {822, 380}},
    };
    for (const Case& c : cases) {
        PanelPlacement::Input input{c.icon, c.screens, c.cursor, c.trayClick, c.panel};
        EXPECT_EQ(PanelPlacement::topLeft(input), c.expected) << c.name;
    }
}

// The notch player's collapsed frame on a screen without a camera housing.
QRect notchOn(const Screen& screen) {
    return NotchGeometry{QRectF(screen.geometry)}.frame(false).toAlignedRect();
}

// The panel opens compact, grows and shrinks while shown: the side facing the tray stays put and
// the panel stays whole on the screen, whatever opened it and whatever size it was anchored at;
// taller than the usable area, it is cut to the area between the margins. Where it would meet
// the notch player, the area starts below the notch.
TEST(PanelPlacement, KeepsTheSideFacingTheTrayAsThePanelResizes) {
    struct Resize {
        const char* name;
        Screen screen;
        QRect icon;
        QPoint cursor;
        bool trayClick;
        int x, tops[3];  // at heights 155, 467 and 1400
        int tallest;     // the height it is cut to
        QRect notch{};
    };
    const Resize cases[] = {
        {"bottom tray", bottomBar, {1000, 1048, 24, 24}, {}, false, 822, {877, 565, 8}, 1024},
        {"top tray", topBar, {1000, 4, 24, 24}, {}, false, 822, {40, 40, 40}, 1032},
        {"left tray, low", leftBar, {8, 900, 24, 24}, {}, false, 48, {769, 457, 8}, 1064},
        {"right tray, high", rightBar, {1888, 100, 24, 24}, {}, false, 1492, {100, 100, 8}, 1064},
        {"bottom-right corner", bottomBar, {1900, 1050, 24, 24}, {1910, 1060}, true, 1532, {877, 565, 8}, 1024},
        {"no rectangle, tray click", bottomBar, {}, {700, 1060}, true, 510, {877, 565, 8}, 1024},
        {"no rectangle, request", bottomBar, {}, {700, 1060}, false, 1532, {8, 8, 8}, 1024},
        {"small screen, bottom tray", small, {600, 514, 24, 24}, {}, false, 422, {347, 35, 8}, 494},
        {"small screen, bottom tray, the notch above", small, {600, 514, 24, 24}, {}, false, 422,
         {347, 50, 50}, 452, notchOn(small)},
        {"small screen, top tray, the notch across the bar", smallTopBar, {600, 0, 15, 15}, {},
         false, 417, {50, 50, 50}, 482, notchOn(smallTopBar)},
        {"bottom-right corner, the notch far off", bottomBar, {1900, 1050, 24, 24}, {1910, 1060},
         true, 1532, {877, 565, 8}, 1024, notchOn(bottomBar)},
    };
    for (const Resize& c : cases) {
        const auto anchor =
            PanelPlacement::anchor({c.icon, {c.screen}, c.cursor, c.trayClick, {380, 467}, c.notch});
        EXPECT_EQ(PanelPlacement::anchor({c.icon, {c.screen}, c.cursor, c.trayClick, {380, 155}, c.notch}),
                  anchor);
        for (int i = 0; i < 3; ++i) {
            const int height = std::array{155, 467, 1400}[i];
            EXPECT_EQ(PanelPlacement::frame(anchor, {380, height}),
                      QRect(c.x, c.tops[i], 380, std::min(height, c.tallest)))
                << c.name << " " << height;
        }
    }
    // An area narrower and lower than the panel: the panel is cut on both axes; an area too
    // small for the margins is taken whole.
    const PanelPlacement::Anchor narrow{{0, 0, 300, 200}, PanelPlacement::Align::centre, 150,
                                        PanelPlacement::Align::end, 190};
    EXPECT_EQ(PanelPlacement::frame(narrow, {380, 520}), QRect(8, 8, 284, 184));
    const PanelPlacement::Anchor tiny{{0, 0, 12, 10}, PanelPlacement::Align::start, 0,
                                      PanelPlacement::Align::start, 0};
    EXPECT_EQ(PanelPlacement::frame(tiny, {380, 520}), QRect(0, 0, 12, 10));
}

// A band lies beyond the content at the edge the panel grows at, the window grown by it, where
// the area's margin lets it grow by all of it; elsewhere it lies over the content's bottom (never
// the header's edge), the window as the content's. The content never moves; under the notch the
// area starts below it.
TEST(PanelPlacement, ABandLiesBesideTheContentOrOverItsBottom) {
    using Align = PanelPlacement::Align;
    using Banded = PanelPlacement::Banded;
    const PanelPlacement::Anchor bottom{{0, 0, 1024, 570}, Align::centre, 872, Align::end, 574};
    const PanelPlacement::Anchor top{{0, 30, 1024, 570}, Align::centre, 872, Align::start, 26};
    const QRect low = PanelPlacement::frame(bottom, {380, 400});
    const QRect high = PanelPlacement::frame(top, {380, 400});
    EXPECT_EQ(PanelPlacement::withBand(bottom, low, 34),
              (Banded{QRect(636, 128, 380, 434), QRect(636, 128, 380, 34)}));
    EXPECT_EQ(PanelPlacement::withBand(top, high, 34),
              (Banded{QRect(636, 38, 380, 434), QRect(636, 438, 380, 34)}));
    EXPECT_EQ(PanelPlacement::withBand(top, high, 0).window, high);
    // One pixel short of the room, and at the whole usable height.
    for (const int height : {521, 554}) {
        const QRect bottomFull = PanelPlacement::frame(bottom, {380, height});
        EXPECT_EQ(PanelPlacement::withBand(bottom, bottomFull, 34),
                  (Banded{bottomFull, QRect(636, bottomFull.bottom() - 33, 380, 34)})) << height;
        const QRect topFull = PanelPlacement::frame(top, {380, height});
        EXPECT_EQ(PanelPlacement::withBand(top, topFull, 34),
                  (Banded{topFull, QRect(636, topFull.bottom() - 33, 380, 34)})) << height;
    }
    EXPECT_EQ(PanelPlacement::withBand(bottom, PanelPlacement::frame(bottom, {380, 520}), 34).window,
              QRect(636, 8, 380, 554));
    PanelPlacement::Anchor notched = bottom;
    notched.obstacle = QRect(700, 0, 200, 60);
    EXPECT_EQ(PanelPlacement::withBand(notched, PanelPlacement::frame(notched, {380, 400}), 60).window,
              QRect(636, 102, 380, 460));
    EXPECT_EQ(PanelPlacement::withBand(notched, PanelPlacement::frame(notched, {380, 400}), 200).window,
              PanelPlacement::frame(notched, {380, 400}));
}

// The height held over a bottom tray fits whichever page is tallest: the content with that page
// in place of the one shown, a gap between each two parts of a page.
TEST(PanelPlacement, TheHeldHeightFitsTheTallestPage) {
    PanelPlacement::PageParts parts;
    parts.shownPage = 200;
    parts.spacing = 12;
    parts.importSheet = 440;
    parts.settings = 380;
    parts.searchField = 32;
    parts.scopePicker = 26;
    parts.results = 260;
    parts.summary = 16;
    parts.catalog = 300;
    parts.lyrics = 300;
    const int content = 347, above = content - 200;
    EXPECT_EQ(PanelPlacement::tallestPage(content, parts), above + 440);  // the import sheet
    parts.settings = 470;
    EXPECT_EQ(PanelPlacement::tallestPage(content, parts), above + 470);
    parts.scopePicker = 160;  // the search page: field, scopes, results and count
    EXPECT_EQ(PanelPlacement::tallestPage(content, parts), above + 32 + 160 + 260 + 16 + 3 * 12);
    parts.catalog = 500;  // a catalog page under the field
    EXPECT_EQ(PanelPlacement::tallestPage(content, parts), above + 32 + 500 + 12);
    parts.lyrics = 600;
    EXPECT_EQ(PanelPlacement::tallestPage(content, parts), above + 600);
    parts.results = 620;  // the favourites with their count, or the search page with them
    EXPECT_EQ(PanelPlacement::tallestPage(content, parts), above + 32 + 160 + 620 + 16 + 3 * 12);
    parts.shownPage = 0;  // the compact panel: nothing shown
    EXPECT_EQ(PanelPlacement::tallestPage(content, parts), content + 32 + 160 + 620 + 16 + 3 * 12);
}

}  // namespace
}  // namespace velto
