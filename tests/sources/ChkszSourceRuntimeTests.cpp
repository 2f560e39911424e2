#include <gtest/gtest.h>

#include <atomic>
#include <fstream>
#include <thread>

#include "ChkszTestSupport.h"
#include "foundation/Cancellation.h"
#include "foundation/WorkerPool.h"
#include "sources/rovoz/ChkszSourceRuntime.h"
#include "support/Eventually.h"
#include "support/StalledShare.h"
#include "support/TempDir.h"

namespace velto {
namespace {

using nlohmann::json;

class FakeNetEase : public ChkszNetEaseProviding {
  public:
    std::vector<std::tuple<std::string, int, int>> searches;
    int lyricCalls = 0;

    SearchPage search(const std::string& keyword, int page, int limit, std::stop_token) override {
        searches.emplace_back(keyword, page, limit);
        SearchPage result;
        result.total = 99;
        result.allPage = 4;
        return result;
    }
    LyricInfo lyric(const Track&, std::stop_token) override {
        ++lyricCalls;
        LyricInfo info;
        info.lyric = "[00:00]remote";
        return info;
    }
    ChkszPlaybackResult musicURL(const Track&, Quality, std::stop_token) override {
        throw std::logic_error("not used by the runtime");
    }
};

class ChkszSourceRuntimeTest : public ::testing::Test {
  protected:
    std::shared_ptr<FakeNetEase> netease = std::make_shared<FakeNetEase>();
    ChkszSourceRuntime runtime{nullptr, netease, nullptr};
    TempDir dir;

