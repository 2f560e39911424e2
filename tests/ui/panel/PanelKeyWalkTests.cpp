#include <atomic>
#include <functional>

#include "StatusPanelViewFixture.h"

namespace velto::paneltest {
namespace {

using Align = PanelPlacement::Align;

std::vector<Track> someSongs(const std::string& prefix, int count) {
    std::vector<Track> made;
    for (int i = 0; i < count; ++i)
        made.push_back(song(prefix + std::to_string(i), "歌曲 " + prefix + std::to_string(i)));
    return made;
}
AlbumPage nineAlbums(const std::string& id, const std::string& title) {
    AlbumPage page;
    for (int i = 0; i < 9; ++i) page.list.push_back({id + std::to_string(i), MusicSource::wy, title + std::to_string(i), "岚屿", {}, {}, {}});
    page.total = 9;
    return page;
}

// The search runtime with catalog pages behind it: an artist's songs and albums, an album's
// songs, a playlist read a page of 20 at a time.
class CatalogRuntime : public searchtest::SearchTestRuntime {
  public:
    LyricInfo lyric(const Track&, std::stop_token) override {
        std::string text;
        for (int line = 0; line < 30; ++line)
            text += "[00:" + std::to_string(10 + line) + ".00]第 " + std::to_string(line) + " 行歌词\n";
        return {text, std::nullopt, {}, {}};
    }
    std::vector<Track> artistPopularTracks(const ArtistSummary&, std::stop_token) override {
        if (artistFails) throw SourceError::source("网络连接已断开");
        return someSongs("h", 24);
    }
    std::atomic<bool> artistFails = false;
    AlbumPage artistAlbums(const ArtistSummary&, int, std::stop_token) override { return nineAlbums("al", "专辑 "); }
    AlbumDetail albumTracks(const AlbumSummary& album, std::stop_token) override {
        return {album, someSongs("a", 14)};
    }
    PlaylistDetail playlistDetail(MusicSource source, const std::string&, int page, std::stop_token) override {
        PlaylistDetail detail;
        detail.list = someSongs("p" + std::to_string(page) + "-", 20);
        detail.total = 50;
        detail.page = page;
        detail.limit = 20;
        detail.source = source;
        detail.info.name = "雨夜通勤";
        return detail;
    }
};

// The panel in its own window, walked with the keys as a person does: the focused control is
// the one whose ring shows.
class PanelKeys : public PanelViews {
  public:
    // What a view's making uses.
    using StatusPanelTest::advance;
    using StatusPanelTest::panel;
    using StatusPanelTest::searchRuntime;
    using StatusPanelTest::searchSongs;
    void searchRain(const char* scope);
    // 37 favourites, shown.
    void manyFavourites() {
        std::vector<std::string> ids;
        for (int i = 0; i < 37; ++i) ids.push_back(std::to_string(i));
        favourites(ids);
        panel->selectTab("favorites");
    }

