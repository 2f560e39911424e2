#include <sys/stat.h>

#include <fstream>
#include <functional>
#include <future>
#include <optional>

#include "AppModelFixture.h"
#include "app/BackupFileReader.h"
#include "artwork/LocalArtworkLoader.h"
#include "foundation/Cancellation.h"
#include "library/exchange/PlaylistBackup.h"
#include "library/exchange/PlaylistBackupError.h"
#include "sources/resolving/PlaybackURLResolver.h"
#include "sources/rovoz/ChkszSourceRuntime.h"
#include "support/StalledShare.h"

namespace velto {
namespace {

std::string failure(PlaylistBackupError::Kind kind) {
    return "导入失败：" + std::string(PlaylistBackupError::description(kind));
}

TEST_F(AppModelTest, BackupRoundTripsThroughTheChooser) {
    make();
    model->collect(song("1"));
    model->collect(song("2"));
    const auto file = dir.path() / "backup.json";
    chooser->saveAnswer = file;
    // Writing the backup reads every song's payload, on a worker only.
    const auto before = TrackPayloadCache::shared().lookups();
    model->exportBackup();
    EXPECT_EQ(TrackPayloadCache::shared().lookups(), before);
    EXPECT_EQ(settleCountingMainThreadReads(mainQueue, jobs), 0u);
    ASSERT_EQ(chooser->saved.size(), 1u);
    EXPECT_EQ(chooser->saved[0].suggestedName, "Velto-歌单.json");
    EXPECT_EQ(model->notice(), "歌单备份已导出");

    model->removeFavorite(song("2"));
    chooser->openAnswer = {file};
    model->importBackup();
    settle();
    EXPECT_TRUE(chooser->opened.back().jsonOnly);
    EXPECT_FALSE(chooser->opened.back().folders || chooser->opened.back().multiple);
    EXPECT_EQ(model->notice(), "已导入 1 首歌曲，跳过 1 首重复歌曲");
    EXPECT_EQ(model->libraryTracks().size(), 2u);
}

TEST_F(AppModelTest, BackupImportRefusesBadFilesBeforeReadingThem) {
    using Kind = PlaylistBackupError::Kind;
    const auto malformed = dir.path() / "malformed.json";
    std::ofstream(malformed) << "{\"format\":";
    const auto huge = dir.path() / "huge.json";
    std::ofstream(huge).close();
    std::filesystem::resize_file(huge, PlaylistBackup::maximumFileSize + 1);
    const auto limit = dir.path() / "limit.json";
    std::ofstream(limit).close();
    std::filesystem::resize_file(limit, PlaylistBackup::maximumFileSize);
    const auto pipe = dir.path() / "pipe.json";
    ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
    const std::pair<std::filesystem::path, Kind> cases[] = {
        {pipe, Kind::invalidFile},
        {malformed, Kind::invalidFile},
        {huge, Kind::tooLarge},
        {limit, Kind::invalidFile},  // within the limit, so read and found not to be JSON
        {dir.path(), Kind::invalidFile},
        {dir.path() / "gone.json", Kind::invalidFile},
    };
    make();
    model->collect(song("1"));
    for (const auto& [path, kind] : cases) {
        chooser->openAnswer = {path};
        model->importBackup();
        settle();
        EXPECT_EQ(model->errorMessage(), failure(kind)) << path;
        model->setErrorMessage(std::nullopt);
    }
    EXPECT_EQ(model->libraryTracks().size(), 1u);
    std::stop_source stopped;
    stopped.request_stop();
    EXPECT_THROW(BackupFileReader::read(malformed, stopped.get_token()), CancellationError);
}

// Reads left behind on a share that stopped answering, more than the threads ever left behind
// in all, never turn healthy files on another disk away: a backup, a song, its lyrics and its
// cover, though the share is reached through a link on that disk.
TEST_F(AppModelTest, FilesOfTheHomeDiskAreReadWhileReadsOfALinkedStalledShareHang) {
    const auto mount = dir.path() / "share";
    const auto home = dir.path() / "home";
    std::filesystem::create_directories(mount);
    std::filesystem::create_directories(home / "Local");
    std::filesystem::create_directory_symlink("../share", home / "Music");
    StalledShare share(mount);
    for (std::size_t left = 1; left <= 300; ++left) {
        const auto stuck = home / "Music" / ("stuck-" + std::to_string(left) + ".json");
        std::ofstream(stuck) << "{}";
        std::stop_source stop;
        auto read = std::async(std::launch::async, [&] { return BackupFileReader::read(stuck, stop.get_token()); });
        ASSERT_TRUE(share.waitUntilHeldOrQueued(left));
        stop.request_stop();
        EXPECT_THROW(read.get(), CancellationError);
    }
    share.holdNoMore();
    // What each read gave, or the message it failed with.
    auto outcome = [](const std::function<std::optional<std::string>()>& read) {
        try {
            return read().value_or("nothing");
        } catch (const std::exception& error) {
            return std::string("failed: ") + error.what();
        }
    };
    const auto healthy = home / "healthy.json";
    std::ofstream(healthy) << "{\"format\":1}";
    EXPECT_EQ(outcome([&] { return BackupFileReader::read(healthy); }), "{\"format\":1}");

    const auto audio = home / "Local" / "song.mp3";
    std::ofstream(audio) << "ID3";
    std::ofstream(home / "Local" / "song.lrc") << "[00:01.00]词\n";
    std::ofstream(home / "Local" / "cover.jpg") << "\xFF\xD8\xFF";
    Track local = song(audio.string());
    local.source = MusicSource::local;
    EXPECT_EQ(outcome([&] { return PlaybackURLResolver::localFileURL(local); }),
              "file://" + audio.string());
    EXPECT_EQ(outcome([&] { return ChkszSourceRuntime(nullptr).lyric(local, {}).lyric; }),
              "[00:01.00]词\n");
    EXPECT_EQ(outcome([&] { return LocalArtworkLoader::loadLocalArtworkData(local); }),
              "\xFF\xD8\xFF");
}

}  // namespace
}  // namespace velto
