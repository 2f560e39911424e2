#include <algorithm>
#include <functional>
#include <set>
#include <tuple>

#include "StatusPanelViewFixture.h"

namespace velto::paneltest {
namespace {

using Align = PanelPlacement::Align;

// Counts the presses the scene hands to its items.
struct PressesToItems : QObject {
    PressesToItems() { QCoreApplication::instance()->installEventFilter(this); }
    ~PressesToItems() override { QCoreApplication::instance()->removeEventFilter(this); }
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::MouseButtonPress && qobject_cast<QQuickItem*>(watched)) ++count;
        return false;
    }
    int count = 0;
};

struct Tray {
    const char* name;
    PanelPlacement::Anchor anchor;
};
void PrintTo(const Tray& tray, std::ostream* out) { *out << tray.name; }

// 1024×600, 1920×1080 with a 40 px bar, and 1920×1080 at scale 2 (960×540) over a 30 px bar, each
// with the tray at the bottom and at the top.
const Tray trays[] = {
    {"low_bottom", {{0, 0, 1024, 570}, Align::centre, 872, Align::end, 574}},
    {"low_top", {{0, 30, 1024, 570}, Align::centre, 872, Align::start, 26}},
    {"wide_bottom", {{0, 0, 1920, 1040}, Align::centre, 1000, Align::end, 1048}},
    {"wide_top", {{0, 40, 1920, 1040}, Align::centre, 1000, Align::start, 32}},
    {"scaled_bottom", {{0, 0, 960, 510}, Align::centre, 900, Align::end, 514}},
    {"scaled_top", {{0, 30, 960, 510}, Align::centre, 900, Align::start, 26}},
};

const char* const headerControls[] = {"mac-panel-notch", "mac-panel-settings", "mac-panel-quit"};
const char* const pageButtons[] = {"mac-panel-tab-search", "mac-panel-tab-favorites", "mac-panel-tab-lyrics",
                                   "mac-panel-settings"};
const char* const scopes[] = {"歌曲", "歌手", "专辑", "歌单"};

// The panel in its window over every page, tray edge and screen, with each message: each control
// of the header row is in sight and takes a click at its centre; what the band lies over can be
// scrolled to; and no control under a resting pointer moves when a message comes or goes, when
// a scope is switched or when a page button is clicked (after the first step from the compact
// panel over a bottom tray, which sets the height the pages keep).
class PanelSight : public PanelWindowedViews, public ::testing::WithParamInterface<Tray> {
  protected:
    void SetUp() override {
        PanelWindowedViews::SetUp();
        scriptSearch();
        favourites({"A", "B"});
        model->play({song("A")}, 0);
        settle();
    }
    void scriptSearch() {
        scriptScopes();
        searchRuntime->songs["雨"] = [] { return SearchPage{{song("1", "雨巷"), song("2", "雨后")}, 2, 1}; };
    }
    const Tray& tray() const { return GetParam(); }
    bool overBottomTray() const { return tray().anchor.vertical == Align::end; }

    // The item a click at `scene` goes to: the topmost shown one there that takes a left button,
    // with what a clipping view hides taking nothing. The popup layer over the window keeps a
    // click from what lies beneath only while a modal popup is open: a tooltip that a resting
    // pointer brings up (after a delay on the wall clock) lets clicks elsewhere through.
    static QQuickItem* takerAt(QQuickItem* item, QPointF scene) {
        if (!item->isVisible()) return nullptr;
        const bool inside = item->contains(item->mapFromScene(scene));
        if (item->clip() && !inside) return nullptr;
        QList<QQuickItem*> children = item->childItems();
        std::stable_sort(children.begin(), children.end(),
                         [](QQuickItem* a, QQuickItem* b) { return a->z() < b->z(); });
        for (auto it = children.crbegin(); it != children.crend(); ++it)
            if (QQuickItem* found = takerAt(*it, scene)) return found;
        if (item->inherits("QQuickOverlay") && !modalPopupOpen(item->window()->contentItem())) return nullptr;
        return inside && (item->acceptedMouseButtons() & Qt::LeftButton) ? item : nullptr;
    }
    static bool modalPopupOpen(QQuickItem* root) {
        for (std::vector<QQuickItem*> items{root}; !items.empty();) {
            QQuickItem* at = items.back();
            items.pop_back();
            for (QObject* child : at->findChildren<QObject*>(Qt::FindDirectChildrenOnly)) {
                if (child->inherits("QQuickPopup") && child->property("opened").toBool() &&
                    child->property("modal").toBool())
                    return true;
            }
            for (QQuickItem* child : at->childItems()) items.push_back(child);
        }
        return false;
    }
    QRectF band() {
        QQuickItem* found = find("mac-panel-notice-band");
        return found && found->isVisible() && found->height() > 0 ? sceneBox(found) : QRectF();
    }

