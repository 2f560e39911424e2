#include <gtest/gtest.h>

#include "ChkszTestSupport.h"
#include "RecordingChkszAPI.h"
#include "sources/rovoz/ChkszKugouClient.h"

namespace velto {
namespace {

using nlohmann::json;

TEST(ChkszKugouDisabledTest, EverythingStopsAtTheSourceCheck) {
    auto api = std::make_shared<RecordingChkszAPI>();
    ChkszKugouClient client(api);
    const std::string disabled = "酷狗音源暂不可用，已收藏的歌曲会保留。";
    const Track kugou = makeTrack(MusicSource::kg, "abc");
    const Track netease = makeTrack(MusicSource::wy, "1");

    EXPECT_EQ(sourceErrorOf([&] { client.search("k", 1, {}); }), disabled);
    EXPECT_EQ(sourceErrorOf([&] { client.lyric(kugou, {}); }), disabled);
    EXPECT_EQ(sourceErrorOf([&] { client.picURL(kugou, {}); }), disabled);
    EXPECT_EQ(sourceErrorOf([&] { client.trackDetail(kugou, {}); }), disabled);
    EXPECT_EQ(sourceErrorOf([&] { client.musicURL(kugou, Quality::high, {}); }), disabled);
    EXPECT_EQ(sourceErrorOf([&] { client.lyric(netease, {}); }), "酷狗歌曲标识无效");
    EXPECT_EQ(sourceErrorOf([&] { client.picURL(netease, {}); }), "酷狗歌曲标识无效");
    EXPECT_EQ(sourceErrorOf([&] { client.trackDetail(netease, {}); }), "酷狗歌曲标识无效");
    EXPECT_EQ(sourceErrorOf([&] { client.musicURL(netease, Quality::high, {}); }),
              "酷狗歌曲标识无效");
    EXPECT_TRUE(api->calls.empty());
}

// The behaviour once the source table enables Kugou.
class ChkszKugouClientTest : public ::testing::Test {
  protected:
    std::chrono::steady_clock::time_point now{std::chrono::hours(2)};
    std::shared_ptr<RecordingChkszAPI> api = std::make_shared<RecordingChkszAPI>();
    ChkszKugouClient client{api, [this] { return now; },
                            [](MusicSource source) {
                                if (source != MusicSource::kg) requireEnabled(source);
                            }};
    Track song = makeTrack(MusicSource::kg, "AbC123");