  protected:
    void SetUp() override {
        searchRuntime = std::make_shared<CatalogRuntime>();
        PanelViews::SetUp();
    }
    void TearDown() override {
        made.reset();
        PanelViews::TearDown();
    }
    // A panel made anew over a new model, a song playing.
    void remake() {
        made.reset();
        panel.reset();
        model.reset();
        makePanel();
        model->play({song("now", "正在播放")}, 0);
        settle();
    }
    void open(const PanelPlacement::Anchor& anchor) {
        made = makeWindow();
        ASSERT_TRUE(made->ensureRoot());
        made->showAt(anchor);
        panel->setShown(true);
        made->requestActivate();
        layOut();
    }
    void layOut() {
        settle();
        for (int frame = 0; frame < 2; ++frame) {
            made->grabWindow();
            QCoreApplication::processEvents();
            animations.step(500);
        }
        made->grabWindow();
    }
    void press(int key, Qt::KeyboardModifiers modifiers = {}) {
        QTest::keyClick(made.get(), Qt::Key(key), modifiers);
        layOut();
    }
    // Text typed, a key for each character.
    void type(const QString& text) {
        for (const QChar c : text) {
            QKeyEvent down(QEvent::KeyPress, 0, Qt::NoModifier, QString(c));
            QCoreApplication::sendEvent(made.get(), &down);
            QKeyEvent up(QEvent::KeyRelease, 0, Qt::NoModifier, QString(c));
            QCoreApplication::sendEvent(made.get(), &up);
        }
        layOut();
    }
    QQuickItem* focused() const { return made->activeFocusItem(); }
    // The items shown, list rows too: they are visual children only.
    std::vector<QQuickItem*> shownItems() const {
        std::vector<QQuickItem*> shown;
        for (std::vector<QQuickItem*> items{made->contentItem()}; !items.empty();) {
            QQuickItem* at = items.back();
            items.pop_back();
            if (!at->isVisible()) continue;
            shown.push_back(at);
            for (QQuickItem* child : at->childItems()) items.push_back(child);
        }
        return shown;
    }
    QQuickItem* find(const QString& name) const {
        for (QQuickItem* at : shownItems())
            if (at->objectName() == name) return at;
        return nullptr;
    }
    QQuickItem* focus(const QString& name) {
        QQuickItem* control = find(name);
        if (control) control->forceActiveFocus(Qt::TabFocusReason);
        layOut();
        return control;
    }
    static bool isList(const QQuickItem* item) {
        return item->inherits("QQuickItemView") || item->property("focusList").toBool();
    }
    // The list whose row holds the item; none for a list's header or footer.
    static QQuickItem* listOf(QQuickItem* item) {
        for (QQuickItem* at = item; at && at->parentItem(); at = at->parentItem()) {
            QQuickItem* list = at->parentItem();
            QQuickItem* view = list->parentItem();
            if (view && view->inherits("QQuickItemView") && view->property("contentItem").value<QQuickItem*>() == list)
                list = view;
            if (!isList(list)) continue;
            const bool edge = at == list->property("headerItem").value<QQuickItem*>() ||
                              at == list->property("footerItem").value<QQuickItem*>();
            return edge ? nullptr : list;
        }
        return nullptr;
    }
    static QRectF box(const QQuickItem* item) {
        return item->mapRectToScene({0, 0, item->width(), item->height()});
    }
    // The ring that shows an item's focus: its own, or its box's (the search field's).
    static QQuickItem* ringOf(QQuickItem* item) {
        for (int up = 0; item && up < 3; ++up, item = item->parentItem())
            for (QQuickItem* child : item->childItems())
                if (child->objectName() == "focusRing" && child->isVisible()) return child;
        return nullptr;
    }
    // Why the focus is not on a control shown whole, ring and all, in every view around it;
    // empty when it is.
    std::string unseen() const {
        QQuickItem* item = focused();
        if (!item || item == made->contentItem()) return "on nothing";
        const std::string name = item->objectName().toStdString();
        if (!item->isVisible() || !item->isEnabled() || !item->activeFocusOnTab() || isList(item))
            return "on " + name + ", which takes no focus";
        QQuickItem* ring = ringOf(item);
        if (!ring) return name + " without its ring";
        const QRectF shown = box(ring).adjusted(1, 1, -1, -1);
        if (!QRectF(0, 0, made->width(), made->height()).contains(shown)) return name + " outside the window";
        for (QQuickItem* at = item->parentItem(); at; at = at->parentItem())
            if (at->inherits("QQuickFlickable") && at->clip() && !box(at).contains(shown))
                return name + " outside " + at->objectName().toStdString();
        return {};
    }
    // Where a stop lies on the page (a list's row where the list does), the page's scrolling
    // taken out.
    QRectF onPage(QQuickItem* item) const {
        QQuickItem* list = listOf(item);
        QQuickItem* unit = list ? list : item;
        QQuickItem* page = find("mac-panel-scroller")->property("contentItem").value<QQuickItem*>();
        return unit->mapRectToItem(page, {0, 0, unit->width(), unit->height()});
    }
    static std::string nameOf(QQuickItem* item) {
        if (!item) return "nothing";
        std::string name = item->objectName().toStdString();
        if (QQuickItem* list = listOf(item)) name += " in " + list->objectName().toStdString();
        return name;
    }

