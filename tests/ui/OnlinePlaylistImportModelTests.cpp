#include <gtest/gtest.h>

#include <QSignalSpy>

#include "ImportSheetTestSupport.h"
#include "library/online/OnlinePlaylistImportError.h"

namespace velto::importsheet {
namespace {

using State = OnlinePlaylistImportModel::State;

QString footerTitle(const OnlinePlaylistImportModel& sheet) { return sheet.footerValue()["title"].toString(); }
bool footerEnabled(const OnlinePlaylistImportModel& sheet) { return sheet.footerValue()["enabled"].toBool(); }

TEST(ImportSheet, BlankInputStartsNothingAndTypedInputGoesOutAsTyped) {
    ImportSheetHarness h;
    h.importer->onPreview = [](const std::string&) { return previewOf(2); };
    for (const char* blank : {"", "   ", " \n\t "}) {
        h.sheet->setInput(QString::fromUtf8(blank));
        h.sheet->startReading();
        EXPECT_EQ(h.sheet->state(), State::idle) << blank;
        EXPECT_FALSE(footerEnabled(*h.sheet)) << blank;
        EXPECT_EQ(h.sheet->clearVisible(), *blank != '\0');
    }
    h.sheet->setInput(" https://music.example/playlist?id=3001 \n");
    EXPECT_EQ(footerTitle(*h.sheet), "读取歌单");
    h.sheet->startReading();
    const auto first = h.sheet->requestID();
    h.sheet->startReading();  // a second submit while reading is ignored
    EXPECT_EQ(h.sheet->requestID(), first);
    EXPECT_EQ(h.sheet->state(), State::loading);
    EXPECT_EQ(footerTitle(*h.sheet), "取消读取");
    h.tasks.settle();
    EXPECT_EQ(h.importer->inputs(), std::vector<std::string>{" https://music.example/playlist?id=3001 \n"});
    EXPECT_EQ(h.sheet->state(), State::loaded);

    h.sheet->change();  // reads again with a fresh request id
    h.sheet->startReading();
    EXPECT_NE(h.sheet->requestID(), first);
}

TEST(ImportSheet, ExistingSongsComeOnlyFromVisiblePlaylists) {
    ImportSheetHarness h;
    h.store->collect(song("1"));
    h.store->recordRecent(song("2"));
    Playlist archived = h.store->createPlaylist("旧歌单", {});
    h.store->add(song("3"), archived, std::nullopt);
    h.sql("UPDATE playlists SET is_archived = 1 WHERE id = '" + archived.id + "'");
    Playlist other = h.store->createPlaylist("跑步", {});
    h.store->add(song("4"), other, std::nullopt);

    h.importer->onPreview = [](const std::string&) { return previewOf(5); };
    h.sheet->setInput("3001");
    h.sheet->startReading();
    h.tasks.settle();
    EXPECT_EQ(h.sheet->existingIDs(), (std::unordered_set<std::string>{"wy_1", "wy_4"}));
    EXPECT_EQ(h.sheet->existingCount(*h.sheet->loadedPreview()), 2);
    const QVariantMap preview = h.sheet->previewValue();
    EXPECT_EQ(preview["collectText"], "可新增 3 首 · 已收藏 2 首");
    const QVariantList rows = preview["rows"].toList();
    EXPECT_TRUE(rows[0].toMap()["existing"].toBool());
    EXPECT_FALSE(rows[1].toMap()["existing"].toBool());
}

TEST(ImportSheet, StaleAndFailedReadings) {
    ImportSheetHarness h;
    h.importer->onPreview = [](const std::string&) -> OnlinePlaylistPreview {
        throw OnlinePlaylistImportError(OnlinePlaylistImportError::Kind::unavailable);
    };
    h.sheet->setInput("3001");
    h.sheet->startReading();
    h.sheet->setInput("30012");  // typing during the reading drops it
    EXPECT_EQ(h.sheet->state(), State::idle);
    EXPECT_FALSE(h.sheet->requestID());
    h.tasks.settle();
    EXPECT_EQ(h.sheet->state(), State::idle);

    // A failure read before a reset but delivered after it changes nothing either.
    h.sheet->startReading();
    ASSERT_TRUE(h.tasks.jobs.runOne());
    h.sheet->setInput("3001");
    h.tasks.settle();
    EXPECT_EQ(h.sheet->state(), State::idle);
    EXPECT_TRUE(h.sheet->failureMessage().isEmpty());

    h.sheet->startReading();
    h.tasks.settle();
    EXPECT_EQ(h.sheet->state(), State::failed);
    EXPECT_EQ(h.sheet->failureMessage().toStdString(),
              OnlinePlaylistImportError::description(OnlinePlaylistImportError::Kind::unavailable));
    EXPECT_EQ(footerTitle(*h.sheet), "重新读取");

    // A store that cannot list its playlists after a good preview fails the reading too.
    h.importer->onPreview = [](const std::string&) { return previewOf(1); };
    h.store->collect(song("9"));
    h.sql("DROP TABLE playlist_items");
    h.sheet->startReading();
    h.tasks.settle();
    EXPECT_EQ(h.sheet->state(), State::failed);
    EXPECT_FALSE(h.sheet->loadedPreview());
}

TEST(ImportSheet, PreviewRowsNoticesAndButtons) {
    struct Case { int songs, missing, duplicates; int rows; const char* remainder; const char* button; };
    const Case cases[] = {
        {20, 0, 0, 20, "", "导入歌单"},
        {21, 0, 1, 20, "另有 1 首歌曲，将按原歌单顺序一并导入。", "导入歌单"},
        {21, 2, 0, 20, "另有 1 首歌曲，将按原歌单顺序一并导入。", "导入已读取的 21 首"},
        {0, 0, 0, 0, "", "更换歌单"},
    };
    for (const auto& c : cases) {
        ImportSheetHarness h;
        h.importer->onPreview = [c](const std::string&) {
            auto preview = previewOf(c.songs, c.missing);
            preview.duplicateTrackCount = c.duplicates;
            return preview;
        };
        h.sheet->setInput("3001");
        h.sheet->startReading();
        h.tasks.settle();
        const QVariantMap preview = h.sheet->previewValue();
        EXPECT_EQ(preview["rows"].toList().size(), c.rows) << c.songs;
        EXPECT_EQ(preview["remainderText"], QString::fromUtf8(c.remainder)) << c.songs;
        EXPECT_EQ(preview["incomplete"].toBool(), c.missing > 0);
        EXPECT_EQ(preview["duplicateText"].toString().isEmpty(), c.duplicates == 0);
        EXPECT_EQ(preview["isEmpty"].toBool(), c.songs == 0);
        EXPECT_EQ(footerTitle(*h.sheet), QString::fromUtf8(c.button)) << c.songs;
    }
}

TEST(ImportSheet, AFailedSaveKeepsThePreviewAndALaterOneClearsItsError) {
    ImportSheetHarness h;
    h.store->collect(song("2"));
    h.importer->onPreview = [](const std::string&) { return previewOf(3); };
    h.sheet->setInput("3001");
    h.sheet->startReading();
    h.tasks.settle();

    h.sql("CREATE TRIGGER refuse BEFORE INSERT ON playlist_items BEGIN SELECT RAISE(ABORT, 'full'); END");
    h.sheet->pressPrimary();  // Return: the import button
    EXPECT_EQ(h.sheet->state(), State::loaded);
    EXPECT_TRUE(h.sheet->saveError());
    EXPECT_EQ(h.imported, 0);

    h.sql("DROP TRIGGER refuse");
    h.sheet->save();
    EXPECT_EQ(h.sheet->state(), State::imported);
    EXPECT_FALSE(h.sheet->saveError());
    EXPECT_EQ(h.imported, 1);
    const QVariantMap result = h.sheet->resultValue();
    EXPECT_EQ(result["inserted"], "2");
    EXPECT_EQ(result["skipped"], "1");
    EXPECT_EQ(result["totalText"], "个人歌单现有 3 首歌曲。");
    EXPECT_EQ(footerTitle(*h.sheet), "完成");
    h.sheet->pressPrimary();
    EXPECT_EQ(h.closed, 1);
}

TEST(ImportSheet, CloseChangeAndClear) {
    ImportSheetHarness withoutClose(false);
    QSignalSpy dismissed(withoutClose.sheet.get(), &OnlinePlaylistImportModel::dismissRequested);
    withoutClose.sheet->close();
    EXPECT_EQ(dismissed.count(), 1);

    ImportSheetHarness h;
    QSignalSpy hostDismissed(h.sheet.get(), &OnlinePlaylistImportModel::dismissRequested);
    QSignalSpy focus(h.sheet.get(), &OnlinePlaylistImportModel::focusRequested);
    h.sheet->close();
    EXPECT_EQ(h.closed, 1);
    EXPECT_EQ(hostDismissed.count(), 0);

    h.importer->onPreview = [](const std::string&) { return previewOf(0); };
    h.sheet->setInput("3001");
    h.sheet->setInputFocused(true);
    h.sheet->startReading();
    EXPECT_FALSE(h.sheet->inputFocused());
    h.tasks.settle();
    h.sheet->pressPrimary();  // nothing to import: "更换歌单"
    EXPECT_EQ(h.sheet->state(), State::idle);
    EXPECT_EQ(h.sheet->input(), "3001");
    EXPECT_TRUE(h.sheet->inputFocused());
    h.sheet->clearInput();
    EXPECT_EQ(h.sheet->input(), "");
    EXPECT_EQ(focus.count(), 2);
}

}  // namespace
}  // namespace velto::importsheet
