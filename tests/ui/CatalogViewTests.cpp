#include <gtest/gtest.h>

#include <QQuickItem>
#include <QSignalSpy>
#include <QTest>
#include <optional>

#include "CatalogTestSupport.h"
#include "FakeArtworkLoader.h"
#include "ImportSheetTestSupport.h"
#include "ViewHarness.h"
#include "ui/style/Theme.h"

namespace velto {
namespace {

using catalog::CatalogHarness;

void click(QQuickItem* item) {
    QTest::mouseClick(item->window(), Qt::LeftButton, {},
                      item->mapToScene(QPointF(item->width() / 2, item->height() / 2)).toPoint());
}

// Every page of the catalog frame and every state of the import sheet, loaded offscreen and
// rendered; any QML warning fails.
class CatalogViews : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(ViewHarness::fontsAvailable());
        auto& s = h.runtime->scripted;
        s.onPopular = [](const ArtistSummary&) {
            return std::vector<Track>{song("1", "晚风写给旧站台"), song("2", "青石巷的第七盏灯"), song("3", "海盐与薄荷")};
        };
        s.onArtistAlbums = [](const ArtistSummary&, int) {
            AlbumSummary long_ = album("c", "2022-11-02");
            long_.name = "一张名字很长很长的专辑，长到要折成两行之后再被截断";
            return AlbumPage{{album("a", "2024-03-01"), album("b"), long_}, 3, MusicSource::wy};
        };
        s.onAlbumTracks = [](const AlbumSummary& a) {
            AlbumSummary full = a;
            full.trackCount = 2;
            return AlbumDetail{full, {song("5", "雾里的钟声"), song("6", "潮汐计划")}};
        };
    }
    void TearDown() override {
        EXPECT_TRUE(harness.warnings.isEmpty()) << harness.warnings.join("\n").toStdString();
    }
    // Inside the panel's margins, as the panel lays it out.
    QQuickItem* loadFrame(const MacCatalogDestination& destination) {
        QQuickItem* frame = harness.load("MacPanelCatalogView",
                                         {{"model", QVariant::fromValue<QObject*>(&h.services)},
                                          {"destination", QVariant::fromValue(destination)}},
                                         {380, 420});
        if (frame) {
            frame->setPosition({16, 16});
            frame->setSize({348, 388});
        }
        return frame;
    }
    void settle() {
        h.tasks.settle();
        harness.settle();
    }
    void expectRendered(const QString& name) {
        EXPECT_FALSE(ViewHarness::isSingleColour(harness.render(name))) << name.toStdString();
    }
    bool shown(const char* objectName) {
        QQuickItem* found = harness.find(QString::fromUtf8(objectName));
        return found && found->isVisible();
    }
    QQuickItem* item(const char* objectName) {
        QQuickItem* found = harness.find(QString::fromUtf8(objectName));
        EXPECT_TRUE(found) << objectName;
        return found;
    }

    CatalogHarness h;
    std::unique_ptr<importsheet::ImportSheetHarness> sheetHarness;
    ViewHarness harness;
};

TEST_F(CatalogViews, ArtistPageTabsAndNavigation) {
    QQuickItem* frame = loadFrame(MacCatalogDestination::artist(catalog::artistSummary()));
    ASSERT_TRUE(frame);
    EXPECT_TRUE(shown("catalogBusy"));
    expectRendered("catalog-artist-loading");
    settle();
    EXPECT_TRUE(item("catalogPagePlay")->isEnabled());
    expectRendered("catalog-artist-popular");

    click(item("artistTab2"));
    settle();
    EXPECT_TRUE(shown("albumGrid"));
    expectRendered("catalog-artist-albums");
    // A card's ring goes round its picture and lines, clear of their first characters.
    for (const char* card : {"albumCard0", "albumCard1"}) {
        item(card)->forceActiveFocus(Qt::TabFocusReason);
        harness.grab();
        EXPECT_EQ(ViewHarness::linesOutsideItsRing(item(card)).join(" | ").toStdString(), "") << card;
    }
    QSignalSpy pushed(frame, SIGNAL(push(QVariant,QVariant)));
    click(item("albumCard0"));
    ASSERT_EQ(pushed.count(), 1);

    h.runtime->scripted.onArtistAlbums = [](const ArtistSummary&, int) -> AlbumPage {
        throw SourceError::source("网络失败");
    };
    click(item("artistTab1"));
    settle();
    EXPECT_TRUE(shown("catalogError"));
    EXPECT_TRUE(shown("catalogEmpty"));
    expectRendered("catalog-artist-latest-error");

    QSignalSpy back(frame, SIGNAL(back()));
    click(item("catalogBack"));
    EXPECT_EQ(back.count(), 1);
}