    static std::string detail(json fields = json::object()) {
        json base = {
            {"id", "abc123"},     {"url", "http://k.example/s.mp3"},   {"bitrate", "320k"},
            {"lrc", "[00:00]kg"}, {"cover", "http://k.example/c.jpg"}, {"interval", "4:05"}};
        base.update(fields);
        return base.dump();
    }
};

TEST_F(ChkszKugouClientTest, SearchBuildsTracksAndOnlyTheFirstPageExists) {
    api->answer(json{{"list",
                      {{{"id", 77},
                        {"name", " 歌 "},
                        {"singer", "手"},
                        {"album", "辑"},
                        {"duration", 215},
                        {"cover", "http://k.example/c.jpg"}},
                       {{"id", "x1"},
                        {"name", "n"},
                        {"singer", "s"},
                        {"duration", "215"},
                        {"cover", "ftp://k.example/c.jpg"}},
                       {{"id", "x2"}, {"name", ""}, {"singer", "s"}}}}}
                    .dump());
    const auto page = client.search("关键词", 1, {});
    EXPECT_EQ(api->calls.back().path, "/api/kugou_music");
    EXPECT_EQ(api->calls.back().parameters,
              (std::map<std::string, std::string>{{"msg", "关键词"}, {"type", "json"}}));
    ASSERT_EQ(page.list.size(), 2u);
    EXPECT_EQ(page.total, 2);
    EXPECT_EQ(page.allPage, 1);
    EXPECT_EQ(page.list[0].songmid, "77");
    EXPECT_EQ(page.list[0].title, "歌");
    EXPECT_EQ(page.list[0].interval, "3:35");
    EXPECT_EQ(page.list[0].rawPayload()->value("img", ""), "https://k.example/c.jpg");
    EXPECT_EQ(page.list[1].interval, std::nullopt);
    EXPECT_FALSE(page.list[1].rawPayload()->contains("img"));

    const auto second = client.search("关键词", 2, {});
    EXPECT_TRUE(second.list.empty());
    EXPECT_EQ(second.allPage, 1);
    EXPECT_EQ(api->calls.size(), 1u);
}

TEST_F(ChkszKugouClientTest, SearchFailures) {
    api->answer("<html>");
    EXPECT_EQ(sourceErrorOf([&] { client.search("k", 1, {}); }), "酷狗返回 JSON 异常");
    api->answer(R"({"list":[{"id":1},2]})");
    EXPECT_EQ(sourceErrorOf([&] { client.search("k", 1, {}); }), "酷狗搜索返回数据异常");
    api->answer(R"({"data":[]})");
    EXPECT_EQ(sourceErrorOf([&] { client.search("k", 1, {}); }), "酷狗搜索返回数据异常");
    api->answer(R"({"list":[{"id":1,"name":"n"}]})");
    EXPECT_EQ(sourceErrorOf([&] { client.search("k", 1, {}); }), "酷狗搜索结果缺少曲目信息");
    api->answer(R"({"list":[]})");
    EXPECT_EQ(client.search("k", 1, {}).total, 0);
}

TEST_F(ChkszKugouClientTest, StreamThenLyricCoverAndDetailComeFromTheCache) {
    api->answer(detail());
    const auto result = client.musicURL(song, Quality::lossless, {});
    EXPECT_EQ(result, (ChkszPlaybackResult{"https://k.example/s.mp3", Quality::high}));
    EXPECT_EQ(
        api->calls.back().parameters,
        (std::map<std::string, std::string>{{"id", "AbC123"}, {"size", "flac"}, {"type", "json"}}));

    EXPECT_EQ(client.lyric(song, {}).lyric, "[00:00]kg");
    EXPECT_EQ(client.picURL(song, {}), "https://k.example/c.jpg");
    const Track detailed = client.trackDetail(song, {});
    EXPECT_EQ(detailed.interval, "4:05");
    EXPECT_EQ(detailed.rawPayload()->value("img", ""), "https://k.example/c.jpg");
    EXPECT_EQ(detailed.title, song.title);
    EXPECT_EQ(api->calls.size(), 1u);
}

TEST_F(ChkszKugouClientTest, LyricFetchesTheMasterDetailWhenNothingIsCached) {
    api->answer(detail());
    EXPECT_EQ(client.lyric(song, {}).lyric, "[00:00]kg");
    EXPECT_EQ(api->calls.back().parameters.at("size"), "master");
    now += std::chrono::seconds(1200);
    api->answer(detail({{"lrc", nullptr}}));
    EXPECT_EQ(sourceErrorOf([&] { client.lyric(song, {}); }), "酷狗暂未提供歌词");
    EXPECT_EQ(api->calls.size(), 2u);
}

TEST_F(ChkszKugouClientTest, AnswerForAnotherSongIsRejectedAndNotCached) {
    api->answer(detail({{"id", "other"}}));
    EXPECT_EQ(sourceErrorOf([&] { client.musicURL(song, Quality::high, {}); }),
              "酷狗返回曲目与所选歌曲不一致");
    EXPECT_EQ(client.trackDetail(song, {}), song);  // nothing cached, no request
    EXPECT_EQ(api->calls.size(), 1u);
}

TEST_F(ChkszKugouClientTest, OversizedAnswerIsUsedButNotCached) {
    std::string big = detail({{"padding", std::string(KugouMetadataCache::largestAnswer, 'x')}});
    api->answer(big);
    EXPECT_EQ(client.musicURL(song, Quality::high, {}).url, "https://k.example/s.mp3");
    api->answer(detail());
    client.lyric(song, {});
    EXPECT_EQ(api->calls.size(), 2u);
}

TEST_F(ChkszKugouClientTest, CoverFromPayloadFirstAndNeverARequest) {
    const Track withImage =
        makeTrack(MusicSource::kg, "abc123", {{"img", "http://p.example/i.jpg"}});
    EXPECT_EQ(client.picURL(withImage, {}), "https://p.example/i.jpg");
    const Track withPic =
        makeTrack(MusicSource::kg, "abc123", {{"picUrl", "https://p.example/p.jpg"}});
    EXPECT_EQ(client.picURL(withPic, {}), "https://p.example/p.jpg");
    EXPECT_EQ(sourceErrorOf([&] { client.picURL(song, {}); }), "酷狗歌曲暂无封面");

    api->answer(detail({{"cover", "not an address"}}));
    client.musicURL(song, Quality::high, {});
    EXPECT_EQ(sourceErrorOf([&] { client.picURL(song, {}); }), "酷狗歌曲暂无封面");
    EXPECT_EQ(api->calls.size(), 1u);
}

TEST_F(ChkszKugouClientTest, StreamWithoutUsableAddressFails) {
    api->answer(detail({{"url", "ftp://k.example/s.mp3"}}));
    EXPECT_EQ(sourceErrorOf([&] { client.musicURL(song, Quality::high, {}); }),
              "酷狗播放未返回可用链接");
    api->answer("[]");
    EXPECT_EQ(sourceErrorOf([&] { client.musicURL(song, Quality::high, {}); }),
              "酷狗返回 JSON 异常");
}

}  // namespace
}  // namespace velto
