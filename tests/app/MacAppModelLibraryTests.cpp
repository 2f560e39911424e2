#include <QSignalSpy>
#include <fstream>

#include "AppModelFixture.h"
#include "library/store/LibraryStore.h"
#include "library/exchange/StoreRecoveryArchive.h"
#include "playback/PersistedSession.h"
#include "support/WavFile.h"

namespace velto {
namespace {

std::vector<std::string> keys(const std::vector<Track>& tracks) {
    std::vector<std::string> out;
    for (const auto& t : tracks) out.push_back(t.musicID());
    return out;
}

TEST_F(AppModelTest, LibraryThatFailsToOpenCanBeRetried) {
    const auto folder = dir.path() / "data" / "cn.quorvanel.velto.mac";
    std::filesystem::create_directories(folder.parent_path());
    std::ofstream(folder) << "not a folder";
    make();
    EXPECT_TRUE(model->libraryFailed());
    EXPECT_FALSE(model->library());
    EXPECT_FALSE(model->errorMessage());
    model->collect(song("1"));  // nothing to write into
    EXPECT_FALSE(model->notice());

    std::filesystem::remove(folder);
    QSignalSpy opened(model.get(), &MacAppModel::libraryChanged);
    model->retryLibrary();
    ASSERT_TRUE(model->library());
    EXPECT_FALSE(model->libraryFailed());
    EXPECT_EQ(opened.count(), 1);
    const auto store = model->library();
    model->retryLibrary();
    EXPECT_EQ(model->library(), store);
    EXPECT_EQ(opened.count(), 1);
}

TEST_F(AppModelTest, CollectingAndRemovingKeepStoreListAndNoticesInStep) {
    make();
    model->collect(song("1"));
    EXPECT_EQ(model->notice(), "已加入个人歌单");
    model->collect(song("2"));
    model->collect(song("1"));
    EXPECT_EQ(model->notice(), "这首歌已在个人歌单中");
    EXPECT_EQ(keys(model->libraryTracks()), (std::vector<std::string>{"wy_1", "wy_2"}));
    EXPECT_TRUE(model->isFavorite(song("2", "别的标题")));
    EXPECT_FALSE(model->isFavorite(song("3")));

    model->removeFavorite(song("3"));  // not a favourite: silent
    EXPECT_EQ(model->notice(), "这首歌已在个人歌单中");
    model->removeFavorite(song("1", "雨巷"));
    EXPECT_EQ(model->notice(), "已将「雨巷」移出歌单");
    EXPECT_EQ(keys(model->libraryTracks()), std::vector<std::string>{"wy_2"});

    model->collect(song("3"));
    sql("UPDATE track_records SET source = 'zz' WHERE music_id = 'wy_3'");
    model->reloadLibrary();
    EXPECT_EQ(keys(model->libraryTracks()), std::vector<std::string>{"wy_2"});
    EXPECT_EQ(model->notice(), "已加入个人歌单");
    EXPECT_FALSE(model->errorMessage());

    sql("CREATE TRIGGER injected BEFORE INSERT ON playlist_items BEGIN SELECT RAISE(ABORT, 'x'); END");
    model->collect(song("4"));
    EXPECT_EQ(model->errorMessage(), "收藏未保存，请重试。");
    EXPECT_EQ(keys(model->libraryTracks()), std::vector<std::string>{"wy_2"});
}

TEST_F(AppModelTest, FavouritesQueueFollowsCollectAndRemoveOnlyWhileTied) {
    make();
    model->playFavorites(0, {});  // empty favourites: out of range
    model->collect(song("1"));
    model->collect(song("2"));
    model->playFavorites(2, {});
    settle();
    EXPECT_EQ(currentID(), "");

    model->playFavorites(1, {});
    settle();
    EXPECT_EQ(currentID(), "wy_2");
    EXPECT_EQ(model->playback().activePlaylistID(), model->library()->ensurePersonalPlaylist().id);
    model->collect(song("3"));
    model->removeFavorite(song("1"));
    EXPECT_EQ(keys(model->playback().queue().tracks()), (std::vector<std::string>{"wy_2", "wy_3"}));

    model->play({song("7"), song("8")}, 0);
    settle();
    EXPECT_FALSE(model->playback().activePlaylistID());
    model->collect(song("9"));
    EXPECT_EQ(keys(model->playback().queue().tracks()), (std::vector<std::string>{"wy_7", "wy_8"}));
}

TEST_F(AppModelTest, SongIsRecordedOnceItPlaysAndAgainAfterAFailedWrite) {
    make();
    model->play({song("1")}, 0);
    mainQueue.runPending();
    EXPECT_EQ(model->playback().state().kind, PlaybackService::StateKind::loading);
    EXPECT_TRUE(model->recentTracks().empty());
    settle();
    EXPECT_EQ(keys(model->recentTracks()), std::vector<std::string>{"wy_1"});

    sql("CREATE TRIGGER injected BEFORE INSERT ON playlist_items BEGIN SELECT RAISE(ABORT, 'x'); END");
    model->play({song("2")}, 0);
    settle();
    EXPECT_EQ(model->errorMessage(), "最近播放未能保存，播放仍可继续。");
    EXPECT_EQ(model->playback().state().kind, PlaybackService::StateKind::playing);
    sql("DROP TRIGGER injected");
    model->playback().pause();
    model->playback().togglePlayback();
    settle();
    EXPECT_EQ(keys(model->recentTracks()), (std::vector<std::string>{"wy_2", "wy_1"}));
}

// A local song stored with a length too short (read by its first frame) keeps the longer one
// heard when it plays to its end: its list shows it, and so does its next play.
TEST_F(AppModelTest, ALocalSongKeepsTheLongerLengthHeard) {
    make();
    Track local = song("1");
    local.source = MusicSource::local;
    local.songmid = (dir.path() / "vbr.mp3").string();
    local.interval = "0:05";
    model->collect(local);
    settle();
    ASSERT_EQ(model->libraryTracks().size(), 1u);
    EXPECT_EQ(model->libraryTracks()[0].durationSeconds(), 5);

    player.openItemsAutomatically(true, 30.2);
    model->playFavorites(0, {});
    settle();
    EXPECT_EQ(model->playback().duration(), 30.2);
    player.finishCurrentItem();
    settle();
    ASSERT_EQ(model->libraryTracks().size(), 1u);
    EXPECT_EQ(model->libraryTracks()[0].durationSeconds(), 30);
    model->playFavorites(0, {});
    settle();
    EXPECT_EQ(model->playback().queue().current()->durationSeconds(), 30);
}

TEST_F(AppModelTest, RestoredSongLoadsOnceAndIsRecordedOnlyWhenPlayed) {
    defaults->setData("velto.playback.session",
                      PersistedSession{song("5"), 30, mainQueue.wallNow()}.encode());
    runtime->onLyric = [](const Track&) { return lrc("词"); };
    make();
    model->start();
    model->start();
    mainQueue.runPending();
    EXPECT_EQ(model->playback().state().kind, PlaybackService::StateKind::loading);
    EXPECT_EQ(model->playbackActionTitle(), "播放");
    settle();
    EXPECT_EQ(currentID(), "wy_5");
    EXPECT_TRUE(model->lyrics());
    EXPECT_EQ(resolver->callCount(), 1u);
    EXPECT_TRUE(model->recentTracks().empty());
    model->playback().togglePlayback();
    settle();
    EXPECT_EQ(keys(model->recentTracks()), std::vector<std::string>{"wy_5"});
}

TEST_F(AppModelTest, LocalImportCountsNewSongsAndReportsOnesNotStored) {
    const auto music = dir.path() / "music";
    std::filesystem::create_directories(music / "sub");
    writeWav(music / "a.wav", 0.1);
    writeWav(music / "sub" / "bad.wav", 0.1);
    std::ofstream(music / "notes.txt") << "text";
    make();

    chooser->openAnswer = {};
    model->importLocalMusic();
    settle();
    ASSERT_EQ(chooser->opened.size(), 1u);
    EXPECT_TRUE(chooser->opened[0].files && chooser->opened[0].folders && chooser->opened[0].multiple);
    EXPECT_FALSE(model->notice());

    chooser->openAnswer = {music / "notes.txt"};
    model->importLocalMusic();
    settle();
    EXPECT_EQ(model->errorMessage(), "未在所选文件或目录中找到受支持的音频文件");
    model->setErrorMessage(std::nullopt);

    // GLOB, not LIKE: LIKE ignores case, and a temporary folder named "…BAD…" matched every song.
    sql("CREATE TRIGGER injected BEFORE INSERT ON track_records WHEN NEW.music_id GLOB '*sub/bad.wav*'"
        " BEGIN SELECT RAISE(ABORT, 'x'); END");
    chooser->openAnswer = {music};
    model->importLocalMusic();
    settle();
    EXPECT_EQ(model->notice(), "已导入 1 首本地歌曲，重复项已跳过");
    EXPECT_EQ(model->errorMessage(), "收藏未保存，请重试。");
    sql("DROP TRIGGER injected");
    model->importLocalMusic();
    settle();
    EXPECT_EQ(model->notice(), "已导入 1 首本地歌曲，重复项已跳过");
    model->importLocalMusic();
    settle();
    EXPECT_EQ(model->notice(), "已导入 0 首本地歌曲，重复项已跳过");
    EXPECT_EQ(model->libraryTracks().size(), 2u);
}

TEST_F(AppModelTest, RecoveryExportWorksWithoutLibraryAndReportsUnwritableDestinations) {
    make();
    model->collect(song("1"));
    chooser->saveAnswer = dir.path() / "recovery.json";
    model->exportRecovery();
    settle();
    ASSERT_EQ(chooser->saved.size(), 1u);
    EXPECT_EQ(chooser->saved[0].suggestedName, "Velto-资料库恢复.json");
    EXPECT_TRUE(std::filesystem::file_size(dir.path() / "recovery.json") > 0);
    EXPECT_FALSE(model->notice() == std::optional<std::string>("歌单备份已导出"));
    EXPECT_FALSE(model->errorMessage());

    chooser->saveAnswer = dir.path() / "not-a-folder" / "recovery.json";
    model->exportRecovery();
    settle();
    EXPECT_EQ(model->errorMessage(), "文件未能保存，请重试。");
}

TEST_F(AppModelTest, RecoveryExportTellsWhyTheStoreCannotBeArchivedAndWritesNothing) {
    std::filesystem::create_directories(dir.path() / "data" / "cn.quorvanel.velto.mac" / "Velto.store");
    make();
    chooser->saveAnswer = dir.path() / "recovery.json";
    model->exportRecovery();
    settle();
    EXPECT_EQ(model->errorMessage(), StoreRecoveryArchive::RecoveryError::description(
                                         StoreRecoveryArchive::RecoveryError::Kind::unreadable));
    EXPECT_FALSE(std::filesystem::exists(dir.path() / "recovery.json"));
}

TEST_F(AppModelTest, RefreshedDetailsReachQueueAndFavourites) {
    runtime->onLyric = [](const Track&) { return lrc("词"); };
    runtime->onTrackDetail = [](Track t) {
        t.title = "新" + t.title;
        return t;
    };
    make();
    model->collect(song("1"));
    model->playFavorites(0, {});
    ASSERT_TRUE(mainQueue.runUntil([&] {
        settle();
        return model->libraryTracks().at(0).title == "新曲1";
    }));
    EXPECT_EQ(model->playback().queue().current()->title, "新曲1");
}

}  // namespace
}  // namespace velto
