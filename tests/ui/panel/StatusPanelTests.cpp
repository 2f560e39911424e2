#include <QSignalSpy>

#include <cmath>
#include <utility>

#include "StatusPanelFixture.h"
#include "playback/SleepTimer.h"
#include "sources/model/TrackPayloadCache.h"
#include "ui/views/MacLyricsModel.h"
#include "ui/views/MacSeekSliderModel.h"

namespace velto::paneltest {
namespace {

using Layout = MacStatusPanel::Layout;
using Kind = MacStatusPanel::MessageRow::Kind;

TEST_F(StatusPanelTest, ContentRuleFollowsTabsSettingsPagesAndImport) {
    makePanel();
    auto shows = [&](std::initializer_list<bool Layout::*> expected) {
        const Layout& now = panel->layout();
        for (bool Layout::*flag : {&Layout::divider, &Layout::importView, &Layout::settingsPage,
                                   &Layout::searchField, &Layout::scopePicker, &Layout::messages,
                                   &Layout::lyrics, &Layout::catalog, &Layout::results,
                                   &Layout::summary}) {
            const bool wanted = std::find(expected.begin(), expected.end(), flag) != expected.end();
            if (now.*flag != wanted) return false;
        }
        return true;
    };
    EXPECT_TRUE(shows({&Layout::messages}));  // the compact panel

    searchRuntime->hot = [] { return std::vector<std::string>{"热一"}; };
    panel->selectTab("search");
    EXPECT_TRUE(shows({&Layout::divider, &Layout::searchField, &Layout::scopePicker,
                       &Layout::messages, &Layout::results}));
    settle();  // the field takes the focus once it is up, and the hot searches load
    EXPECT_TRUE(panel->searchFocused());
    EXPECT_EQ(panel->search().hotSearches(), std::vector<std::string>{"热一"});
    EXPECT_EQ(panel->layout().results_kind, "discovery");
    panel->setSearchFocused(true);
    panel->openCatalog(MacCatalogDestination::artist({"7", MusicSource::wy, "岚屿", {}, {}, {}}));
    EXPECT_FALSE(panel->searchFocused());
    panel->openCatalog(MacCatalogDestination::artist({"7", MusicSource::wy, "岚屿", {}, {}, {}}));
    EXPECT_EQ(panel->catalogPath().size(), 2u);
    EXPECT_TRUE(shows({&Layout::divider, &Layout::searchField, &Layout::messages, &Layout::catalog}));
    panel->closeCatalog();
    panel->closeCatalog();
    panel->closeCatalog();  // nothing left to close
    EXPECT_TRUE(panel->catalogPath().empty());
    EXPECT_TRUE(panel->layout().scopePicker && panel->layout().results);

    // Opening the settings closes the tab, its focus and its pages.
    panel->openCatalog(MacCatalogDestination::album({}));
    panel->setSearchFocused(true);
    panel->toggleSettings();
    EXPECT_FALSE(panel->tab());
    EXPECT_FALSE(panel->searchFocused());
    EXPECT_TRUE(panel->catalogPath().empty());
    EXPECT_TRUE(shows({&Layout::divider, &Layout::settingsPage, &Layout::messages}));

    panel->openOnlineImport();
    ASSERT_TRUE(panel->importPresentation());
    const std::string first = panel->importPresentation()->id;
    EXPECT_TRUE(shows({&Layout::divider, &Layout::importView}));
    panel->importSheet()->setInput("123");
    panel->importSheet()->close();  // the sheet's own close button
    EXPECT_FALSE(panel->importPresentation());
    panel->openOnlineImport();
    EXPECT_NE(panel->importPresentation()->id, first);
    EXPECT_TRUE(panel->importSheet()->input().isEmpty());  // a new presentation starts afresh
    panel->toggleSettings();  // closing drops the presentation
    EXPECT_FALSE(panel->importPresentation());
    EXPECT_FALSE(panel->tab());
    panel->toggleSettings();
    EXPECT_TRUE(panel->layout().settingsPage);

    panel->selectTab("lyrics");  // a tab button also closes the settings
    EXPECT_FALSE(panel->showsSettings());
    EXPECT_TRUE(shows({&Layout::divider, &Layout::messages, &Layout::lyrics}));
    panel->selectTab("lyrics");
    EXPECT_FALSE(panel->tab());
    panel->selectTab("favorites");
    EXPECT_TRUE(panel->layout().summary && panel->layout().results);
    EXPECT_EQ(panel->layout().overlay, "favoritesEmpty");
    // A tab's button offers to put its own tab away and to show the others.
    QStringList helps;
    for (const QVariant& button : panel->tabButtons()) helps << button.toMap()["help"].toString();
    EXPECT_EQ(helps, (QStringList{"显示搜索", "收起播放列表", "显示歌词"}));
}

TEST_F(StatusPanelTest, ImportNeedsAnOpenLibrary) {
    std::filesystem::create_directories(dir.path() / "data");
    std::ofstream(dir.path() / "data" / "cn.quorvanel.velto.mac") << "not a folder";
    makePanel();
    panel->toggleSettings();
    panel->openOnlineImport();
    EXPECT_FALSE(panel->importPresentation());
    EXPECT_TRUE(panel->libraryRow());
    EXPECT_FALSE(panel->settingsValue()["libraryOpen"].toBool());
    EXPECT_TRUE(panel->settingsValue()["countText"].toString().isEmpty());
}

// Favourites [A, B, C, D]; B and D removed one after the other on the favourites tab.
TEST_F(StatusPanelTest, RemovedFavouritesStayInPlaceAndLeaveInTurn) {
    makePanel();
    favourites({"A", "B", "C", "D"});
    panel->selectTab("favorites");
    QSignalSpy left(&panel->songList(), &QAbstractItemModel::rowsRemoved);
    panel->toggleFavoriteRow(1);
    advance(0.5);
    panel->toggleFavoriteRow(3);
    EXPECT_EQ(keys(model->libraryTracks()), (std::vector<std::string>{"wy_A", "wy_C"}));
    EXPECT_EQ(shownKeys(), (std::vector<std::string>{"wy_A", "wy_B", "wy_C", "wy_D"}));
    EXPECT_EQ(panel->removalFeedback().at("wy_B").index, 1);
    EXPECT_EQ(panel->removalFeedback().at("wy_D").index, 3);
    EXPECT_TRUE(panel->songList().rows()[1].wasRemoved);
    EXPECT_FALSE(panel->songList().rows()[2].wasRemoved);
    EXPECT_EQ(panel->resultSummary(), "2 首歌曲");  // counts the library, not the rows
    EXPECT_EQ(left.count(), 0);  // the removed rows have not moved

    // A pending song ignores the heart; collected again elsewhere it is listed once.
    panel->toggleFavorite(song("D"));
    EXPECT_FALSE(model->isFavorite(song("D")));
    model->collect(song("D"));
    EXPECT_EQ(shownKeys(), (std::vector<std::string>{"wy_A", "wy_B", "wy_C", "wy_D"}));
    model->removeFavorite(song("D"));

    advance(0.3);  // B's 0.8 s are over; D moves to 2
    EXPECT_EQ(panel->removalFeedback().at("wy_D").index, 2);
    EXPECT_EQ(shownKeys(), (std::vector<std::string>{"wy_A", "wy_C", "wy_D"}));
    EXPECT_EQ(left.count(), 1);
    advance(0.5);
    EXPECT_EQ(shownKeys(), (std::vector<std::string>{"wy_A", "wy_C"}));

    // An entry past the end is appended; a tab change drops every entry at once.
    panel->toggleFavoriteRow(1);
    EXPECT_EQ(shownKeys(), (std::vector<std::string>{"wy_A", "wy_C"}));
    panel->selectTab("search");
    panel->selectTab("favorites");
    EXPECT_EQ(shownKeys(), std::vector<std::string>{"wy_A"});
    advance(1);
    EXPECT_TRUE(panel->removalFeedback().empty());
}

TEST_F(StatusPanelTest, HeartLeavesFeedbackOnlyForARemovalOnTheFavouritesTab) {
    makePanel();
    favourites({"A", "B"});
    model->play({song("A")}, 0);
    settle();
    panel->selectTab("lyrics");
    panel->toggleCurrentFavorite();  // removed, no feedback off the favourites tab
    EXPECT_FALSE(model->isFavorite(song("A")));
    EXPECT_TRUE(panel->removalFeedback().empty());
    panel->selectTab("favorites");
    panel->toggleCurrentFavorite();  // adding never leaves feedback
    EXPECT_TRUE(model->isFavorite(song("A")));
    EXPECT_TRUE(panel->removalFeedback().empty());

    sql("CREATE TRIGGER refused BEFORE DELETE ON playlist_items BEGIN SELECT RAISE(ABORT, 'x'); END");
    panel->toggleFavoriteRow(0);
    EXPECT_EQ(model->errorMessage(), "未能从歌单移除，请重试。");
    EXPECT_TRUE(panel->removalFeedback().empty());
    sql("DROP TRIGGER refused");

    panel->toggleCurrentFavorite();
    ASSERT_EQ(panel->removalFeedback().count("wy_A"), 1u);
    EXPECT_FALSE(panel->stripValue()["heartEnabled"].toBool());

    // The empty list's state does not outlive the row the heart brings back.
    advance(1);
    model->removeFavorite(song("B"));
    ASSERT_EQ(panel->layout().overlay, "favoritesEmpty");
    panel->toggleCurrentFavorite();
    EXPECT_EQ(shownKeys(), std::vector<std::string>{"wy_A"});
    EXPECT_EQ(panel->layout().overlay, "");
}

TEST_F(StatusPanelTest, RowsPlayTheirListOrTheFavouriteFoundByKey) {
    makePanel();
    favourites({"A", "B", "C"});
    panel->selectTab("favorites");
    panel->toggleFavoriteRow(0);  // A stays listed above B
    panel->playRow(0);            // a removed row does not play
    settle();
    EXPECT_EQ(currentID(), "");
    panel->play(song("C"), 0);  // the position is not used on this tab
    settle();
    EXPECT_EQ(currentID(), "wy_C");
    EXPECT_TRUE(panel->songList().rows()[2].current);

    // The rows take whether a result may play from the search, read on its worker: drawing
    // them reads no song record.
    Track withdrawn = song("w");
    withdrawn.payload = R"({"st":-1})";
    searchSongs("雨", {song("x"), song("y"), withdrawn});
    EXPECT_EQ(panel->resultSummary(), "3 首歌曲");
    const auto lookups = TrackPayloadCache::shared().lookups();
    const auto& list = panel->songList();
    std::vector<std::pair<bool, QString>> shown;
    for (int row = 0; row < list.count(); ++row) {
        for (int role : list.roleNames().keys()) (void)list.data(list.index(row), role);
        shown.emplace_back(list.data(list.index(row), PanelSongListModel::PlayableRole).toBool(),
                           list.data(list.index(row), PanelSongListModel::BadgeRole).toString());
    }
    EXPECT_EQ(TrackPayloadCache::shared().lookups(), lookups);
    EXPECT_EQ(shown, (std::vector<std::pair<bool, QString>>{{true, ""}, {true, ""}, {false, "已下架"}}));
    panel->playRow(1);
    settle();
    EXPECT_EQ(currentID(), "wy_y");
    EXPECT_EQ(keys(model->playback().queue().tracks()), (std::vector<std::string>{"wy_x", "wy_y"}));

    panel->selectScope("歌手");
    EXPECT_TRUE(panel->tracks().empty());  // song results exist, but not on this scope
    EXPECT_EQ(panel->resultSummary(), "0 位歌手");
}

TEST_F(StatusPanelTest, NoticeGoesThreeSecondsAfterItsLastChangeWhileShown) {
    makePanel();
    panel->setShown(true);
    model->setNotice("已加入个人歌单");
    advance(2);
    model->setNotice("已加入个人歌单");  // equal: the timer keeps running
    advance(1);
    EXPECT_FALSE(model->notice());

    model->setNotice("一");
    advance(2);
    model->setNotice("二");
    advance(2.9);
    EXPECT_EQ(model->notice(), "二");
    advance(0.1);
    EXPECT_FALSE(model->notice());

    model->setNotice("三");
    panel->messageAction("closeNotice");
    EXPECT_FALSE(model->notice());
    model->setNotice("四");
    panel->setShown(false);  // hidden: nothing runs; shown again: 3 s from then
    advance(5);
    EXPECT_EQ(model->notice(), "四");
    panel->setShown(true);
    advance(3);
    EXPECT_FALSE(model->notice());
}

TEST_F(StatusPanelTest, MessageRowsByPriority) {
    makePanel();
    resolver->failAlways("wy_1", std::make_exception_ptr(SourceError::source("这首歌暂时无法播放")));
    model->play({song("1")}, 0);
    settle();
    model->setErrorMessage("收藏未保存，请重试。");
    model->setNotice("已加入个人歌单");
    ASSERT_TRUE(panel->message());
    EXPECT_EQ(panel->message()->kind, Kind::compact);  // playback failure first
    EXPECT_EQ(panel->message()->text, "这首歌暂时无法播放");

    panel->toggleSettings();  // the settings forms come before everything
    EXPECT_EQ(panel->message()->kind, Kind::settingsError);
    panel->messageAction("closeError");
    EXPECT_EQ(panel->message()->kind, Kind::settingsNotice);
    panel->toggleSettings();
    model->setErrorMessage("无法读取资料库，请重试。原有资料仍然保留。");
    resolver->clearFailures();
    panel->messageAction("retryPlayback");
    settle();
    EXPECT_EQ(panel->message()->kind, Kind::error);
    panel->messageAction("closeNotice");  // not this row's button: nothing happens
    EXPECT_TRUE(model->notice());
    panel->messageAction("closeError");
    EXPECT_EQ(panel->message()->kind, Kind::notice);

    searchRuntime->songs["雾"] = searchtest::SearchTestRuntime::failing<SearchPage>("网络失败");
    panel->selectTab("search");
    panel->editQuery("雾", false);
    panel->submitSearch();
    settle();
    ASSERT_EQ(panel->message()->kind, Kind::compact);
    const std::string failure = panel->message()->text;
    panel->selectTab("favorites");  // a search failure shows on the search tab only
    EXPECT_EQ(panel->message()->kind, Kind::notice);
    panel->selectTab("search");
    EXPECT_EQ(panel->message()->text, failure);
    searchRuntime->songs["雾"] = [] { return SearchPage{{song("5")}, 1, 1}; };
    panel->messageAction("submitSearch");
    settle();
    EXPECT_EQ(panel->message()->kind, Kind::notice);
}

// A search that failed is never told as a search that found nothing: not while it loads, not
// under its own error row, nor when a playback failure standing takes the row. The failure
// belongs to the scope whose search failed: back on it after another scope, with the services
// meanwhile answering, it shows that failure and its retry, never another scope's; a new search
// ends it.
TEST_F(StatusPanelTest, AFailedSearchNeverReadsAsNoMatch) {
    makePanel();
    using Action = MacStatusPanel::MessageRow::Action;
    auto noMatchClaimed = [&] {
        const Layout& now = panel->layout();
        return now.overlay == "hint" || now.summary;
    };
    searchRuntime->songs["雾"] = searchtest::SearchTestRuntime::failing<SearchPage>("网络失败");
    searchRuntime->artists["雾:1"] =
        searchtest::SearchTestRuntime::failing<ArtistSearchPage>("网络失败");
    panel->selectTab("search");
    panel->editQuery("雾", false);
    panel->submitSearch();
    EXPECT_EQ(panel->layout().overlay, "loading");
    EXPECT_FALSE(panel->layout().summary) << panel->resultSummary();
    settle();
    ASSERT_EQ(panel->message()->action, Action::submitSearch);
    EXPECT_FALSE(noMatchClaimed()) << panel->layout().hintTitle;
    const std::string songsFailed = panel->message()->text;
    panel->selectScope("歌手");
    settle();
    ASSERT_TRUE(panel->message());
    EXPECT_EQ(panel->message()->text, "歌手搜索暂不可用，请重试");
    EXPECT_FALSE(noMatchClaimed()) << panel->layout().hintTitle;

    searchRuntime->songs["雾"] = [] { return SearchPage{{song("5")}, 1, 1}; };
    searchRuntime->artists["雾:1"] = [] { return ArtistSearchPage({}, 0, MusicSource::wy, 1, 20); };
    for (int trip = 0; trip < 3; ++trip) {
        panel->selectScope("歌曲");
        settle();
        ASSERT_TRUE(panel->message()) << trip;
        EXPECT_EQ(panel->message()->text, songsFailed) << trip;
        EXPECT_EQ(panel->message()->action, Action::submitSearch) << trip;
        EXPECT_FALSE(noMatchClaimed()) << trip << " " << panel->layout().hintTitle;
        panel->selectScope(trip == 0 ? "歌手" : "专辑");
        settle();
    }

    resolver->failAlways("wy_1", std::make_exception_ptr(SourceError::source("这首歌暂时无法播放")));
    model->play({song("1")}, 0);
    settle();
    ASSERT_EQ(panel->message()->action, Action::retryPlayback);
    for (const char* scope : {"歌手", "歌曲"}) {
        panel->selectScope(scope);
        settle();
        EXPECT_FALSE(noMatchClaimed()) << scope << " " << panel->layout().hintTitle;
    }

    // Searched again, and answered, the search does say what it found, empty or not.
    panel->submitSearch();
    settle();
    EXPECT_EQ(panel->resultSummary(), "1 首歌曲");
    EXPECT_TRUE(panel->layout().summary);
    panel->selectScope("歌手");
    settle();
    EXPECT_EQ(panel->layout().hintTitle, "没有找到歌手");
    EXPECT_EQ(panel->resultSummary(), "0 位歌手");
    EXPECT_TRUE(panel->layout().summary);
}

TEST_F(StatusPanelTest, MessageRowLooksByKind) {
    makePanel();
    resolver->failAlways("wy_1", std::make_exception_ptr(SourceError::source("这首歌暂时无法播放")));
    const struct {
        std::function<void()> step;
        const char* kind;
        const char* symbol;
        bool orange;
        int lines;
        const char* button;
        bool closable;
    } cases[] = {
        {[&] { model->setNotice("已加入个人歌单"); }, "notice", "", false, 1, "", true},
        {[&] { model->setErrorMessage("收藏未保存，请重试。"); }, "error", "", true, 2, "关闭", false},
        {[&] { panel->toggleSettings(); }, "settingsError", "exclamationmark.circle", true, 2, "关闭", false},
        {[&] { model->setErrorMessage(std::nullopt); }, "settingsNotice", "checkmark.circle", false, 2, "", true},
        {[&] {
             panel->toggleSettings();
             model->play({song("1")}, 0);
             settle();
         },
         "compact", "", true, 2, "重试", false},
    };
    for (const auto& c : cases) {
        c.step();
        const QVariantMap row = panel->messageValue();
        EXPECT_EQ(row["kind"].toString(), c.kind);
        EXPECT_EQ(row["symbol"].toString(), c.symbol) << c.kind;
        EXPECT_EQ(row["orange"].toBool(), c.orange) << c.kind;
        EXPECT_EQ(row["lineLimit"].toInt(), c.lines) << c.kind;
        EXPECT_EQ(row["buttonTitle"].toString(), QString::fromUtf8(c.button)) << c.kind;
        EXPECT_EQ(row["closable"].toBool(), c.closable) << c.kind;
    }
}

TEST_F(StatusPanelTest, ClosingThePopupResetsNavigationOnly) {
    makePanel();
    favourites({"A", "B"});
    searchSongs("雨", {song("x")});
    panel->openCatalog(MacCatalogDestination::playlist({}));
    panel->applyQuality(Quality::lossless);
    panel->panelDidClose();
    EXPECT_FALSE(panel->tab());
    EXPECT_TRUE(panel->catalogPath().empty());
    EXPECT_EQ(panel->qualityNotice(), "下一首歌曲将使用该音质。");
    EXPECT_EQ(panel->search().query(), "雨");
    EXPECT_TRUE(panel->search().hasSearched());
    EXPECT_EQ(panel->search().results().size(), 1u);
}

TEST_F(StatusPanelTest, QueryEditsClosePagesAndWaitForTheComposition) {
    makePanel();
    searchSongs("雨", {song("x")});
    panel->openCatalog(MacCatalogDestination::artist({}));
    panel->editQuery("雨天", true);
    EXPECT_TRUE(panel->catalogPath().empty());
    EXPECT_TRUE(panel->search().hasSearched());  // the model has not heard of it
    panel->setComposing(false);
    EXPECT_FALSE(panel->search().hasSearched());

    EXPECT_TRUE(panel->searchEnabled());
    panel->editQuery("  ", false);
    EXPECT_FALSE(panel->searchEnabled());
    panel->submitSearch();  // Return still submits: the discovery stays
    EXPECT_FALSE(panel->search().hasSearched());

    panel->pick("晴天");
    EXPECT_EQ(panel->search().query(), "晴天");
    EXPECT_TRUE(panel->search().hasSearched());
    panel->clearHistory();
    EXPECT_TRUE(panel->search().history().empty());
    EXPECT_FALSE(defaults->contains("velto.search.history"));
}

TEST_F(StatusPanelTest, ArtistMetaLeavesOutMissingAndEmptyCounts) {
    struct Case {
        MusicSource source;
        std::optional<std::int64_t> songs, albums;
        std::string meta;
    } cases[] = {{MusicSource::wy, 50, 8, "网易云 · 50 首 · 8 张专辑"},
                 {MusicSource::wy, {}, {}, "网易云"},
                 {MusicSource::kg, 0, {}, "酷狗"},
                 {MusicSource::local, -2, 3, "本地 · 3 张专辑"}};
    for (const auto& c : cases)
        EXPECT_EQ(MacStatusPanel::artistMeta({"1", c.source, "n", {}, c.songs, c.albums}), c.meta);
}

TEST_F(StatusPanelTest, OnlyTheLatestQualityPickWritesTheNotice) {
    makePanel();
    model->play({song("1")}, 0);
    settle();
    panel->applyQuality(Quality::master);
    EXPECT_EQ(panel->qualityNotice(), "已使用该音质设置。");
    panel->applyQuality(Quality::lossless);
    panel->applyQuality(Quality::high);
    settle();
    EXPECT_EQ(panel->qualityNotice(), "已按新音质重新加载当前歌曲。");
    EXPECT_EQ(model->playback().preferredQuality(), Quality::high);

    // The same pick again answers at once; the earlier one's failure comes last and is dropped.
    resolver->failOnce("wy_1", std::make_exception_ptr(SourceError::source("切换失败")));
    panel->applyQuality(Quality::lossless);
    panel->applyQuality(Quality::lossless);
    EXPECT_EQ(panel->qualityNotice(), "已使用该音质设置。");
    settle();
    EXPECT_EQ(panel->qualityNotice(), "已使用该音质设置。");
}

TEST_F(StatusPanelTest, RatesShowTheirValueAndAForeignRateItsOwnLabel) {
    makePanel();
    EXPECT_EQ(MacStatusPanel::rateLabels(),
              (QStringList{"0.75x", "1x", "1.25x", "1.5x", "2x"}));
    panel->setRateAt(2);
    EXPECT_FLOAT_EQ(model->playback().playbackRate(), 1.25f);
    EXPECT_EQ(panel->settingsValue()["rateIndex"].toInt(), 2);
    model->playback().setPlaybackRate(1.1f);
    EXPECT_EQ(panel->settingsValue()["rateIndex"].toInt(), -1);
    EXPECT_EQ(panel->settingsValue()["rateLabel"].toString(), "1.1x");

    panel->startSleepTimerAt(0);
    EXPECT_EQ(panel->settingsValue()["sleepTitle"].toString(), "剩 15 分 00 秒");
    panel->stopSleepTimer();
    EXPECT_EQ(panel->settingsValue()["sleepTitle"].toString(), "关闭");
}

TEST_F(StatusPanelTest, SleepMenuMinutesPauseAtTheirDeadline) {
    player.openItemsAutomatically(true, 24 * 3600);
    makePanel();
    model->play({song("1"), song("2")}, 0);
    settle();
    const int minutes[] = {15, 30, 60, 90};
    ASSERT_EQ(MacStatusPanel::sleepLabels().size(), 4);
    for (int index = 0; index < 4; ++index) {
        EXPECT_EQ(MacStatusPanel::sleepLabels()[index], QString::number(minutes[index]) + " 分钟");
        if (model->playback().state().kind != PlaybackService::StateKind::playing) model->playback().togglePlayback();
        settle();
        panel->startSleepTimerAt(index);
        advance(minutes[index] * 60 - 1);
        settle();
        EXPECT_EQ(model->playback().state().kind, PlaybackService::StateKind::playing) << minutes[index];
        advance(1);
        settle();
        // Paused, not stopped: the queue and the song stay.
        EXPECT_EQ(model->playback().state().kind, PlaybackService::StateKind::paused) << minutes[index];
        EXPECT_EQ(currentID(), "wy_1");
        EXPECT_FALSE(model->sleepTimer().isActive());
    }
    // The timer's own default action pauses too.
    model->playback().togglePlayback();
    settle();
    model->sleepTimer().startMinutes(1);
    advance(60);
    settle();
    EXPECT_EQ(model->playback().state().kind, PlaybackService::StateKind::paused);
}

// Open, the panel ticks the clock only for what it shows changing: its elapsed text's seconds,
// the knob's pixels (three seconds each here) and, on the lyrics page, the lines, each shown at
// most the fine interval late. Closed, the clock waits for the save of the place.
TEST_F(StatusPanelTest, TheOpenPanelTicksTheClockForWhatItShowsChanging) {
    makePanel();
    model->play({song("B")}, 0);
    settle();
    PlaybackService& playback = model->playback();
    auto& seek = *qobject_cast<MacSeekSliderModel*>(panel->seekObject());
    auto& lyrics = *qobject_cast<MacLyricsModel*>(panel->lyricsObject());
    const std::vector<double> lines{3.45, 5.3, 7.95, 8.1};
    std::vector<LyricLine> document;
    for (double time : lines) document.push_back({std::to_string(time), time, "line"});
    lyrics.setDocument(LyricsDocument(document, {}));
    seek.setPixels(80);

    int ticks = 0;
    QString text;
    double knob = 0;
    int line = -1;
    const double late = 0.2 + 0.01 + 1e-9;  // the fine interval and the clock's leeway
    QObject::connect(&playback, &PlaybackService::elapsedChanged, [&] {
        ++ticks;
        if (!panel->shown()) return;
        const double at = playback.elapsed();
        const bool textMoved = std::exchange(text, panel->elapsedText()) != text;
        const bool knobMoved = std::exchange(knob, seek.position()) != knob;
        const bool lineMoved = std::exchange(line, lyrics.currentIndexValue()) != line;
        EXPECT_TRUE(textMoved || knobMoved || lineMoved) << at;
        if (textMoved) {
            EXPECT_LE(at - std::floor(at), late) << at;
        }
        if (lineMoved) {
            EXPECT_LE(at - lines[size_t(line)], late) << at;
        }
    });
    advance(3);
    EXPECT_EQ(ticks, 0);  // closed: nothing shows the time, and the place is not yet due a save
    panel->setShown(true);
    panel->selectTab("lyrics");
    text = panel->elapsedText();
    knob = seek.position();
    line = lyrics.currentIndexValue();
    ticks = 0;
    advance(7.25);
    EXPECT_EQ(panel->elapsedText(), "0:10");
    EXPECT_EQ(lyrics.currentIndexValue(), 3);
    EXPECT_LE(ticks, 7 + 3);  // the last two lines come together
}

TEST_F(StatusPanelTest, ElapsedTicksLeaveTheSongRowsAlone) {
    makePanel();
    favourites({"A", "B", "C"});
    panel->selectTab("favorites");
    model->play({song("B")}, 0);
    settle();
    QSignalSpy times(panel.get(), &MacStatusPanel::timesChanged);
    for (int i = 0; i < 10; ++i) advance(0.2);
    EXPECT_EQ(times.count(), 0);  // closed: the times stand still until it shows
    panel->setShown(true);
    EXPECT_EQ(panel->elapsedText(), "0:02");
    QSignalSpy changed(&panel->songList(), &QAbstractItemModel::dataChanged);
    QSignalSpy reset(&panel->songList(), &QAbstractItemModel::modelReset);
    for (int i = 0; i < 10; ++i) advance(0.2);
    EXPECT_GT(times.count(), 1);
    EXPECT_EQ(changed.count() + reset.count(), 0);
}

}  // namespace
}  // namespace velto::paneltest