    Track localSong(const std::filesystem::path& file, bool withPayloadPath = true) {
        json extra = json::object();
        if (withPayloadPath) {
            extra = {{"filePath", file.string()},
                     {"filename", file.filename().string()},
                     {"fileSize", 1}};
        }
        return makeTrack(MusicSource::local, withPayloadPath ? "ignored" : file.string(), extra);
    }
    void writeFile(const std::filesystem::path& file, const std::string& text) {
        std::ofstream(file, std::ios::binary) << text;
    }
};

TEST_F(ChkszSourceRuntimeTest, SearchAlwaysAsksForTwentyFiveSongs) {
    runtime.search("雾中河", MusicSource::wy, 3, {});
    runtime.search("雾中河", MusicSource::local, 1, {});
    ASSERT_EQ(netease->searches.size(), 2u);
    EXPECT_EQ(netease->searches[0], std::make_tuple(std::string("雾中河"), 3, 25));
    EXPECT_EQ(netease->searches[1], std::make_tuple(std::string("雾中河"), 1, 25));
    EXPECT_EQ(runtime.search("x", MusicSource::wy, 1, {}).total, 99);
}

TEST_F(ChkszSourceRuntimeTest, DisabledSourcesFailEverythingButSuggestions) {
    const Track kugou = makeTrack(MusicSource::kg, "1");
    const Track qq = makeTrack(MusicSource::tx, "1");
    EXPECT_EQ(sourceErrorOf([&] { runtime.search("x", MusicSource::kg, 1, {}); }),
              "酷狗音源暂不可用，已收藏的歌曲会保留。");
    EXPECT_EQ(sourceErrorOf([&] { runtime.lyric(qq, {}); }),
              "QQ音源暂不可用，已收藏的歌曲会保留。");
    EXPECT_EQ(sourceErrorOf([&] { runtime.picURL(kugou, {}); }),
              "酷狗音源暂不可用，已收藏的歌曲会保留。");
    EXPECT_EQ(sourceErrorOf([&] { runtime.trackDetail(kugou, {}); }),
              "酷狗音源暂不可用，已收藏的歌曲会保留。");
    EXPECT_TRUE(runtime.tipSearch("anything", {}).empty());
    EXPECT_TRUE(netease->searches.empty());
    EXPECT_EQ(netease->lyricCalls, 0);
}

TEST_F(ChkszSourceRuntimeTest, NetEaseSongsPassThrough) {
    const Track song = makeTrack(MusicSource::wy, "5");
    EXPECT_EQ(runtime.lyric(song, {}).lyric, "[00:00]remote");
    EXPECT_EQ(runtime.trackDetail(song, {}), song);
}

TEST_F(ChkszSourceRuntimeTest, LocalLyricSitsBesideTheAudioFile) {
    const auto audio = dir.path() / "第一首 song.flac";
    writeFile(audio, "audio");
    writeFile(dir.path() / "第一首 song.lrc", "[00:01.00]你好\n[00:02.00]world\n");
    const auto info = runtime.lyric(localSong(audio), {});
    EXPECT_EQ(info.lyric, "[00:01.00]你好\n[00:02.00]world\n");
    EXPECT_EQ(info.tlyric, std::nullopt);
    EXPECT_EQ(netease->lyricCalls, 0);

    // Without "filePath" in the payload the songmid is the path.
    EXPECT_EQ(runtime.lyric(localSong(audio, false), {}).lyric, info.lyric);
}

TEST_F(ChkszSourceRuntimeTest, LocalLyricMissingUnreadableOrNotUTF8IsEmpty) {
    const auto audio = dir.path() / "a.mp3";
    EXPECT_EQ(runtime.lyric(localSong(audio), {}).lyric, "");
    writeFile(dir.path() / "a.LRC", "upper-case extension is not the lyric file");
    EXPECT_EQ(runtime.lyric(localSong(audio), {}).lyric, "");
    writeFile(dir.path() / "a.lrc", std::string("\xB2\xBB\xCA\xC7 GBK"));
    EXPECT_EQ(runtime.lyric(localSong(audio), {}).lyric, "");
    std::filesystem::remove(dir.path() / "a.lrc");
    std::filesystem::create_directory(dir.path() / "a.lrc");
    EXPECT_EQ(runtime.lyric(localSong(audio), {}).lyric, "");
    EXPECT_EQ(runtime.lyric(makeTrack(MusicSource::local, "x", {{"filePath", ""}}), {}).lyric, "");
}

// Each song change stops the lyric read of the song before: on a share that stopped answering,
// only the current song's read holds a worker of the shared pool.
TEST_F(ChkszSourceRuntimeTest, LocalLyricReadsOnAStalledShareEndWithTheirSong) {
    auto audio = [&](std::size_t song) { return dir.path() / (std::to_string(song) + ".mp3"); };
    for (std::size_t song = 0; song < 20; ++song)
        writeFile(dir.path() / (std::to_string(song) + ".lrc"), "[00:01.00]line\n");
    StalledShare share;
    WorkerPool pool{16};
    std::atomic<int> ended = 0;
    std::vector<std::stop_source> songs(20);
    for (std::size_t change = 0; change < songs.size(); ++change) {
        if (change > 0) songs[change - 1].request_stop();
        pool.submit([&, change, token = songs[change].get_token()] {
            try {
                runtime.lyric(localSong(audio(change)), token);
            } catch (const CancellationError&) {
            }
            ++ended;
        });
        ASSERT_TRUE(share.waitUntilHeldOrQueued(change + 1));
    }
    EXPECT_TRUE(eventually([&] { return ended == 19; }))
        << "workers still held by songs no longer playing";
    share.answer();
    EXPECT_TRUE(eventually([&] { return ended == 20; }));
    EXPECT_EQ(runtime.lyric(localSong(audio(0)), {}).lyric, "[00:01.00]line\n");
}

TEST_F(ChkszSourceRuntimeTest, LocalCoverIsTheFileAddressEvenWhenMissing) {
    EXPECT_EQ(runtime.picURL(localSong("/music/我的 歌#1.mp3"), {}),
              "file:///music/%E6%88%91%E7%9A%84%20%E6%AD%8C%231.mp3");
}

TEST_F(ChkszSourceRuntimeTest, RemoteCoverComesFromThePayload) {
    const auto cover = [&](json payload) {
        return runtime.picURL(makeTrack(MusicSource::wy, "5", payload), {});
    };
    EXPECT_EQ(cover({{"picUrl", 3}, {"img", "http://i.example/a.jpg"}}), "https://i.example/a.jpg");
    EXPECT_EQ(cover({{"al", {{"picUrl", "http://i.example/al.jpg"}}}}), "https://i.example/al.jpg");
    EXPECT_EQ(cover({{"al", "text"}, {"album", {{"picUrl", "https://i.example/b.jpg"}}}}),
              "https://i.example/b.jpg");
    for (const json& payload :
         {json::object(), json{{"picUrl", "ftp://i.example/a.jpg"}, {"img", "https://ok/"}},
          json{{"img", "https://user@i.example/a.jpg"}}, json{{"picUrl", ""}}}) {
        EXPECT_EQ(sourceErrorOf([&] { cover(payload); }), "网易云歌曲暂无封面") << payload.dump();
    }
}

}  // namespace
}  // namespace velto