TEST_F(CatalogViews, FrameMakesANewPageForEveryPlace) {
    QQuickItem* frame = loadFrame(MacCatalogDestination::artist(catalog::artistSummary()));
    ASSERT_TRUE(frame);
    settle();
    frame->setProperty("destination", QVariant::fromValue(MacCatalogDestination::album(album("a", "2024-03-01"))));
    harness.settle();
    EXPECT_TRUE(shown("albumPage"));
    EXPECT_FALSE(harness.find("artistPage"));
    expectRendered("catalog-album-loading");
    settle();
    expectRendered("catalog-album");

    // Back to the artist: a new model that loads again.
    frame->setProperty("destination", QVariant::fromValue(MacCatalogDestination::artist(catalog::artistSummary())));
    harness.settle();
    settle();
    EXPECT_EQ(h.runtime->scripted.count("popular"), 2u);

    h.runtime->scripted.onAlbumTracks = [](const AlbumSummary&) -> AlbumDetail { throw SourceError::source("专辑暂不可用"); };
    AlbumSummary bare = album("z");
    bare.artist = "无名";
    frame->setProperty("destination", QVariant::fromValue(MacCatalogDestination::album(bare)));
    settle();
    EXPECT_TRUE(shown("catalogError"));
    EXPECT_FALSE(item("catalogPagePlay")->isEnabled());
    expectRendered("catalog-album-error");
}

// The catalog pages' controls are the panel's own small ones, in either palette: the artist
// page's tab picker is the segmented control of the search scopes, whose chosen segment stands
// out from its track as drawn, and the play buttons are no taller than it.
TEST_F(CatalogViews, PagesUseThePanelsSmallControls) {
    h.runtime->onPlaylistDetail = [](const std::string&, int) {
        return catalog::playlistPage({song("1", "晚风写给旧站台")}, 1, 1, 1);
    };
    for (const bool dark : {false, true}) {
        std::optional<ViewHarness::DarkScheme> scheme;
        if (dark) scheme.emplace();
        const QString suffix = dark ? "-dark" : "";
        QQuickItem* frame = loadFrame(MacCatalogDestination::artist(catalog::artistSummary()));
        ASSERT_TRUE(frame);
        settle();
        QQuickItem* picker = item("artistTabs");
        ASSERT_TRUE(picker);
        EXPECT_EQ(picker->height(), 24) << dark;
        EXPECT_EQ(picker->width(), 348) << dark;
        QImage drawn = harness.render("catalog-artist-popular" + suffix);
        const QColor chosen = ViewHarness::seenAt(drawn, item("artistTab0"), {4, 12});
        const QColor track = ViewHarness::seenAt(drawn, item("artistTab1"), {4, 12});
        EXPECT_GE(Theme::contrast(chosen, track), 3.0) << dark;
        const auto small = [&](const char* name) {
            QQuickItem* button = item(name);
            return button && button->height() <= picker->height() &&
                   button->mapRectToScene({0, 0, button->width(), button->height()}).right() <= 364;
        };
        EXPECT_TRUE(small("catalogPagePlay")) << dark;
        frame->setProperty("destination", QVariant::fromValue(MacCatalogDestination::album(album("a", "2024-03-01"))));
        settle();
        EXPECT_TRUE(small("catalogPagePlay")) << dark;
        harness.render("catalog-album" + suffix);
        frame->setProperty("destination", QVariant::fromValue(MacCatalogDestination::playlist(catalog::playlistSummary())));
        settle();
        EXPECT_TRUE(small("catalogPagePlay")) << dark;
        harness.render("catalog-playlist" + suffix);
    }
}

TEST_F(CatalogViews, PlaylistPageStates) {
    h.runtime->onPlaylistDetail = [](const std::string&, int) {
        return catalog::playlistPage({song("1", "晚风写给旧站台"), song("2", "青石巷的第七盏灯")}, 1, 1000, 2);
    };
    QQuickItem* frame = loadFrame(MacCatalogDestination::playlist(catalog::playlistSummary()));
    ASSERT_TRUE(frame);
    EXPECT_TRUE(shown("catalogBusy"));
    expectRendered("catalog-playlist-loading");
    settle();
    EXPECT_FALSE(shown("playlistLoadMore"));
    expectRendered("catalog-playlist");
    // Shown again: the page asks for the page after the last one.
    frame->setVisible(false);
    frame->setVisible(true);
    settle();
    EXPECT_EQ(h.runtime->pagesAsked(), (std::vector<int>{1, 2}));

    h.runtime->onPlaylistDetail = [](const std::string&, int) -> PlaylistDetail { throw SourceError::source("网络失败"); };
    ASSERT_TRUE(loadFrame(MacCatalogDestination::playlist(catalog::playlistSummary())));
    settle();
    EXPECT_TRUE(shown("catalogError"));
    EXPECT_TRUE(shown("catalogEmpty"));
    expectRendered("catalog-playlist-error");
}