    // A round of Tab (or Shift+Tab) from `start` back to it: the stops on the way, each checked.
    std::vector<QPointer<QQuickItem>> round(QQuickItem* start, bool forward, const std::string& at) {
        std::vector<QPointer<QQuickItem>> stops;
        for (int press = 0; press < 120; ++press) {
            this->press(forward ? Qt::Key_Tab : Qt::Key_Backtab);
            EXPECT_EQ(unseen(), "") << at << (forward ? " tab " : " shift+tab ") << press;
            if (focused() == start) return stops;
            for (const auto& seen : stops) {
                if (seen == focused()) {
                    ADD_FAILURE() << at << ": " << nameOf(focused()) << " comes twice in a round";
                    return stops;
                }
            }
            stops.emplace_back(focused());
        }
        ADD_FAILURE() << at << ": the round never comes back";
        return stops;
    }
    // A Tab round and a Shift+Tab round: every stop shown whole, in visual order, each list
    // one stop, the backward round the forward one reversed.
    void walk(const std::string& at) {
        if (!unseen().empty()) press(Qt::Key_Tab);
        QPointer<QQuickItem> start = focused();
        ASSERT_EQ(unseen(), "") << at << " first stop";
        const auto forward = round(start, true, at);
        std::vector<QPointer<QQuickItem>> all{start};
        all.insert(all.end(), forward.begin(), forward.end());
        // The round starts anywhere: it is in visual order from its first stop on the page.
        std::size_t first = 0;
        for (std::size_t i = 1; i < all.size(); ++i)
            if (all[i] && all[first] && onPage(all[i]).top() < onPage(all[first]).top() - 1) first = i;
        std::rotate(all.begin(), all.begin() + first, all.end());
        for (std::size_t i = 1; i < all.size(); ++i) {
            if (!all[i] || !all[i - 1]) continue;
            const QRectF was = onPage(all[i - 1]);
            const QRectF now = onPage(all[i]);
            const bool below = now.top() >= was.bottom() - 1 || now.top() > was.top() + 1;
            const bool beside = now.top() < was.bottom() - 1 && was.top() < now.bottom() - 1 && now.left() >= was.left();
            EXPECT_TRUE(below || beside) << at << ": " << nameOf(all[i]) << " after " << nameOf(all[i - 1]);
        }
        std::vector<QQuickItem*> lists;
        for (const auto& stop : all) {
            QQuickItem* list = stop ? listOf(stop) : nullptr;
            if (!list) continue;
            EXPECT_EQ(std::count(lists.begin(), lists.end(), list), 0) << at << ": " << nameOf(stop) << ", a second stop in its list";
            lists.push_back(list);
        }
        const auto backward = round(start, false, at);
        std::vector<std::string> there, back;
        for (auto s = forward.rbegin(); s != forward.rend(); ++s) there.push_back(nameOf(*s));
        for (const auto& s : backward) back.push_back(nameOf(s));
        EXPECT_EQ(back, there) << at << ": Shift+Tab does not go back the way Tab came";
    }
    // The wheel over an item, a notch at a time.
    void wheel(QQuickItem* over, int delta, int notches) {
        const QPointF at = over->mapToScene({over->width() / 2, over->height() / 2});
        for (int notch = 0; notch < notches; ++notch) {
            QWheelEvent turned(at, made->mapToGlobal(at), {}, {0, delta}, Qt::NoButton, Qt::NoModifier,
                               Qt::NoScrollPhase, false);
            turned.setTimestamp(wheelTime += 200);
            QCoreApplication::sendEvent(made.get(), &turned);
            QCoreApplication::processEvents();
            animations.step(200);
        }
        layOut();
    }
    // Every list that scrolls, wheeled to its end and back.
    void wheelEveryList() {
        for (QQuickItem* view : shownItems()) {
            if (!view->inherits("QQuickFlickable") || view->objectName() == "mac-panel-scroller") continue;
            wheel(view, -120, 25);
            wheel(view, 120, 25);
        }
    }

