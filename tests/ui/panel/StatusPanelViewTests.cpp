#include "StatusPanelViewFixture.h"

namespace velto::paneltest {
namespace {


TEST_F(PanelViews, CompactDiscoveryAndSongStates) {
    QQuickItem* root = load();
    ASSERT_TRUE(root);
    EXPECT_EQ(property("mac-panel-strip-title", "text").toString(), "从一首好歌开始");
    EXPECT_FALSE(shown("mac-panel-search-field"));
    EXPECT_FALSE(shown("mac-panel-strip-heart"));
    EXPECT_EQ(property("mac-panel-settings", "help").toString(), "打开设置");
    expectRendered(root, "compact");

    panel->selectTab("search");
    EXPECT_TRUE(shown("mac-panel-discovery"));
    EXPECT_FALSE(property("mac-panel-search-submit", "enabled").toBool());
    EXPECT_FALSE(shown("mac-panel-summary"));
    expectRendered(root, "search-discovery");

    searchRuntime->songs["雨"] = [] {
        Track gone = song("3", "停在雨里");
        gone.payload = R"({"st":-1})";
        Track other = song("4", "海盐");
        other.source = MusicSource::kg;
        return SearchPage{{song("1", "雨巷"), song("2", "雨后<b>晴</b>"), gone, other}, 4, 1};
    };
    panel->editQuery("雨", false);
    panel->submitSearch();
    expectRendered(root, "search-songs-loading");
    EXPECT_TRUE(shown("mac-panel-searching"));
    settle();
    EXPECT_EQ(property("mac-panel-summary", "text").toString(),
              QString::number(panel->search().results().size()) + " 首歌曲");
    expectRendered(root, "search-songs");

    searchRuntime->songs["无"] = [] { return SearchPage{}; };
    panel->editQuery("无", false);
    panel->submitSearch();
    settle();
    EXPECT_EQ(property("mac-panel-hint-title", "text").toString(), "没有找到歌曲");
    expectRendered(root, "search-songs-empty");
}

TEST_F(PanelViews, ScopeStates) {
    QQuickItem* root = load();
    scriptScopes();
    panel->selectTab("search");
    panel->editQuery("雨", false);
    panel->submitSearch();
    settle();
    const struct {
        const char* scope;
        const char* name;
        const char* unit;
        std::function<std::size_t()> count;
    } scopes[] = {{"歌手", "artists", " 位歌手", [&] { return panel->search().artistResults().size(); }},
                  {"专辑", "albums", " 张专辑", [&] { return panel->search().albumResults().size(); }},
                  {"歌单", "playlists", " 个歌单", [&] { return panel->search().playlistResults().size(); }}};
    for (const auto& s : scopes) {
        panel->selectScope(s.scope);
        expectRendered(root, QString("search-%1-loading").arg(s.name));
        EXPECT_TRUE(shown("mac-panel-searching")) << s.name;
        settle();
        EXPECT_FALSE(shown("mac-panel-searching")) << s.name;
        EXPECT_GT(s.count(), 0u);
        EXPECT_EQ(property("mac-panel-summary", "text").toString(),
                  QString::number(s.count()) + s.unit);
        expectRendered(root, QString("search-%1").arg(s.name));
    }
    panel->selectScope("歌手");
    EXPECT_TRUE(shown("mac-panel-more-artists"));

    searchRuntime->artists.clear();
    searchRuntime->albums.clear();
    searchRuntime->playlists.clear();
    panel->editQuery("雪", false);
    panel->submitSearch();
    settle();
    for (const auto& s : scopes) {
        panel->selectScope(s.scope);
        settle();
        expectRendered(root, QString("search-%1-empty").arg(s.name));
    }
}

TEST_F(PanelViews, FavouritesLyricsAndMessages) {
    QQuickItem* root = load();
    panel->selectTab("favorites");
    expectRendered(root, "favorites-empty");
    EXPECT_TRUE(shown("mac-panel-import-local-empty"));

    favourites({"A", "B", "C"});
    model->play({song("B")}, 0);
    settle();
    panel->toggleFavoriteRow(1);
    EXPECT_TRUE(property("mac-panel-song-1", "wasRemoved").toBool());
    expectRendered(root, "favorites-removed");

    panel->selectTab("lyrics");
    EXPECT_EQ(property("mac-panel-lyrics-empty-title", "text").toString(), "暂无歌词");
    expectRendered(root, "lyrics-waiting");

    resolver->failAlways("wy_A", std::make_exception_ptr(SourceError::source("这首歌暂时无法播放")));
    model->play({song("A")}, 0);
    settle();
    model->setErrorMessage("收藏未保存，请重试。");
    EXPECT_EQ(property("mac-panel-message-button", "text").toString(), "重试");
    expectRendered(root, "failure-playback");
    panel->toggleSettings();
    EXPECT_EQ(property("mac-panel-message-button", "text").toString(), "关闭");
    expectRendered(root, "settings");
    for (const char* name : {"mac-settings-quality", "mac-settings-rate", "mac-settings-sleep-timer",
                             "mac-settings-import-local-music", "mac-settings-import-online-playlist"})
        EXPECT_TRUE(property(name, "enabled").toBool()) << name;
    // The rate menu opens on the current rate, and the pointer that opened it leaves it there.
    for (const float rate : {1.25f, 1.0f}) {
        model->playback().setPlaybackRate(rate);
        QQuickItem* box = item("mac-settings-rate");
        const QPoint centre = box->mapToScene({box->width() / 2, box->height() / 2}).toPoint();
        QTest::mouseClick(box->window(), Qt::LeftButton, {}, centre);
        QTest::mouseMove(box->window(), centre + QPoint(1, 1));
        harness.grab();
        EXPECT_EQ(box->property("highlightedIndex").toInt(), panel->settingsValue()["rateIndex"].toInt()) << rate;
        QTest::keyClick(box->window(), Qt::Key_Escape);
    }
    panel->openOnlineImport();
    EXPECT_TRUE(shown("mac-panel-import-slot"));
    EXPECT_FALSE(shown("mac-panel-settings-page"));
    EXPECT_FALSE(shown("mac-panel-messages"));
    expectRendered(root, "import-idle");
    panel->importSheet()->setInput("https://music.163.com/playlist?id=123");
    panel->importSheet()->startReading();
    expectRendered(root, "import-loading");
    settle();
    EXPECT_EQ(panel->importSheet()->stateName(), "failed");  // no service answers here
    expectRendered(root, "import-failed");
    panel->importSheet()->close();
    EXPECT_TRUE(shown("mac-panel-settings-page"));
}

// The chosen search scope stands out from the picker's track as drawn, in either palette, and so
// does the focus ring on it.
TEST_F(PanelViews, ChosenScopeStandsOutInBothPalettes) {
    scriptScopes();
    searchSongs("雨", {song("1", "雨巷")});
    for (const bool dark : {false, true}) {
        std::optional<ViewHarness::DarkScheme> scheme;
        if (dark) scheme.emplace();
        QQuickItem* root = load();
        for (const auto& [scope, other, name] : {std::tuple{"歌曲", "专辑", "songs"}, {"歌手", "歌曲", "artists"}}) {
            panel->selectScope(scope);
            settle();
            expectRendered(root, QString("scope-picker-%1%2").arg(name, dark ? "-dark" : ""));
            const QImage drawn = harness.grab();
            const QColor chosen = ViewHarness::seenAt(drawn, item((std::string("mac-panel-scope-") + scope).c_str()), {4, 12});
            const QColor track = ViewHarness::seenAt(drawn, item((std::string("mac-panel-scope-") + other).c_str()), {4, 12});
            EXPECT_GE(Theme::contrast(chosen, track), 3.0) << scope << " " << dark;
            // Focused from the keyboard, its ring stands out from its fill.
            QQuickItem* segment = item((std::string("mac-panel-scope-") + scope).c_str());
            segment->forceActiveFocus(Qt::TabFocusReason);
            EXPECT_GE(Theme::contrast(ViewHarness::seenAt(harness.grab(), segment, {2, 12}), chosen), 3.0)
                << scope << " " << dark;
        }
    }
}

TEST_F(PanelViews, CatalogPageTakesTheListsPlace) {
    QQuickItem* root = load();
    scriptScopes();
    panel->selectTab("search");
    panel->editQuery("雨", false);
    panel->submitSearch();
    panel->selectScope("专辑");
    settle();
    panel->openAlbum(0);
    EXPECT_TRUE(shown("mac-panel-catalog-slot"));
    EXPECT_FALSE(shown("mac-panel-scope-picker"));
    EXPECT_FALSE(shown("mac-panel-summary"));
    expectRendered(root, "catalog-album");
    panel->closeCatalog();
    EXPECT_TRUE(shown("mac-panel-scope-picker"));

    // A composition under way is an edit too: the pages close before anything is committed, and
    // it takes the place of the query searched, which the field holds selected.
    panel->openAlbum(0);
    QQuickItem* field = item("mac-panel-search-input");
    field->forceActiveFocus();
    EXPECT_EQ(field->property("selectedText").toString(), "雨");
    QInputMethodEvent compose(QStringLiteral("yu"), {});
    QCoreApplication::sendEvent(field, &compose);
    EXPECT_TRUE(panel->catalogPath().empty());
    EXPECT_EQ(panel->search().query(), field->property("text").toString().toStdString());
}

TEST_F(PanelViews, WithoutALibrary) {
    panel.reset();
    model.reset();
    std::filesystem::remove_all(dir.path() / "data" / "cn.quorvanel.velto.mac");
    std::ofstream(dir.path() / "data" / "cn.quorvanel.velto.mac") << "not a folder";
    makePanel();
    QQuickItem* root = load();
    EXPECT_TRUE(shown("mac-panel-library-row"));
    expectRendered(root, "failure-library");
    panel->toggleSettings();
    EXPECT_FALSE(property("mac-settings-import-online-playlist", "enabled").toBool());
    EXPECT_FALSE(shown("mac-panel-backup-count"));
    expectRendered(root, "settings-no-library");
    panel->toggleSettings();
    panel->selectTab("lyrics");
    EXPECT_EQ(property("mac-panel-lyrics-empty-title", "text").toString(), "尚未播放");
    expectRendered(root, "lyrics-idle");
}

// In a dark desktop scheme every control draws from the palette, in the program's window made
// under that scheme: no drop-down box, switch or slider groove stays light on the dark panel.
TEST_F(PanelViews, DarkSchemeDrawsEveryControlDark) {
    const ViewHarness::DarkScheme scheme;
    const QPalette dark = scheme.palette();
    favourites({"A"});
    model->play({song("A")}, 0);
    settle();
    QQuickItem* root = load();
    panel->toggleSettings();
    expectRendered(root, "settings-dark");
    for (int press = 0; press < 20 && root->window()->activeFocusItem()->objectName() != "mac-settings-rate"; ++press)
        QTest::keyClick(root->window(), Qt::Key_Tab);
    harness.render("panel-settings-dark-focus");
    // The box's text stands clear of its ring, as a button's does.
    QQuickItem* rate = root->window()->activeFocusItem();
    ASSERT_EQ(rate->objectName().toStdString(), "mac-settings-rate");
    EXPECT_EQ(ViewHarness::linesOutsideItsRing(rate).join(" | ").toStdString(), "");
    auto* rateText = rate->property("contentItem").value<QQuickItem*>();
    QQuickItem* rateRing = rate->findChild<QQuickItem*>("focusRing");
    ASSERT_TRUE(rateText && rateRing);
    EXPECT_GE(rateText->x() + rateText->property("leftPadding").toDouble() - (rateRing->x() + 2), 4);

    const auto made = makeWindow();
    PanelWindow& window = *made;
    ASSERT_TRUE(window.ensureRoot());
    window.showAt({{}, PanelPlacement::Align::start, 0, PanelPlacement::Align::start, 0});
    window.grabWindow();
    const std::pair<const char*, QPalette::ColorRole> drawnFrom[] = {
        {"button", QPalette::Button}, {"base", QPalette::Base}, {"window", QPalette::Window}};
    for (const char* name : {"mac-settings-quality", "mac-settings-rate", "mac-panel-notch-switch",
                             "volumeSlider", "seekSlider"}) {
        auto* control = window.rootItem()->findChild<QQuickItem*>(name);
        ASSERT_TRUE(control) << name;
        auto* colors = control->property("palette").value<QObject*>();
        ASSERT_TRUE(colors) << name;
        for (const auto& [role, value] : drawnFrom)
            EXPECT_EQ(colors->property(role).value<QColor>(), dark.color(value))
                << name << " " << role;
    }
    // The drop-down lists and the sleep timer's menu too, in their control's font (a popup
    // takes the window's, the desktop's, otherwise).
    for (const auto& [name, opener] : {std::pair{"mac-settings-quality", "mac-settings-quality"},
                                       {"mac-settings-rate", "mac-settings-rate"},
                                       {"mac-settings-sleep-menu", "mac-settings-sleep-timer"}}) {
        auto* control = window.rootItem()->findChild<QObject*>(name);
        ASSERT_TRUE(control) << name;
        QObject* popup = control->property("popup").value<QObject*>();
        if (!popup) popup = control;
        auto* opening = window.rootItem()->findChild<QObject*>(opener);
        ASSERT_TRUE(opening) << opener;
        const QFont font = popup->property("font").value<QFont>();
        EXPECT_EQ(font.pixelSize(), opening->property("font").value<QFont>().pixelSize()) << name;
        EXPECT_EQ(font.family(), opening->property("font").value<QFont>().family()) << name;
        QMetaObject::invokeMethod(popup, "open");
        window.grabWindow();
        auto* colors = popup->property("palette").value<QObject*>();
        ASSERT_TRUE(colors) << name;
        for (const auto& [role, value] : drawnFrom)
            EXPECT_EQ(colors->property(role).value<QColor>(), dark.color(value)) << name << " " << role;
        QMetaObject::invokeMethod(popup, "close");
    }
    window.performClose();
}


// A message lies in a band at the edge the panel grows at: its top over a bottom tray, its bottom
// under a top tray. The window grows by the band where it can; where the panel already takes the
// usable height the band lies over the content's bottom. No control moves on the screen,
// not even in the frame drawn before the window manager has resized the window, so that a second
// click lands where it was aimed; and the message is seen, on every page.
TEST_F(PanelWindowedViews, NoticesComeAndGoWithoutMovingAControl) {
    searchSongs("雨", {song("1", "雨巷"), song("2", "雨后"), song("3", "停在雨里")});
    using Align = PanelPlacement::Align;
    const struct {
        const char* name;
        PanelPlacement::Anchor anchor;
        bool fullHeight;
    } trays[] = {{"bottom-tray", {{0, 0, 1920, 1040}, Align::centre, 1000, Align::end, 1048}, false},
                 {"top-tray", {{0, 32, 1920, 1048}, Align::centre, 1000, Align::start, 28}, false},
                 // 1024×600 and 1920×1080 at scale 2 over a 30 px bar.
                 {"low-bottom-tray", {{0, 0, 1024, 570}, Align::centre, 872, Align::end, 574}, true},
                 {"low-top-tray", {{0, 30, 1024, 570}, Align::centre, 872, Align::start, 26}, true},
                 {"scaled-bottom-tray", {{0, 0, 960, 510}, Align::centre, 900, Align::end, 514}, true},
                 {"scaled-top-tray", {{0, 30, 960, 510}, Align::centre, 900, Align::start, 26}, true}};
    const struct {
        const char* name;
        bool settings;
        std::vector<const char*> controls;
    } pages[] = {{"search", false, {"mac-panel-header", "mac-panel-strip-heart", "mac-panel-tabs",
                                    "mac-panel-search-field", "mac-panel-scope-picker", "mac-panel-results",
                                    "mac-panel-summary"}},
                 {"settings", true, {"mac-panel-header", "mac-panel-strip-heart", "mac-panel-notch-switch",
                                     "mac-settings-quality", "mac-settings-import-local-music",
                                     "mac-panel-export-backup"}}};
    int playing = 0;
    for (const bool dark : {false, true}) {
        // In the dark scheme the pages at the screen's full height only, for their pictures.
        std::optional<ViewHarness::DarkScheme> scheme;
        if (dark) scheme.emplace();
        for (const auto& page : pages) {
            for (const auto& tray : trays) {
                if (dark && !tray.fullHeight) continue;
                const std::string at = std::string(page.name) + " " + tray.name + (dark ? " dark" : "");
                model->play({song("p" + std::to_string(++playing))}, 0);
                settle();
                if (panel->showsSettings() != page.settings) panel->toggleSettings();
                if (!page.settings && panel->tabText() != "search") panel->selectTab("search");
                open(tray.anchor);
                if (tray.fullHeight) {
                    EXPECT_EQ(window().height(), tray.anchor.area.height() - 16) << at;
                }
                QList<QQuickItem*> controls;
                for (const char* name : page.controls) controls << find(name);
                ASSERT_FALSE(controls.contains(nullptr)) << at;
                const auto where = [&] {
                    QList<QRectF> rects;
                    for (QQuickItem* control : controls) rects << onScreen(control);
                    return rects;
                };
                const QList<QRectF> before = where();
                QQuickItem* heart = controls[1];
                const QPoint spot = heart->mapToScene({heart->width() / 2, heart->height() / 2}).toPoint();
                const QRect shownFrame = window().geometry();
                QSignalSpy resized(&window(), &QWindow::heightChanged);
                QCursor::setPos(window().mapToGlobal(spot));
                clickNow(spot);
                settle();
                // What is drawn while the window manager is still to grow the window.
                window().grabWindow();
                EXPECT_EQ(window().geometry() == shownFrame, tray.fullHeight) << at;
                EXPECT_EQ(resized.count(), 0) << at;
                EXPECT_EQ(where(), before) << at << ", the window not grown yet";
                layOut();
                EXPECT_EQ(find("mac-panel-message-text")->property("text").toString(), "已加入个人歌单") << at;
                EXPECT_TRUE(find("mac-panel-messages")->isVisible()) << at;
                EXPECT_TRUE(inView(find("mac-panel-message-text"))) << at;
                EXPECT_EQ(where(), before) << at;
                // The pointer that has not moved is still over the heart, not over what came
                // under it in the window.
                EXPECT_TRUE(heart->property("hovered").toBool()) << at;
                save(QString("notice-%1-%2%3").arg(page.name, tray.name, dark ? "-dark" : ""));
                resized.clear();
                advance(3);
                window().grabWindow();
                EXPECT_EQ(window().geometry(), shownFrame) << at;
                EXPECT_EQ(resized.count(), 0) << at;
                EXPECT_EQ(where(), before) << at << ", the window not shrunk yet";
                layOut();
                EXPECT_FALSE(find("mac-panel-messages")->isVisible()) << at;
                EXPECT_EQ(where(), before) << at;
                // A second click at the same spot takes the heart back.
                QTest::mouseClick(&window(), Qt::LeftButton, {}, spot);
                settle();
                layOut();
                EXPECT_EQ(where(), before) << at;
                EXPECT_TRUE(inView(find("mac-panel-message-text"))) << at;
                EXPECT_NE(find("mac-panel-message-text")->property("text").toString(), "已加入个人歌单") << at;
                advance(3);
                // An error stays until it is acted on: it is seen, and moves nothing either.
                model->setErrorMessage("收藏未保存，请重试。");
                layOut();
                EXPECT_TRUE(inView(find("mac-panel-message-button"))) << at;
                EXPECT_EQ(where(), before) << at;
                model->setErrorMessage(std::nullopt);
                layOut();
                EXPECT_EQ(where(), before) << at;
                if (tray.fullHeight) {
                    // Scrolled to what the band covers, the view stays put as the band goes.
                    model->setNotice("已加入个人歌单");
                    layOut();
                    QQuickItem* scroller = find("mac-panel-scroller");
                    EXPECT_GT(scroller->property("bottomMargin").toDouble(), 0) << at;
                    wheel(-120);
                    layOut();
                    const QList<QRectF> scrolled = where();
                    EXPECT_NE(scrolled, before) << at;
                    advance(3);
                    layOut();
                    EXPECT_FALSE(find("mac-panel-messages")->isVisible()) << at;
                    EXPECT_EQ(where(), scrolled) << at;
                    scroller->setProperty("contentY", 0);
                }
                window().performClose();
            }
        }
    }
}

// Return and keypad Enter act wherever Space acts: on a song row, a heart, a button, a switch
// and a drop-down box; a text field keeps Return for itself.
TEST_F(PanelWindowedViews, EnterActsAsSpaceDoes) {
    searchSongs("雨", {song("1", "雨巷"), song("2", "雨后"), song("3", "停在雨里")});
    openActive();
    // A tab button made anew as its tab opens keeps the focus.
    focus(find("mac-panel-tab-favorites"));
    press(Qt::Key_Return);
    EXPECT_EQ(panel->layout().results_kind, "songs");
    EXPECT_EQ(focused()->objectName().toStdString(), "mac-panel-tab-favorites");
    focus(find("mac-panel-tab-search"));
    press(Qt::Key_Return);

    QQuickItem* row = find("mac-panel-song-0");
    ASSERT_TRUE(row);
    focus(row->findChild<QQuickItem*>("mac-panel-song-play"));
    QTest::keyClick(&window(), Qt::Key_Return);
    settle();
    EXPECT_EQ(currentID(), song("1").musicID());
    focus(row->findChild<QQuickItem*>("mac-panel-song-heart"));
    QTest::keyClick(&window(), Qt::Key_Enter, Qt::KeypadModifier);
    settle();
    EXPECT_TRUE(model->isFavorite(song("1")));

    // In the field Return searches, as it did: the field keeps its text and the focus.
    QQuickItem* field = focus(find("mac-panel-search-input"));
    QTest::keyClick(&window(), Qt::Key_Return);
    EXPECT_EQ(focused(), field);
    EXPECT_EQ(field->property("text").toString(), "雨");

    focus(find("mac-panel-settings"));
    press(Qt::Key_Return);
    ASSERT_TRUE(panel->showsSettings());
    const bool notch = model->notchEnabled();
    focus(find("mac-panel-notch-switch"));
    QTest::keyClick(&window(), Qt::Key_Return);
    EXPECT_NE(model->notchEnabled(), notch);
    QQuickItem* rate = focus(find("mac-settings-rate"));
    press(Qt::Key_Enter, Qt::KeypadModifier);
    auto* popup = rate->property("popup").value<QObject*>();
    ASSERT_TRUE(popup);
    EXPECT_TRUE(popup->property("visible").toBool());
    // In the open list Return picks the highlighted rate, and the box keeps the focus.
    const int rateIndex = panel->settingsValue()["rateIndex"].toInt();
    QTest::keyClick(&window(), Qt::Key_Down);
    press(Qt::Key_Return);
    EXPECT_FALSE(popup->property("visible").toBool());
    EXPECT_EQ(panel->settingsValue()["rateIndex"].toInt(), rateIndex + 1);
    EXPECT_EQ(focused(), rate);
    // A menu opened from the keyboard keeps the keys for its entries.
    QQuickItem* sleep = focus(find("mac-settings-sleep-timer"));
    press(Qt::Key_Return);
    auto* menu = sleep->findChild<QObject*>("mac-settings-sleep-menu");
    ASSERT_TRUE(menu);
    EXPECT_TRUE(menu->property("visible").toBool());
    EXPECT_NE(focused(), sleep);
    press(Qt::Key_Escape);
    EXPECT_FALSE(menu->property("visible").toBool());
    EXPECT_EQ(focused(), sleep);
    // Down to the first timer past "关闭定时", Return to start it; the focus goes back to the button.
    const QString off = panel->settingsValue()["sleepTitle"].toString();
    press(Qt::Key_Return);
    QTest::keyClick(&window(), Qt::Key_Down);
    QTest::keyClick(&window(), Qt::Key_Down);
    press(Qt::Key_Return);
    EXPECT_FALSE(menu->property("visible").toBool());
    EXPECT_NE(panel->settingsValue()["sleepTitle"].toString(), off);
    EXPECT_EQ(focused(), sleep);
    window().performClose();
}

// A page opened from the keyboard goes on from its first control, ring and all: a result card's
// page from its back button, a suggestion's search from the field, the import sheet from its
// field; closed from the keyboard, it gives the focus back to the control that opened it. Down
// in the field reaches the first suggestion or result. A page opened by a click leaves the
// focus alone.
TEST_F(PanelWindowedViews, APageOpenedFromTheKeyboardGoesOnFromItsFirstControl) {
    scriptScopes();
    searchRuntime->tips["雨天"] = [] { return std::vector<std::string>{"雨天的歌", "雨天心情"}; };
    panel->selectTab("search");
    openActive();
    panel->editQuery("雨天", false);
    advance(0.4);
    settle();
    layOut();
    ASSERT_EQ(panel->search().shownSuggestions().size(), 2u);
    const auto ringShown = [&](const char* step) {
        QQuickItem* at = focused();
        ASSERT_TRUE(at) << step;
        QQuickItem* ring = ringOf(at);
        if (!ring) ring = at->parentItem()->parentItem()->findChild<QQuickItem*>("focusRing");
        EXPECT_TRUE(ring && ring->isVisible()) << step << " " << at->objectName().toStdString();
    };
    QQuickItem* field = find("mac-panel-search-input");
    // Down from the field to the first of the results, its ring round all it shows.
    const auto downFromTheField = [&](const char* first) {
        field->forceActiveFocus(Qt::TabFocusReason);
        press(Qt::Key_Down);
        EXPECT_EQ(focused()->objectName().toStdString(), first);
        EXPECT_EQ(ViewHarness::linesOutsideItsRing(focused()).join(" | ").toStdString(), "");
    };
    downFromTheField("mac-panel-suggestion-0");
    save("focused-suggestion");
    QTest::keyClick(&window(), Qt::Key_Space);
    settle();
    layOut();
    EXPECT_EQ(panel->search().query(), "雨天的歌");
    EXPECT_EQ(focused(), field);
    ringShown("suggestion picked");

    panel->editQuery("雨", false);
    panel->submitSearch();
    panel->selectScope("专辑");
    settle();
    layOut();
    downFromTheField("mac-panel-card-0");
    save("focused-card");
    press(Qt::Key_Return);
    ASSERT_EQ(panel->catalogPath().size(), 1u);
    EXPECT_EQ(focused()->objectName().toStdString(), "catalogBack");
    ringShown("card opened");
    save("catalog-opened-from-the-keyboard");
    // Back from the keyboard: the card that opened the page has the focus again.
    press(Qt::Key_Space);
    ASSERT_TRUE(panel->catalogPath().empty());
    EXPECT_EQ(focused()->objectName().toStdString(), "mac-panel-card-0");
    ringShown("back");

    QQuickItem* card = find("mac-panel-card-0");
    ASSERT_TRUE(card);
    QTest::mouseClick(&window(), Qt::LeftButton, {}, card->mapToScene({card->width() / 2, 20}).toPoint());
    layOut();
    ASSERT_EQ(panel->catalogPath().size(), 1u);
    EXPECT_NE(focused()->objectName().toStdString(), "catalogBack");
    panel->closeCatalog();

    // The import sheet goes on from its field, and closed gives the focus back to its row.
    panel->toggleSettings();
    layOut();
    find("mac-settings-import-online-playlist")->forceActiveFocus(Qt::TabFocusReason);
    press(Qt::Key_Return);
    EXPECT_EQ(focused()->objectName().toStdString(), "online-playlist-import-input");
    ringShown("sheet opened");
    find("online-playlist-import-close")->forceActiveFocus(Qt::TabFocusReason);
    press(Qt::Key_Return);
    EXPECT_FALSE(find("mac-panel-import-slot")->isVisible());
    EXPECT_EQ(focused()->objectName().toStdString(), "mac-settings-import-online-playlist");
    window().performClose();
}

// 1920×1080 at scale 2 with a 30 px bottom bar leaves 960×510: the settings page, taller than
// that, is cut to the usable area and scrolls, and wheel and Tab reach every control on it.
TEST_F(PanelWindowedViews, SettingsPageOnALowScreenScrollsToEveryControl) {
    panel->toggleSettings();
    const QRect area(0, 0, 960, 510);
    open({area, PanelPlacement::Align::centre, 600, PanelPlacement::Align::end, 514});
    EXPECT_GT(window().rootItem()->implicitHeight(), area.height());
    EXPECT_EQ(window().geometry(), QRect(410, 8, 380, 494));
    QQuickItem* exportBackup = find("mac-panel-export-backup");
    ASSERT_TRUE(exportBackup);
    EXPECT_FALSE(inView(exportBackup));
    save("settings-low-screen");

    // The wheel over the panel's margin, where no control takes it, scrolls to the end.
    wheel(-120);
    layOut();
    EXPECT_TRUE(inView(exportBackup));
    save("settings-low-screen-scrolled");

    // Back at the top, Tab brings each control it stops at into view.
    find("mac-panel-scroller")->setProperty("contentY", 0);
    window().requestActivate();
    find("mac-panel-settings")->forceActiveFocus(Qt::TabFocusReason);
    QSet<QQuickItem*> seen;
    for (int press = 0; press < 40 && !seen.contains(exportBackup); ++press) {
        QTest::keyClick(&window(), Qt::Key_Tab);
        layOut();
        QQuickItem* focused = window().activeFocusItem();
        ASSERT_TRUE(focused);
        seen.insert(focused);
        EXPECT_TRUE(inView(focused)) << press << " " << focused->objectName().toStdString();
        if (focused->property("visualFocus").isValid()) {
            EXPECT_EQ(ViewHarness::linesOutsideItsRing(focused), QStringList())
                << focused->objectName().toStdString();
        }
    }
    EXPECT_TRUE(seen.contains(exportBackup));
    window().performClose();
}

// A file dialog opened from the settings page takes the activation and closes the panel, which
// comes back as the dialog ends: opened from the keyboard, with the focus, ring and all, on the
// button that opened it, scrolled into view on a low screen; opened by a click, with none.
TEST_F(PanelWindowedViews, ThePanelBackFromAFileDialogAKeyOpenedFocusesItsButton) {
    const PanelPlacement::Anchor anchor{{0, 0, 960, 510}, PanelPlacement::Align::centre, 600,
                                        PanelPlacement::Align::end, 514};
    QWindow dialog;
    dialog.setModality(Qt::ApplicationModal);
    std::function<void()> answer;
    chooser->shown = [&](std::function<void()> given) {
        answer = std::move(given);
        dialog.show();
        dialog.requestActivate();
    };
    // What the program does: the panel closes as it loses the activation, and opens again as
    // the dialog ends.
    const auto throughTheDialog = [&](const char* name) {
        settle();  // a backup is written on a worker before its dialog opens
        ASSERT_TRUE(dialog.isVisible()) << name;
        QCoreApplication::processEvents();
        EXPECT_FALSE(window().isActive()) << name;
        window().performClose();
        find("mac-panel-scroller")->setProperty("contentY", 0);
        dialog.hide();
        answer();
        settle();
        open(anchor);
    };
    panel->toggleSettings();
    for (const auto& [name, key] : {std::pair{"mac-settings-import-local-music", Qt::Key_Return},
                                    {"mac-panel-import-backup", Qt::Key_Space},
                                    {"mac-panel-export-backup", Qt::Key_Return}}) {
        open(anchor);
        window().requestActivate();
        find(name)->forceActiveFocus(Qt::TabFocusReason);
        QTest::keyClick(&window(), key);
        throughTheDialog(name);
        ASSERT_TRUE(panel->showsSettings()) << name;
        QQuickItem* focused = window().activeFocusItem();
        ASSERT_TRUE(focused) << name;
        EXPECT_EQ(focused->objectName().toStdString(), name);
        QQuickItem* ring = focused->findChild<QQuickItem*>("focusRing");
        ASSERT_TRUE(ring) << name;
        EXPECT_TRUE(ring->isVisible()) << name;
        EXPECT_TRUE(inView(ring)) << name;
        window().performClose();
    }
    EXPECT_EQ(chooser->opened.size(), 2u);
    EXPECT_EQ(chooser->saved.size(), 1u);

    open(anchor);
    QQuickItem* button = find("mac-settings-import-local-music");
    QTest::mouseClick(&window(), Qt::LeftButton, {}, button->mapToScene({button->width() / 2, button->height() / 2}).toPoint());
    throughTheDialog("clicked");
    QQuickItem* focused = window().activeFocusItem();
    EXPECT_TRUE(!focused || focused == window().contentItem()) << focused->objectName().toStdString();
    window().performClose();
}

// Tab walks the compact panel in reading order, and wherever it stops the focus ring shows it.
TEST_F(PanelViews, TabShowsWhereTheFocusIsInReadingOrder) {
    favourites({"A"});
    model->play({song("A")}, 0);
    settle();
    QQuickItem* root = load();
    expectRendered(root, "compact-playing");
    QQuickWindow* window = root->window();
    const QColor ringColour = Theme::colorsFor(QGuiApplication::palette()).focusRing;
    QPointF last(-1, -1);
    QSet<QQuickItem*> seen;
    for (int press = 0; press < 16; ++press) {
        QTest::keyClick(window, Qt::Key_Tab);
        QQuickItem* focused = window->activeFocusItem();
        ASSERT_TRUE(focused);
        if (seen.contains(focused)) break;  // round again
        seen.insert(focused);
        if (!focused->property("visualFocus").isValid()) continue;  // the seek slider's own look
        QQuickItem* ring = ringOf(focused);
        ASSERT_TRUE(ring && ring->isVisible()) << press << " " << focused->objectName().toStdString();
        const QRectF at = sceneBox(focused);
        // Reading order: further down, or on the same line further right.
        EXPECT_TRUE(at.top() >= last.y() + 12 || (std::abs(at.top() - last.y()) < 12 && at.left() > last.x()))
            << press << " " << focused->objectName().toStdString();
        last = at.topLeft();
        const QImage shot = press == 0 ? harness.render("panel-focus-ring") : harness.grab();
        int ringPixels = 0;
        const QRect area = at.toAlignedRect();
        for (int y = area.top(); y <= area.bottom(); ++y)
            for (int x = area.left(); x <= area.right(); ++x)
                ringPixels += shot.valid(x, y) && QColor(shot.pixel(x, y)) == ringColour;
        EXPECT_GT(ringPixels, area.width()) << press << " " << focused->objectName().toStdString();
    }
    EXPECT_GT(seen.size(), 6);
}

// A key acts only on a control that shows it holds the focus: a reopened panel starts with none
// focused, and a click leaves none behind.
TEST_F(PanelViews, KeysActOnlyWhereTheRingShows) {
    const auto made = makeWindow();
    PanelWindow& window = *made;
    QObject::connect(&window, &PanelWindow::didClose, panel.get(), &MacStatusPanel::panelDidClose);
    ASSERT_TRUE(window.ensureRoot());
    const auto open = [&] {
        window.showAt({{}, PanelPlacement::Align::start, 0, PanelPlacement::Align::start, 0});
        QCoreApplication::processEvents();
        window.grabWindow();
    };
    const auto ringShown = [](QQuickItem* item) { return item && ringOf(item) && ringOf(item)->isVisible(); };
    for (const char* name : {"mac-panel-notch", "mac-panel-settings"}) {
        model->setNotchEnabled(false);
        open();
        for (int press = 0; press < 8 && window.activeFocusItem()->objectName() != name; ++press)
            QTest::keyClick(&window, Qt::Key_Tab);
        ASSERT_EQ(window.activeFocusItem()->objectName(), name);
        EXPECT_TRUE(ringShown(window.activeFocusItem())) << name;
        QTest::keyClick(&window, Qt::Key_Escape);
        ASSERT_FALSE(window.isShown());
        open();
        QQuickItem* focused = window.activeFocusItem();
        EXPECT_TRUE(!focused || focused == window.contentItem() || ringShown(focused))
            << name << " " << focused->objectName().toStdString();
        QTest::keyClick(&window, Qt::Key_Space);
        EXPECT_FALSE(model->notchEnabled()) << name;
        EXPECT_FALSE(panel->showsSettings()) << name;
        window.performClose();
    }
    open();
    QQuickItem* settings = window.rootItem()->findChild<QQuickItem*>("mac-panel-settings");
    ASSERT_TRUE(settings);
    QTest::mouseClick(&window, Qt::LeftButton, {}, settings->mapToScene({11, 11}).toPoint());
    ASSERT_TRUE(panel->showsSettings());
    QTest::keyClick(&window, Qt::Key_Space);
    EXPECT_TRUE(panel->showsSettings());
}

// In a song list Up and Down move the focus, ring and all, to the same control of the next row;
// Page Down, Page Up, Home and End move it a screenful or to an end and scroll the list to show it.
// The focus never falls to the list itself, and Space plays the row whose ring shows.
TEST_F(PanelViews, ListKeysMoveTheFocusedRow) {
    std::vector<Track> found;
    for (int i = 0; i < 12; ++i) found.push_back(song(std::to_string(i), "歌曲 " + std::to_string(i)));
    QQuickItem* root = load();
    searchSongs("歌", found);
    QQuickWindow* window = root->window();
    QQuickItem* list = item("mac-panel-song-scroll");
    ASSERT_TRUE(list);
    const auto focusedRow = [&] {
        for (QQuickItem* at = window->activeFocusItem(); at; at = at->parentItem())
            if (at->property("musicID").isValid()) return at;
        return static_cast<QQuickItem*>(nullptr);
    };
    // The focused control shows its ring, wholly in the list's view.
    const auto expectFocus = [&](int row, const char* control, const char* step) {
        harness.grab();
        QQuickItem* focused = window->activeFocusItem();
        QQuickItem* at = focusedRow();
        ASSERT_TRUE(at) << step;
        EXPECT_EQ(at->property("index").toInt(), row) << step;
        EXPECT_EQ(focused->objectName(), control) << step;
        QQuickItem* ring = ringOf(focused);
        ASSERT_TRUE(ring && ring->isVisible()) << step;
        EXPECT_EQ(ViewHarness::linesOutsideItsRing(focused), QStringList()) << step;
        EXPECT_TRUE(sceneBox(list).contains(sceneBox(ring))) << step;
    };
    for (int press = 0; press < 20 && !focusedRow(); ++press) QTest::keyClick(window, Qt::Key_Tab);
    expectFocus(0, "mac-panel-song-play", "tab");
    QTest::keyClick(window, Qt::Key_Down);
    expectFocus(1, "mac-panel-song-play", "down");
    harness.render("panel-focused-row");
    QTest::keyClick(window, Qt::Key_Up);
    expectFocus(0, "mac-panel-song-play", "up");
    // Up from the first row goes back to the field, Down from it to the rows.
    QTest::keyClick(window, Qt::Key_Up);
    EXPECT_EQ(window->activeFocusItem()->objectName(), "mac-panel-search-input");
    const std::tuple<Qt::Key, int, const char*, const char*> steps[] = {
        {Qt::Key_Down, 0, "mac-panel-song-play", "down from the field"},
        {Qt::Key_PageDown, 5, "mac-panel-song-play", "page down"},  // five rows of 49 and 2 between fill the 260
        {Qt::Key_Right, 5, "mac-panel-song-heart", "right to the heart"},
        {Qt::Key_Right, 5, "mac-panel-song-heart", "right at the row's end"},
        {Qt::Key_Down, 6, "mac-panel-song-heart", "down from the heart"},
        {Qt::Key_End, 11, "mac-panel-song-heart", "end"},
        {Qt::Key_Down, 11, "mac-panel-song-heart", "down at the end"},
        {Qt::Key_PageUp, 6, "mac-panel-song-heart", "page up"},
        {Qt::Key_Home, 0, "mac-panel-song-heart", "home"}};
    for (const auto& [key, row, control, step] : steps) {
        QTest::keyClick(window, key);
        expectFocus(row, control, step);
        if (key == Qt::Key_End) {
            EXPECT_GT(list->property("contentY").toDouble(), 0);
        }
    }
    // The list is one stop: Tab leaves it, Shift+Tab comes back to the control last focused.
    QTest::keyClick(window, Qt::Key_Tab);
    EXPECT_EQ(focusedRow(), nullptr);
    QTest::keyClick(window, Qt::Key_Backtab);
    expectFocus(0, "mac-panel-song-heart", "back into the list");
    QTest::keyClick(window, Qt::Key_Left);
    QTest::keyClick(window, Qt::Key_Down);
    QTest::keyClick(window, Qt::Key_Down);
    expectFocus(2, "mac-panel-song-play", "down twice");
    QTest::keyClick(window, Qt::Key_Space);
    settle();
    EXPECT_EQ(currentID(), found[2].musicID());
}

// Whatever gives a row the focus brings it into view, ring and all: Tab into a list scrolled to
// its end, Shift+Tab into one at its start.
TEST_F(PanelViews, TabIntoAScrolledListShowsTheFocusedRow) {
    std::vector<std::string> ids;
    for (int i = 0; i < 12; ++i) ids.push_back(std::to_string(i));
    favourites(ids);
    QQuickItem* root = load();
    panel->selectTab("favorites");
    QQuickWindow* window = root->window();
    QQuickItem* list = item("mac-panel-song-scroll");
    ASSERT_TRUE(list);
    const auto inList = [&](QQuickItem* at) {
        for (; at; at = at->parentItem())
            if (at == list) return true;
        return false;
    };
    const auto expectShown = [&](const char* step) {
        harness.grab();
        QQuickItem* focused = window->activeFocusItem();
        ASSERT_TRUE(inList(focused)) << step;
        QQuickItem* ring = ringOf(focused);
        ASSERT_TRUE(ring && ring->isVisible()) << step;
        EXPECT_TRUE(sceneBox(list).contains(sceneBox(ring)))
            << step << " " << focused->parentItem()->parentItem()->objectName().toStdString();
    };
    harness.grab();
    list->setProperty("contentY", list->property("contentHeight").toDouble() - list->height());
    harness.grab();
    for (int press = 0; press < 20 && !inList(window->activeFocusItem()); ++press)
        QTest::keyClick(window, Qt::Key_Tab);
    expectShown("tab");
    list->setProperty("contentY", 0);
    item("mac-panel-notch")->forceActiveFocus(Qt::TabFocusReason);
    for (int press = 0; press < 20 && !inList(window->activeFocusItem()); ++press)
        QTest::keyClick(window, Qt::Key_Backtab);
    expectShown("shift+tab");
}

// A favourite removed from the keyboard hands the focus, ring and all, to the heart of the row
// that takes its place, in view: the next row's, at the end the previous one's, past the rows of
// songs just removed; with none left, to the empty list's import button once it shows, which
// gives it to the first row when songs come.
TEST_F(PanelWindowedViews, AFavouriteRemovedByKeyHandsTheFocusToTheRowTakingItsPlace) {
    std::vector<std::string> ids;
    for (int i = 0; i < 12; ++i) ids.push_back(std::to_string(i));
    favourites(ids);
    panel->selectTab("favorites");
    openActive();
    QQuickItem* list = find("mac-panel-song-scroll");
    ASSERT_TRUE(list);
    // The focused control, of that name, shows its ring in view.
    const auto expectFocused = [&](const char* name, const char* step) {
        layOut();
        QQuickItem* focused = window().activeFocusItem();
        ASSERT_TRUE(focused) << step;
        EXPECT_EQ(focused->objectName().toStdString(), name) << step;
        QQuickItem* ring = ringOf(focused);
        ASSERT_TRUE(ring && ring->isVisible()) << step << " " << focused->objectName().toStdString();
        EXPECT_TRUE(inView(ring)) << step;
    };
    const auto expectHeartOf = [&](const std::string& id, const char* step) {
        expectFocused("mac-panel-song-heart", step);
        QQuickItem* focused = window().activeFocusItem();
        QQuickItem* row = focused;
        while (row && !row->property("musicID").isValid()) row = row->parentItem();
        ASSERT_TRUE(row) << step;
        EXPECT_EQ(row->property("musicID").toString().toStdString(), song(id).musicID()) << step;
        EXPECT_TRUE(sceneBox(list).contains(sceneBox(focused))) << step;
    };
    find("mac-panel-song-0")->findChild<QQuickItem*>("mac-panel-song-heart")->forceActiveFocus(Qt::TabFocusReason);
    QTest::keyClick(&window(), Qt::Key_Space);
    expectHeartOf("1", "the first removed");
    QTest::keyClick(&window(), Qt::Key_Return);
    expectHeartOf("2", "the next one at once");
    advance(1);
    expectHeartOf("2", "their rows gone");
    // Its row gone once it has slid away.
    model->removeFavorite(song("2"));
    settle();
    layOut();
    expectHeartOf("3", "its song removed elsewhere");
    QTest::keyClick(&window(), Qt::Key_End);
    QTest::keyClick(&window(), Qt::Key_Space);
    expectHeartOf("10", "the last removed");
    QTest::keyClick(&window(), Qt::Key_Space);
    expectHeartOf("9", "past the removed last row");
    advance(1);
    expectHeartOf("9", "the last rows gone");
    for (const std::string id : {"2", "3", "4", "5", "6", "7", "8"}) model->removeFavorite(song(id));
    settle();
    expectHeartOf("9", "the others removed elsewhere");
    QTest::keyClick(&window(), Qt::Key_Space);
    advance(1);
    expectFocused("mac-panel-import-local-empty", "none left");
    // Songs coming while it has the focus (its import done) give it to the first row.
    favourites({"12"});
    expectFocused("mac-panel-song-play", "a song imported");
    window().performClose();
}

// Open, favourites, wheel, Escape, again and again over 1,000 favourites in the program's own
// window (which follows the content's height), with a song playing and the timing of each step
// varied: every frame ends having made a screenful of rows, and closing leaves none behind.
TEST_F(PanelViews, FavouritesSurviveOpeningScrollingAndClosingOverAndOver) {
    std::vector<Track> songs;
    for (int i = 0; i < 1000; ++i) songs.push_back(song(std::to_string(i), "歌曲 " + std::to_string(i)));
    model->library()->importPersonalPlaylist(PlaylistBackup::encode("收藏", songs));
    model->reloadLibrary();
    model->play(songs, 3);
    settle();
    ASSERT_EQ(model->libraryTracks().size(), 1000u);
    const auto made = makeWindow();
    PanelWindow& window = *made;
    QObject::connect(&window, &PanelWindow::didClose, panel.get(), &MacStatusPanel::panelDidClose);
    ASSERT_TRUE(window.ensureRoot());
    auto* list = window.rootItem()->findChild<QQuickItem*>("mac-panel-song-scroll");
    ASSERT_TRUE(list);
    // Rows come and go as children of the list's content; a polish that never ends makes them
    // without end, and is stopped here rather than left to eat the memory.
    int madeOrGone = 0;
    QObject::connect(list->property("contentItem").value<QQuickItem*>(), &QQuickItem::childrenChanged, [&] {
        if (++madeOrGone < 100000) return;
        ADD_FAILURE() << "rows made without end";
        std::abort();
    });
    const std::function<int(QQuickItem*)> rowsIn = [&](QQuickItem* item) {
        int count = item->isVisible() && item->property("musicID").isValid();
        for (QQuickItem* child : item->childItems()) count += rowsIn(child);
        return count;
    };
    // Where the list lies once laid out (the same on each opening).
    window.showAt({{}, PanelPlacement::Align::start, 0, PanelPlacement::Align::start, 0});
    panel->selectTab("favorites");
    window.grabWindow();
    const QPointF at = list->mapToScene({list->width() / 2, list->height() / 2});
    window.performClose();
    ulong wheelTime = 1000;
    int scrolled = 0;
    for (int cycle = 0; cycle < 60; ++cycle) {
        madeOrGone = 0;
        window.showAt({{}, PanelPlacement::Align::start, 0, PanelPlacement::Align::start, 0});
        panel->selectTab("favorites");
        // Rows keep the height the list placed them with: a row that grew afterwards sent the
        // list to lay out again, which at an unlucky scroll position never ended.
        std::vector<std::pair<QPointer<QQuickItem>, qreal>> placed;
        for (QQuickItem* row : list->property("contentItem").value<QQuickItem*>()->childItems())
            if (row->property("musicID").isValid()) placed.emplace_back(row, row->height());
        window.grabWindow();
        for (const auto& [row, height] : placed)
            if (row) {
                EXPECT_EQ(row->height(), height) << cycle;
            }
        for (int notch = 0; notch < 1 + cycle % 9; ++notch) {
            QWheelEvent wheel(at, window.mapToGlobal(at), {}, {0, -120 * (1 + cycle % 3)}, Qt::NoButton,
                              Qt::NoModifier, Qt::NoScrollPhase, false);
            wheel.setTimestamp(wheelTime += 20 + 40 * (notch % 2));
            QCoreApplication::sendEvent(&window, &wheel);
            animations.step(8 + 8 * (cycle % 4));
            if (cycle % 3 == 0) QCoreApplication::processEvents();
        }
        if (cycle % 4) mainQueue.advance(std::chrono::milliseconds(250));  // the playing song ticks
        for (int frame = 0; frame <= cycle % 6; ++frame) {  // Escape comes mid-flick or after it
            animations.step(50);
            window.grabWindow();
        }
        window.grabWindow();
        scrolled += list->property("contentY").toDouble() > 0;
        EXPECT_GT(rowsIn(list), 0) << cycle;
        EXPECT_LT(rowsIn(list), 40) << cycle;
        QTest::keyClick(&window, Qt::Key_Escape);
        animations.step(16 * (cycle % 3));
        QCoreApplication::processEvents();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        EXPECT_EQ(rowsIn(list), 0) << cycle;
        EXPECT_LT(madeOrGone, 400) << cycle;
    }
    EXPECT_GT(scrolled, 15);  // a wheel notch that lands between frames may not move the list
}

}  // namespace
}  // namespace velto::paneltest