    void expectHeaderInSight(const std::string& at) {
        const QRectF window(0, 0, this->window().width(), this->window().height());
        for (const char* name : headerControls) {
            QQuickItem* control = find(name);
            ASSERT_TRUE(control) << at;
            const QRectF rect = sceneBox(control);
            EXPECT_TRUE(window.contains(rect)) << at << " " << name;
            EXPECT_FALSE(band().intersects(rect)) << at << " " << name << " under the band";
            QQuickItem* taker = takerAt(this->window().contentItem(), rect.center());
            EXPECT_EQ(taker, control) << at << " " << name << " takes no click, "
                                      << (taker ? taker->objectName().toStdString() + " (" + taker->metaObject()->className() + ")"
                                                : "nothing")
                                      << " does";
        }
    }
    // Scrolled to its end, the content's last line stands clear of the band; then back.
    void expectCoveredReachable(const std::string& at) {
        QQuickItem* scroller = find("mac-panel-scroller");
        const qreal covered = window().rootItem()->property("covered").toReal();
        if (covered <= 0) return;
        EXPECT_GE(scroller->property("bottomMargin").toReal(), covered) << at;
        const qreal kept = scroller->property("contentY").toReal();
        const qreal end = scroller->property("originY").toReal() + scroller->property("contentHeight").toReal() +
                          scroller->property("bottomMargin").toReal() - scroller->height();
        scroller->setProperty("contentY", std::max(end, kept));
        QQuickItem* content = scroller->property("contentItem").value<QQuickItem*>();
        QQuickItem* column = content->childItems().value(0);
        ASSERT_TRUE(column) << at;
        EXPECT_LE(sceneBox(column).bottom(), band().top() + 0.5) << at;
        scroller->setProperty("contentY", kept);
    }
    // Where the controls a pointer may rest on stand on the screen: the page buttons first.
    QList<QRectF> resting() {
        QList<QRectF> rects;
        for (const char* name : pageButtons) rects << onScreen(find(name));
        for (const char* name : {"mac-panel-notch", "mac-panel-quit", "mac-panel-strip-heart"})
            rects << onScreen(find(name));
        if (panel->layout().scopePicker)
            for (const char* scope : scopes) rects << onScreen(find(segment(scope).c_str()));
        return rects;
    }
    static std::string segment(const char* scope) { return std::string("mac-panel-scope-") + scope; }

    // A click at a place fixed on the screen, wherever the window stands now.
    void clickAt(QPointF global) {
        QTest::mouseClick(&window(), Qt::LeftButton, {}, global.toPoint() - reported);
        relayOut();
    }
    // A click at a place fixed on the screen `later` ms after the last, the pointer resting.
    void clickResting(QPointF global, ulong later) {
        const QPointF local = global - QPointF(reported);
        QMouseEvent press(QEvent::MouseButtonPress, local, global, Qt::LeftButton, Qt::LeftButton, {});
        clickTime = std::max(clickTime, ulong(QTest::lastMouseTimestamp));
        press.setTimestamp(clickTime += later);
        QCoreApplication::sendEvent(&window(), &press);
        QMouseEvent release(QEvent::MouseButtonRelease, local, global, Qt::LeftButton, Qt::NoButton, {});
        release.setTimestamp(clickTime += 60);
        QCoreApplication::sendEvent(&window(), &release);
        relayOut();
    }
    void relayOut() {
        settle();
        layOut();
    }

    // Each message with how it comes and how it goes.
    std::vector<std::tuple<const char*, std::function<void()>, std::function<void()>>> messages() {
        return {{"notice", [&] { model->setNotice("已加入个人歌单"); }, [&] { advance(3); }},
                {"playback-error",
                 [&] {
                     resolver->failAlways("wy_E", std::make_exception_ptr(SourceError::source("音频流加载失败，请检查网络后重试")));
                     model->play({song("E")}, 0);
                 },
                 [&] { model->play({song("A")}, 0); }},
                {"search-error", [&] { searchAgain(true); }, [&] { searchAgain(false); }}};
    }
    // The scope shown searched again, failing or answering.
    void searchAgain(bool failing) {
        if (!panel->layout().scopePicker) return;
        const SearchScope scope = panel->search().selectedScope();
        if (failing) {
            searchRuntime->songs["雨"] = searchtest::SearchTestRuntime::failing<SearchPage>("网络失败");
            searchRuntime->artists["雨:1"] = searchtest::SearchTestRuntime::failing<ArtistSearchPage>("网络失败");
            searchRuntime->albums["雨"] = searchtest::SearchTestRuntime::failing<AlbumPage>("网络失败");
            searchRuntime->playlists["雨"] = searchtest::SearchTestRuntime::failing<PlaylistCatalogPage>("网络失败");
        } else {
            scriptSearch();
        }
        panel->search().search(scope);
        settle();
        EXPECT_EQ(panel->search().errorMessage().has_value(), failing);
    }