    std::unique_ptr<PanelWindow> made;
    ulong wheelTime = 1000;
};

// 1024×600 under a bottom bar, 1920×1080 at scale 2 under a top one.
const struct Screen {
    const char* name;
    PanelPlacement::Anchor anchor;
    bool dark;
} screens[] = {{"1024x600", {{0, 0, 1024, 570}, Align::centre, 872, Align::end, 574}, false},
               {"1024x600-dark", {{0, 0, 1024, 570}, Align::centre, 872, Align::end, 574}, true},
               {"1080p-scaled-top", {{0, 30, 960, 510}, Align::centre, 900, Align::start, 26}, false}};

struct View {
    const char* name;
    std::function<void(PanelKeys&)> make;
};
void PrintTo(const View& view, std::ostream* out) { *out << view.name; }
// A parameter's name as a test's name may hold it.
template <class Param>
std::string nameOf(const testing::TestParamInfo<Param>& info) {
    std::string name = info.param.name;
    std::replace(name.begin(), name.end(), '-', '_');
    return name;
}

// Two pages of 12 of 30 artists, 9 albums, 9 playlists.
void scriptRain(searchtest::SearchTestRuntime& runtime) {
    for (int page = 1; page <= 2; ++page) {
        std::vector<ArtistSummary> artists;
        for (int i = page * 12 - 11; i <= page * 12; ++i)
            artists.push_back({std::to_string(i), MusicSource::wy, "歌手" + std::to_string(i), {}, i, i});
        runtime.artists["雨:" + std::to_string(page)] = [artists, page] { return ArtistSearchPage(artists, 30, MusicSource::wy, page, 12); };
    }
    runtime.albums["雨"] = [] { return nineAlbums("a", "雨天的专辑 "); };
    runtime.playlists["雨"] = [] {
        PlaylistCatalogPage page;
        for (int i = 0; i < 9; ++i) page.list.push_back(searchtest::playlist("p" + std::to_string(i), "下雨天听的歌 " + std::to_string(i), "云游"));
        page.total = 9;
        return page;
    };
}

void PanelKeys::searchRain(const char* scope) {
    scriptRain(*searchRuntime);
    searchSongs("雨", someSongs("s", 30));
    panel->selectScope(scope);
    settle();
}

class Walks : public PanelKeys, public testing::WithParamInterface<View> {};

// Every view, walked at each size and in each palette, and again after its lists were wheeled
// to their ends and back.
TEST_P(Walks, TabAndShiftTabGoRoundInVisualOrder) {
    for (const Screen& screen : screens) {
        std::optional<ViewHarness::DarkScheme> scheme;
        if (screen.dark) scheme.emplace();
        remake();
        GetParam().make(*this);
        settle();
        open(screen.anchor);
        const std::string at = std::string(GetParam().name) + " " + screen.name;
        if (const QString dir = qEnvironmentVariable("VELTO_VIEWS_DIR"); !dir.isEmpty())
            made->grabWindow().save(dir + "/walk-" + QString::fromStdString(at).replace(' ', '-') + ".png");
        walk(at);
        wheelEveryList();
        walk(at + " wheeled");
        made->performClose();
    }
}

const View views[] = {
    {"compact", [](PanelKeys&) {}},
    {"history", [](PanelKeys& t) {
         for (const char* keyword : {"林", "灯塔", "海盐"}) t.searchSongs(keyword, someSongs(keyword, 2));
         t.panel->editQuery("", false);
     }},
    {"suggestions", [](PanelKeys& t) {
         t.searchRuntime->tips["雨天"] = [] { return std::vector<std::string>{"雨天的歌", "雨天心情", "雨天的书"}; };
         t.panel->selectTab("search");
         t.panel->editQuery("雨天", false);
         t.advance(0.4);
     }},
    {"songs", [](PanelKeys& t) { t.searchRain("歌曲"); }},
    {"artists", [](PanelKeys& t) { t.searchRain("歌手"); }},
    {"albums", [](PanelKeys& t) { t.searchRain("专辑"); }},
    {"playlists", [](PanelKeys& t) { t.searchRain("歌单"); }},
    {"favourites", [](PanelKeys& t) { t.manyFavourites(); }},
    {"favourites-empty", [](PanelKeys& t) { t.panel->selectTab("favorites"); }},
    {"lyrics", [](PanelKeys& t) { t.panel->selectTab("lyrics"); }},
    {"settings", [](PanelKeys& t) { t.panel->toggleSettings(); }},
    {"artist-page", [](PanelKeys& t) {
         t.searchRain("歌手");
         t.panel->openArtist(0);
     }},
    {"album-page", [](PanelKeys& t) {
         t.searchRain("专辑");
         t.panel->openAlbum(0);
     }},
    {"playlist-page", [](PanelKeys& t) {
         t.searchRain("歌单");
         t.panel->openPlaylist(0);
     }},
    {"import-sheet", [](PanelKeys& t) {
         t.panel->toggleSettings();
         t.panel->openOnlineImport();
     }},
};

INSTANTIATE_TEST_SUITE_P(EveryView, Walks, testing::ValuesIn(views), nameOf<View>);

// A control that goes as a key acts on it hands the focus, ring and all, to a control shown:
// what took its place, else the one before it. The history cleared by "清空"; the error band
// gone with "重试".
TEST_F(PanelKeys, AControlThatGoesHandsTheFocusOn) {
    for (const char* keyword : {"林", "灯塔"}) searchSongs(keyword, someSongs(keyword, 2));
    open(screens[0].anchor);
    panel->selectTab("search");
    panel->editQuery("", false);
    layOut();
    ASSERT_TRUE(focus("mac-panel-clear-history"));
    press(Qt::Key_Return);
    EXPECT_TRUE(panel->search().history().empty());
    EXPECT_EQ(unseen(), "") << "history cleared";
    press(Qt::Key_Tab);
    EXPECT_EQ(unseen(), "") << "history cleared, then tab";

    searchRuntime->songs["雨"] = searchtest::SearchTestRuntime::failing<SearchPage>("搜索失败，请重试。");
    panel->editQuery("雨", false);
    panel->submitSearch();
    layOut();
    ASSERT_TRUE(focus("mac-panel-message-button"));
    ASSERT_EQ(focused()->property("text").toString(), "重试");
    searchRuntime->songs["雨"] = [] { return SearchPage{someSongs("r", 3), 3, 1}; };
    press(Qt::Key_Return);
    EXPECT_EQ(panel->search().results().size(), 3u);
    EXPECT_EQ(unseen(), "") << "retried";

    // A control still shown that gives the focus up keeps it given: nothing hands it back.
    QQuickItem* field = focus("mac-panel-search-input");
    ASSERT_TRUE(field);
    field->setFocus(false);
    layOut();
    EXPECT_FALSE(field->hasActiveFocus());
}

// The four desktops an action is walked on: 1024×600 and 1366×768, under a bottom bar and
// below a top one.
const struct Edge {
    const char* name;
    PanelPlacement::Anchor anchor;
} edges[] = {{"1024x600-bottom", {{0, 0, 1024, 570}, Align::centre, 872, Align::end, 574}},
             {"1024x600-top", {{0, 30, 1024, 570}, Align::centre, 872, Align::start, 26}},
             {"1366x768-bottom", {{0, 0, 1366, 738}, Align::centre, 1200, Align::end, 742}},
             {"1366x768-top", {{0, 30, 1366, 738}, Align::centre, 1200, Align::start, 26}}};
void PrintTo(const Edge& edge, std::ostream* out) { *out << edge.name; }

// An action that takes its own control away or replaces it, pressed by key: the state it is
// pressed in, its control, what happens before the press (a service coming back), and the
// control the focus must land on, where the action brings one ("" for any in the view).
struct Action {
    const char* name;
    std::function<void()> state;
    const char* control;
    std::function<void()> before;
    std::function<std::string()> lands;
};

class ActionWalks : public PanelKeys, public testing::WithParamInterface<Edge> {
  public:
    // Not on the header while the view holds another control.
    std::string onHeader() {
        QQuickItem* header = find("mac-panel-header");
        if (!header || !header->isAncestorOf(focused())) return {};
        for (QQuickItem* at : shownItems())
            if (at->activeFocusOnTab() && at->isEnabled() && !header->isAncestorOf(at) && !isList(at))
                return "on the header, though " + nameOf(at) + " is in the view";
        return {};
    }
};

TEST_P(ActionWalks, TheFocusLandsOnWhatTheActionBroughtElseBeforeIt) {
    const auto rows = [](const char* row, const char* list) {
        return [row, list]() { return std::string(row) + " in " + list; };
    };
    const Action actions[] = {
        {"band-retry",
         [this] {
             searchRuntime->songs["雨"] = searchtest::SearchTestRuntime::failing<SearchPage>("搜索失败，请重试。");
             panel->selectTab("search");
             panel->editQuery("雨", false);
             panel->submitSearch();
         },
         "mac-panel-message-button",
         [this] { searchRuntime->songs["雨"] = [] { return SearchPage{someSongs("r", 3), 3, 1}; }; },
         rows("mac-panel-song-play", "mac-panel-song-scroll")},
        {"more-artists", [this] { searchRain("歌手"); }, "mac-panel-more-artists", nullptr,
         [this] {
             return "mac-panel-artist-" + std::to_string(panel->search().visibleArtistResults().size()) +
                    " in mac-panel-artists";
         }},
        {"more-artists-retry",
         [this] {
             searchRain("歌手");
             const auto second = searchRuntime->artists["雨:2"];
             searchRuntime->artists["雨:2"] = searchtest::SearchTestRuntime::failing<ArtistSearchPage>("网络连接已断开");
             panel->expandArtists();
             settle();
             searchRuntime->artists["雨:2"] = second;
         },
         "inlineErrorRetry", nullptr,
         [this] {
             return "mac-panel-artist-" + std::to_string(panel->search().visibleArtistResults().size()) +
                    " in mac-panel-artists";
         }},
        {"page-retry",
         [this] {
             static_cast<CatalogRuntime&>(*searchRuntime).artistFails = true;
             searchRain("歌手");
             panel->openArtist(0);
         },
         "inlineErrorRetry",
         [this] { static_cast<CatalogRuntime&>(*searchRuntime).artistFails = false; }, nullptr},
        {"clear-history",
         [this] {
             for (const char* keyword : {"林", "灯塔"}) searchSongs(keyword, someSongs(keyword, 2));
             if (!panel->tab()) panel->selectTab("search");
             panel->editQuery("", false);
         },
         "mac-panel-clear-history", nullptr, nullptr},
        {"notice-close",
         [this] {
             manyFavourites();
             model->setNotice("已加入个人歌单");
         },
         "mac-panel-message-close", nullptr, nullptr},
        {"heart",
         [this] { manyFavourites(); },
         "mac-panel-song-heart", nullptr, rows("mac-panel-song-heart", "mac-panel-song-scroll")},
        {"import-close",
         [this] { panel->toggleSettings(); },
         "online-playlist-import-close",
         [this] {
             // Opened from its row by key, as a person would.
             focus("mac-settings-import-online-playlist");
             press(Qt::Key_Space);
             focus("online-playlist-import-close");
         },
         [] { return std::string("mac-settings-import-online-playlist"); }},
    };
    for (const Action& action : actions) {
        const std::string at = std::string(action.name) + " " + GetParam().name;
        remake();
        action.state();
        settle();
        open(GetParam().anchor);
        if (action.before) action.before();
        QQuickItem* control = focus(action.control);
        ASSERT_TRUE(control) << at;
        const std::string lands = action.lands ? action.lands() : std::string();
        press(Qt::Key_Space);
        advance(1);
        layOut();
        EXPECT_EQ(unseen(), "") << at;
        EXPECT_EQ(onHeader(), "") << at;
        if (!lands.empty()) {
            EXPECT_EQ(nameOf(focused()), lands) << at;
        }
        made->performClose();
    }
}

INSTANTIATE_TEST_SUITE_P(BothTrayEdges, ActionWalks, testing::ValuesIn(edges), nameOf<Edge>);

// "搜索" pressed from the keyboard runs the search and leaves the query selected, so that what is
// typed next replaces it; Up from the first result goes back to the field, as Down came.
TEST_F(PanelKeys, ASearchFromTheKeyboardLeavesItsQuerySelected) {
    searchRuntime->songs["林"] = [] { return SearchPage{someSongs("l", 3), 3, 1}; };
    panel->selectTab("search");
    open(screens[0].anchor);
    QQuickItem* field = focus("mac-panel-search-input");
    ASSERT_TRUE(field);
    type("林");
    ASSERT_TRUE(focus("mac-panel-search-submit"));
    press(Qt::Key_Return);
    EXPECT_EQ(panel->search().results().size(), 3u);
    EXPECT_EQ(unseen(), "");
    if (focused() != field) press(Qt::Key_Backtab);
    ASSERT_EQ(focused(), field);
    EXPECT_EQ(field->property("selectedText").toString(), "林");
    type("灯塔");
    EXPECT_EQ(field->property("text").toString(), "灯塔");
    press(Qt::Key_Return);
    EXPECT_EQ(field->property("selectedText").toString(), "灯塔") << "searched with Return";
    // A search run from elsewhere while the field has the focus: it shows the query anew, selected.
    panel->pick("海盐");
    layOut();
    ASSERT_EQ(focused(), field);
    EXPECT_EQ(field->property("selectedText").toString(), "海盐") << "shown anew";
    // A history entry picked by key after an edit is searched too: the field shows it selected.
    press(Qt::Key_Backspace);
    ASSERT_EQ(field->property("text").toString(), "");
    QQuickItem* chip = focus("mac-panel-chip-1");
    ASSERT_TRUE(chip);
    const QString picked = chip->property("modelData").toString();
    press(Qt::Key_Space);
    ASSERT_EQ(field->property("text").toString(), picked);
    EXPECT_EQ(focused(), field);
    EXPECT_EQ(field->property("selectedText").toString(), picked) << "picked";
    // Picked with the mouse, the field keeps no focus, and shows no selection: that comes with
    // the focus.
    ASSERT_TRUE(focus("mac-panel-search-submit"));
    ASSERT_NE(focused(), field);
    panel->pick("林");
    layOut();
    EXPECT_EQ(field->property("text").toString(), "林");
    EXPECT_EQ(field->property("selectedText").toString(), "") << "picked with the mouse";
    field->forceActiveFocus(Qt::MouseFocusReason);
    EXPECT_EQ(field->property("selectedText").toString(), "林")
        << "focused after the pick";

    field->setProperty("text", "林");
    panel->editQuery("林", false);
    panel->submitSearch();
    layOut();
    field->forceActiveFocus(Qt::TabFocusReason);
    press(Qt::Key_Down);
    EXPECT_EQ(nameOf(focused()), "mac-panel-song-play in mac-panel-song-scroll");
    press(Qt::Key_Up);
    EXPECT_EQ(focused(), field);
}

// Every segmented picker takes Left and Right, Home and End, as one Tab stop entered at the
// chosen segment: the artist page's and the search scopes.
TEST_F(PanelKeys, PickersTakeTheArrows) {
    searchRain("歌手");
    panel->openArtist(0);
    open(screens[0].anchor);
    for (const char* prefix : {"artistTab", "mac-panel-scope-"}) {
        if (std::string(prefix) != "artistTab") {
            panel->closeCatalog();
            layOut();
        }
        QQuickItem* start = focus("catalogBack");
        if (!start) focus("mac-panel-search-submit");
        press(Qt::Key_Tab);
        if (focused()->objectName() == "catalogPagePlay") press(Qt::Key_Tab);
        const QString chosen = focused()->objectName();
        EXPECT_TRUE(chosen.startsWith(prefix)) << prefix << " " << chosen.toStdString();
        EXPECT_TRUE(focused()->property("selected").toBool()) << prefix;
        press(Qt::Key_Right);
        EXPECT_NE(focused()->objectName(), chosen) << prefix;
        EXPECT_TRUE(focused()->objectName().startsWith(prefix)) << prefix;
        press(Qt::Key_End);
        const QString last = focused()->objectName();
        press(Qt::Key_Right);
        EXPECT_EQ(focused()->objectName(), last) << prefix << " right at the end";
        press(Qt::Key_Home);
        press(Qt::Key_Left);
        EXPECT_TRUE(focused()->objectName().startsWith(prefix)) << prefix << " left at the start";
        press(Qt::Key_Space);
        EXPECT_TRUE(focused()->property("selected").toBool()) << prefix << " chosen with Space";
        EXPECT_EQ(unseen(), "") << prefix;
    }
}

// "显示更多歌手" comes after the rows it extends; pressed from the keyboard, the focus stays on
// it or goes to the first row it added, and Tab goes on past it. While it loads it reads so and
// is drawn disabled, taking no press, yet keeps the focus.
TEST_F(PanelKeys, ShowingMoreKeepsTheFocusAfterTheRows) {
    searchRain("歌手");
    open(screens[0].anchor);
    QQuickItem* more = focus("mac-panel-more-artists");
    ASSERT_TRUE(more);
    const auto shown = panel->search().visibleArtistResults().size();
    QTest::keyClick(made.get(), Qt::Key_Space);
    made->grabWindow();
    ASSERT_EQ(more->property("text").toString(), "正在载入…");
    EXPECT_EQ(focused(), more);
    QQuickItem* label = nullptr;
    for (QQuickItem* part : more->property("contentItem").value<QQuickItem*>()->childItems())
        if (part->property("text") == more->property("text")) label = part;
    ASSERT_TRUE(label);
    EXPECT_LT(label->opacity(), 1) << "drawn as enabled";
    const QPoint centre = more->mapToScene({more->width() / 2, more->height() / 2}).toPoint();
    QTest::mousePress(made.get(), Qt::LeftButton, {}, centre);
    EXPECT_FALSE(more->property("pressed").toBool()) << "pressed while loading";
    QTest::mouseRelease(made.get(), Qt::LeftButton, {}, centre);
    QTest::keyPress(made.get(), Qt::Key_Space);
    EXPECT_FALSE(more->property("pressed").toBool()) << "pressed by key while loading";
    QTest::keyRelease(made.get(), Qt::Key_Space);
    EXPECT_EQ(focused(), more);
    layOut();
    EXPECT_EQ(focused()->objectName().toStdString(), "mac-panel-artist-" + std::to_string(shown));
    for (int press = 0; press < 3 && find("mac-panel-more-artists"); ++press) {
        ASSERT_TRUE(focus("mac-panel-more-artists"));
        const int shown = int(panel->search().visibleArtistResults().size());
        this->press(Qt::Key_Return);
        const bool added = int(panel->search().visibleArtistResults().size()) > shown;
        EXPECT_EQ(unseen(), "") << press;
        QQuickItem* at = focused();
        if (added && at->objectName() != "mac-panel-more-artists") {
            EXPECT_EQ(at->objectName().toStdString(), "mac-panel-artist-" + std::to_string(shown)) << press;
            continue;
        }
        this->press(Qt::Key_Tab);
        EXPECT_FALSE(listOf(focused())) << press << " " << nameOf(focused());
    }
}

// Back from an album opened by key from an artist's albums, the artist page shows as it was
// left: on its albums, scrolled as it was, the ring on the card that was opened.
TEST_F(PanelKeys, BackFromAnAlbumShowsTheArtistPageAsItWasLeft) {
    searchRain("歌手");
    panel->openArtist(0);
    open(screens[0].anchor);
    ASSERT_TRUE(focus("artistTab2"));
    press(Qt::Key_Space);
    ASSERT_TRUE(focus("albumCard7"));
    QQuickItem* grid = find("albumGrid");
    ASSERT_TRUE(grid);
    const double scrolled = grid->property("contentY").toDouble();
    ASSERT_GT(scrolled, 0);
    press(Qt::Key_Space);
    ASSERT_EQ(panel->catalogPath().size(), 2u);
    ASSERT_TRUE(focus("catalogBack"));
    press(Qt::Key_Space);
    ASSERT_EQ(panel->catalogPath().size(), 1u);
    grid = find("albumGrid");
    ASSERT_TRUE(grid) << "not on the albums";
    EXPECT_EQ(grid->property("contentY").toDouble(), scrolled);
    EXPECT_EQ(nameOf(focused()), "albumCard7 in albumGrid");
    EXPECT_EQ(unseen(), "");
    QQuickItem* play = find("catalogPagePlay");
    ASSERT_TRUE(play);
    EXPECT_TRUE(play->isEnabled()) << "the popular songs not loaded";
}

// Back from an album opened by mouse from the top of an artist's albums, the grid stands where it
// stood, its top margin kept, and no ring shows.
TEST_F(PanelKeys, BackByMouseShowsTheAlbumGridWhereItStood) {
    searchRain("歌手");
    panel->openArtist(0);
    open(screens[0].anchor);
    ASSERT_TRUE(focus("artistTab2"));
    press(Qt::Key_Space);
    QQuickItem* grid = find("albumGrid");
    ASSERT_TRUE(grid);
    const double top = grid->property("contentY").toDouble();
    QQuickItem* card = find("albumCard0");
    ASSERT_TRUE(card);
    const QPointF cardAt = card->mapToScene({0, 0});
    const auto click = [&](QQuickItem* item) {
        const QPoint at = item->mapToScene(QPointF(item->width() / 2, item->height() / 2)).toPoint();
        QTest::mouseMove(made.get(), at);
        QTest::mouseClick(made.get(), Qt::LeftButton, {}, at);
        layOut();
    };
    click(card);
    ASSERT_EQ(panel->catalogPath().size(), 2u);
    QQuickItem* back = find("catalogBack");
    ASSERT_TRUE(back);
    click(back);
    ASSERT_EQ(panel->catalogPath().size(), 1u);
    grid = find("albumGrid");
    ASSERT_TRUE(grid) << "not on the albums";
    EXPECT_EQ(grid->property("contentY").toDouble(), top);
    card = find("albumCard0");
    ASSERT_TRUE(card);
    EXPECT_EQ(card->mapToScene({0, 0}), cardAt);
    EXPECT_FALSE(focused() && focused()->objectName().startsWith("albumCard")) << nameOf(focused());
}

// In a list of 37 favourites wheeled to their end and back, Home, Right and Left move along
// its rows, and Shift+Tab comes out of it the way Tab went in, leaving it unscrolled; the walk
// of the favourites view passes the list with one Tab.
TEST_F(PanelKeys, KeysMoveAlongAListAndBackOutOfIt) {
    manyFavourites();
    open(screens[0].anchor);
    QQuickItem* list = find("mac-panel-song-scroll");
    ASSERT_TRUE(list);
    wheel(list, -120, 40);
    wheel(list, 120, 40);
    ASSERT_TRUE(focus("mac-panel-tab-lyrics"));
    press(Qt::Key_Tab);
    ASSERT_EQ(listOf(focused()), list);
    press(Qt::Key_Home);
    EXPECT_EQ(nameOf(focused()), "mac-panel-song-play in mac-panel-song-scroll");
    press(Qt::Key_Right);
    EXPECT_EQ(nameOf(focused()), "mac-panel-song-heart in mac-panel-song-scroll");
    press(Qt::Key_Left);
    press(Qt::Key_Backtab);
    EXPECT_EQ(focused()->objectName().toStdString(), "mac-panel-tab-lyrics");
    EXPECT_EQ(list->property("contentY").toDouble(), 0);
    EXPECT_EQ(model->libraryTracks().size(), 37u);
}

}  // namespace
}  // namespace velto::paneltest