TEST_F(CatalogViews, ImportSheetStates) {
    sheetHarness = std::make_unique<importsheet::ImportSheetHarness>();
    auto& sheet = *sheetHarness;
    sheet.store->collect(song("2"));
    FakeArtworkLoader artwork;
    const auto load = [&] {
        return harness.load("OnlinePlaylistImportView", {{"sheet", QVariant::fromValue<QObject*>(sheet.sheet.get())}},
                            {380, 560});
    };
    ASSERT_TRUE(load());
    EXPECT_TRUE(shown("online-playlist-import-instructions"));
    EXPECT_FALSE(shown("online-playlist-import-clear"));
    EXPECT_FALSE(item("online-playlist-import-read")->isEnabled());
    expectRendered("import-idle");

    // Return in the link field reads what was typed.
    sheet.importer->onPreview = [](const std::string&) -> OnlinePlaylistPreview {
        throw OnlinePlaylistImportError(OnlinePlaylistImportError::Kind::notPlaylistLink);
    };
    item("online-playlist-import-input")->forceActiveFocus();
    for (char c : std::string("3001")) QTest::keyClick(item("online-playlist-import-input")->window(), c);
    EXPECT_TRUE(shown("online-playlist-import-clear"));
    QTest::keyClick(item("online-playlist-import-input")->window(), Qt::Key_Return);
    harness.settle();
    EXPECT_EQ(sheet.sheet->input(), "3001");
    EXPECT_TRUE(shown("online-playlist-import-loading"));
    EXPECT_TRUE(shown("online-playlist-import-cancel"));
    expectRendered("import-loading");
    sheet.tasks.settle();
    harness.settle();
    EXPECT_TRUE(shown("online-playlist-import-error"));
    expectRendered("import-failed");

    // Read from the keyboard: as the field goes, the import button takes the focus and its keys.
    sheet.importer->onPreview = [](const std::string&) { return importsheet::previewOf(23, 2); };
    QQuickWindow* window = item("online-playlist-import-input")->window();
    item("online-playlist-import-input")->forceActiveFocus(Qt::TabFocusReason);
    QTest::keyClick(window, Qt::Key_Return);
    sheet.tasks.settle();
    harness.settle();
    EXPECT_TRUE(shown("online-playlist-import-preview"));
    EXPECT_EQ(window->activeFocusItem()->objectName().toStdString(), "online-playlist-import-confirm");
    EXPECT_TRUE(shown("online-playlist-import-incomplete"));
    EXPECT_TRUE(shown("online-playlist-import-remainder"));
    EXPECT_TRUE(shown("online-playlist-import-row19"));
    EXPECT_FALSE(harness.find("online-playlist-import-row20"));
    expectRendered("import-loaded");

    sheet.sql("CREATE TRIGGER refuse BEFORE INSERT ON playlist_items BEGIN SELECT RAISE(ABORT, 'full'); END");
    click(item("online-playlist-import-confirm"));
    harness.settle();
    EXPECT_TRUE(shown("online-playlist-import-save-error"));
    // Below the rows, yet brought into the scroll area's view once laid out.
    harness.grab();
    harness.settle();
    QQuickItem* notice = item("online-playlist-import-save-error");
    QQuickItem* scroll = item("online-playlist-import-scroll");
    EXPECT_TRUE(scroll->mapRectToScene({0, 0, scroll->width(), scroll->height()})
                    .contains(notice->mapRectToScene({0, 0, notice->width(), notice->height()})));
    expectRendered("import-save-error");
    sheet.sql("DROP TRIGGER refuse");
    click(item("online-playlist-import-confirm"));
    harness.settle();
    EXPECT_TRUE(shown("online-playlist-import-success"));
    EXPECT_FALSE(shown("online-playlist-import-save-error"));
    EXPECT_EQ(item("online-playlist-import-inserted")->property("text"), "22");
    expectRendered("import-imported");
    click(item("online-playlist-import-done"));
    EXPECT_EQ(sheet.closed, 1);

    sheet.importer->onPreview = [](const std::string&) { return importsheet::previewOf(0); };
    click(item("online-playlist-import-close"));
    EXPECT_EQ(sheet.closed, 2);
    sheet.sheet->change();
    sheet.sheet->startReading();
    sheet.tasks.settle();
    harness.settle();
    EXPECT_TRUE(shown("online-playlist-import-empty"));
    EXPECT_TRUE(shown("online-playlist-import-replace"));
    expectRendered("import-loaded-empty");
}

}  // namespace
}  // namespace velto