    // Each message comes and goes over the page shown: the header stays in sight and takes its
    // clicks, what the band lies over can be scrolled to, and nothing under the pointer moves.
    void checkMessages(const std::string& page) {
        const std::string at = page + " " + tray().name;
        expectHeaderInSight(at);
        const QList<QRectF> before = resting();
        for (const auto& [name, come, go] : messages()) {
            const std::string with = at + " with " + name;
            come();
            relayOut();
            expectHeaderInSight(with);
            expectCoveredReachable(with);
            EXPECT_EQ(resting(), before) << with;
            go();
            relayOut();
            EXPECT_EQ(resting(), before) << with << " gone";
        }
    }
};

TEST_P(PanelSight, EveryViewKeepsItsControlsInSightAndStill) {
    open(tray().anchor);
    checkMessages("compact");

    // The first step from the compact panel sets the height; from there every page button and
    // scope stays where the pointer rests, and a click there lands on what it aimed at.
    const QPointF searchButton = onScreen(find("mac-panel-tab-search")).center();
    clickAt(searchButton);
    ASSERT_EQ(panel->tabText(), "search");
    // The pointer rests where it clicked: a second click, however late, reaches nothing that
    // moved there. Over a top tray nothing moved: it reaches the button again.
    for (const ulong later : {400, 700, 1000}) {
        PressesToItems presses;
        clickResting(searchButton, later);
        EXPECT_EQ(presses.count, overBottomTray() ? 0 : 1) << later << " ms " << tray().name;
        if (!overBottomTray()) clickResting(searchButton, later);  // the page it closed, again
    }
    ASSERT_EQ(panel->tabText(), "search");
    panel->editQuery("雨", false);
    panel->submitSearch();
    relayOut();
    // Page buttons at 0..3, the scope segments at 7..10.
    const QList<QRectF> still = resting();
    const auto expectStill = [&](const std::string& at) {
        EXPECT_EQ(resting().mid(0, 4), still.mid(0, 4)) << at << " " << tray().name;
    };

    // Four scope clicks at fixed places, then again with the songs' search failed.
    for (const bool failed : {false, true}) {
        for (int i = 0; i < 4; ++i) {
            clickAt(still[7 + i].center());
            const std::string at = std::string(scopes[i]) + (failed ? " failed" : "") + " " + tray().name;
            EXPECT_EQ(panel->search().selectedScopeText().toStdString(), scopes[i]) << at;
            EXPECT_EQ(resting(), still) << at;
            if (!failed) checkMessages(std::string("search-") + scopes[i]);
        }
        if (!failed) {
            clickAt(still[7].center());
            searchAgain(true);
        }
    }
    searchAgain(false);

    // A stream reports its quality while the settings page is hidden: its line was counted
    // before it came.
    resolver->setReportedQuality([](Quality) { return Quality::standard; });
    model->play({song("B")}, 0);
    relayOut();
    ASSERT_FALSE(panel->settingsValue().value("lastActualLine").toString().isEmpty());
    expectStill("quality reported");

    // Page buttons clicked at their places: favourites, lyrics, settings, and back to search.
    const std::pair<int, QString> clicks[] = {{1, "favorites"}, {2, "lyrics"}, {3, "settings"}, {0, "search"}};
    for (const auto& [button, page] : clicks) {
        // Over a bottom tray the window keeps its frame throughout, not only once settled.
        const QRect frame = window().geometry();
        std::set<std::tuple<int, int, int, int>> frames;
        const auto note = [&] {
            const QRect now = window().geometry();
            frames.insert({now.x(), now.y(), now.width(), now.height()});
        };
        const QMetaObject::Connection noted[] = {QObject::connect(&window(), &QWindow::yChanged, note),
                                                 QObject::connect(&window(), &QWindow::heightChanged, note)};
        clickAt(still[button].center());
        for (const auto& connection : noted) QObject::disconnect(connection);
        if (overBottomTray()) {
            EXPECT_EQ(window().geometry(), frame) << page.toStdString() << " " << tray().name;
            frames.erase({frame.x(), frame.y(), frame.width(), frame.height()});
            EXPECT_TRUE(frames.empty()) << page.toStdString() << " " << tray().name << ", went through "
                                        << ::testing::PrintToString(frames);
        }
        EXPECT_EQ(panel->showsSettings() ? QString("settings") : panel->tabText(), page) << tray().name;
        expectStill(page.toStdString());
        checkMessages(page.toStdString());
    }

    // The catalog pages and the import sheet.
    const std::pair<const char*, std::function<void()>> catalogs[] = {
        {"artist", [&] { panel->selectScope("歌手"); settle(); panel->openArtist(0); }},
        {"album", [&] { panel->selectScope("专辑"); settle(); panel->openAlbum(0); }},
        {"playlist", [&] { panel->selectScope("歌单"); settle(); panel->openPlaylist(0); }}};
    for (const auto& [name, openPage] : catalogs) {
        openPage();
        relayOut();
        ASSERT_TRUE(panel->layout().catalog) << name;
        expectStill(std::string("catalog-") + name);
        checkMessages(std::string("catalog-") + name);
        panel->closeCatalog();
    }
    clickAt(still[3].center());
    panel->openOnlineImport();
    relayOut();
    ASSERT_TRUE(panel->layout().importView);
    expectStill("import");
    checkMessages("import");

    // Closed with its own button, the page leaves the compact panel at the height held while
    // the pointer rests on it; the panel takes its own height once the pointer has left it, and
    // at the next opening.
    clickAt(still[3].center());
    ASSERT_FALSE(panel->layout().divider);
    expectStill("closed by its button");
    const int own = window().rootItem()->implicitHeight();
    QEvent left(QEvent::Leave);
    QCoreApplication::sendEvent(&window(), &left);
    relayOut();
    EXPECT_EQ(window().height(), own) << "the pointer gone " << tray().name;
    window().performClose();
    open(tray().anchor);
    EXPECT_EQ(window().height(), own) << "reopened " << tray().name;
    window().performClose();
}

// A band never lies over the focused control: the view moves it clear as the band comes, as it
// does for Tab. At scale 2 the settings page takes the whole height over either tray edge.
TEST_F(PanelWindowedViews, ABandComingMovesTheFocusedControlClearOfIt) {
    for (const Tray& tray : {trays[4], trays[5]}) {
        panel->toggleSettings();
        open(tray.anchor);
        window().requestActivate();
        QQuickItem* exporter = find("mac-panel-export-backup");
        ASSERT_TRUE(exporter);
        find("mac-panel-settings")->forceActiveFocus(Qt::TabFocusReason);
        exporter->forceActiveFocus(Qt::TabFocusReason);
        layOut();
        const QRectF inWindow(0, 0, window().width(), window().height());
        ASSERT_TRUE(inWindow.contains(sceneBox(exporter))) << tray.name;
        model->setNotice("歌单备份已导出");
        layOut();
        QQuickItem* band = find("mac-panel-notice-band");
        ASSERT_TRUE(band->isVisible() && band->height() > 0) << tray.name;
        const QRectF focused = sceneBox(exporter);
        EXPECT_FALSE(sceneBox(band).intersects(focused)) << tray.name;
        EXPECT_TRUE(inWindow.contains(focused)) << tray.name;
        advance(3);
        closePanel();
    }
}

// A playback failure stands on a page that takes the screen's whole height, over a bottom and a
// top tray, in both palettes: the header in sight, the band over the content's bottom.
TEST_F(PanelWindowedViews, AStandingErrorOnAFullHeightPanel) {
    resolver->failAlways("wy_E", std::make_exception_ptr(SourceError::source("音频流加载失败，请检查网络后重试")));
    model->play({song("E")}, 0);
    settle();
    for (const bool dark : {false, true}) {
        std::optional<ViewHarness::DarkScheme> scheme;
        if (dark) scheme.emplace();
        for (const Tray& tray : {trays[0], trays[1]}) {
            for (const char* page : {"search", "settings"}) {
                if (std::string(page) == "settings") panel->toggleSettings();
                else panel->selectTab("search");
                open(tray.anchor);
                const std::string at = std::string(page) + " " + tray.name + (dark ? " dark" : "");
                if (panel->showsSettings()) {
                    EXPECT_EQ(window().height(), tray.anchor.area.height() - 16) << at;
                }
                EXPECT_EQ(find("mac-panel-message-button")->property("text").toString(), "重试") << at;
                EXPECT_FALSE(sceneBox(find("mac-panel-notice-band")).intersects(sceneBox(find("mac-panel-header"))))
                    << at;
                save(QString("standing-error-%1-%2%3").arg(page, tray.name, dark ? "-dark" : ""));
                closePanel();
            }
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Trays, PanelSight, ::testing::ValuesIn(trays),
                         [](const ::testing::TestParamInfo<Tray>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace velto::paneltest
