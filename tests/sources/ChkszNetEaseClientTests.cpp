#include <gtest/gtest.h>

#include "ChkszTestSupport.h"
#include "RecordingChkszAPI.h"
#include "foundation/Cancellation.h"
#include "sources/rovoz/ChkszNetEaseClient.h"
#include "support/HostileNames.h"

namespace velto {
namespace {

using nlohmann::json;

class ChkszNetEaseClientTest : public ::testing::Test {
  protected:
    std::shared_ptr<RecordingChkszAPI> api = std::make_shared<RecordingChkszAPI>();
    ChkszNetEaseClient client{api};

    SearchPage search(const json& answer, int page = 1, int limit = 25) {
        api->answer(answer.dump());
        return client.search("周 杰伦 ", page, limit, {});
    }
    static json hit(json fields) {
        json base = {{"id", 1001}, {"name", "雾中河"}, {"artists", "林远舟"}};
        if (fields.is_object()) base.update(fields);
        return base;
    }
};

TEST_F(ChkszNetEaseClientTest, SearchSendsClampedPageAndSizeWithTheKeywordUnchanged) {
    const json empty = {{"data", {{"songs", json::array()}, {"total", 0}}}};
    const std::vector<std::tuple<int, int, std::string, std::string>> cases = {
        {0, 25, "25", "0"}, {1, 25, "25", "0"},     {3, 25, "25", "50"},
        {2, 0, "1", "1"},   {2, 500, "100", "100"},
    };
    for (const auto& [page, limit, sentLimit, offset] : cases) {
        search(empty, page, limit);
        const auto& call = api->calls.back();
        EXPECT_EQ(call.path, "/api/163_search");
        EXPECT_EQ(call.parameters,
                  (std::map<std::string, std::string>{
                      {"keyword", "周 杰伦 "}, {"limit", sentLimit}, {"offset", offset}}));
    }
}

TEST_F(ChkszNetEaseClientTest, SearchBuildsTracksFromHits) {
    // A hostile hit: a name of 1 MB in 500 characters and 20,000 artists.
    auto crowd = json::array();
    std::string named;
    for (int i = 0; i < 20'000; ++i) {
        crowd.push_back({{"name", "歌手" + std::to_string(i)}});
        if (std::size_t(i) < Track::mostArtists) named += (i ? "、歌手" : "歌手") + std::to_string(i);
    }
    const std::string huge = markedLetters(Track::longestName, 2048);
    const auto page =
        search({{"data",
                 {{"total", 60},
                  {"songs",
                   {hit({{"id", "2002"},
                         {"name", "  七里香 "},
                         {"artists", {{{"name", "甲"}}, {{"name", "  "}}, {{"name", "乙"}}}},
                         {"album", " 专辑 "},
                         {"duration", 215000},
                         {"picUrl", "http://p1.example/a.jpg"}}),
                    hit({{"artists", {"丙", " ", "丁"}},
                         {"album", {{"name", "object album"}}},
                         {"duration", 59999},
                         {"picUrl", "ftp://p1.example/a.jpg"}}),
                    hit({{"name", huge}, {"artists", crowd}})}}}}});
    ASSERT_EQ(page.list.size(), 3u);
    EXPECT_EQ(page.total, 60);
    EXPECT_EQ(page.allPage, 3);

    const auto& first = page.list[0];
    EXPECT_EQ(first.source, MusicSource::wy);
    EXPECT_EQ(first.songmid, "2002");
    EXPECT_EQ(first.title, "七里香");
    EXPECT_EQ(first.artist, "甲、乙");
    EXPECT_EQ(first.album, "专辑");
    EXPECT_EQ(first.interval, "3:35");
    EXPECT_EQ(first.rawPayload()->value("picUrl", ""), "https://p1.example/a.jpg");

    const auto& second = page.list[1];
    EXPECT_EQ(second.songmid, "1001");
    EXPECT_EQ(second.artist, "丙、丁");
    EXPECT_EQ(second.album, "");
    EXPECT_EQ(second.interval, "0:59");
    EXPECT_FALSE(second.rawPayload()->contains("picUrl"));

    // Each character keeps 32 code points, and the name as many of those as 2,000 code points hold.
    EXPECT_TRUE(page.list[2].title ==
                markedLetters(Track::longestNameCodePoints / Track::mostCodePointsPerCharacter,
                              2 * Track::mostCodePointsPerCharacter - 1))
        << page.list[2].title.size() << " bytes";
    EXPECT_EQ(page.list[2].artist, named);
}

TEST_F(ChkszNetEaseClientTest, SearchPageCountsAndBareLists) {
    const auto bare = search({{"data", {hit({}), hit({{"id", 1002}})}}});
    EXPECT_EQ(bare.total, 2);
    EXPECT_EQ(bare.allPage, 1);

    json many = json::array();
    for (int i = 1; i <= 25; ++i) many.push_back(hit({{"id", i}}));
    const auto small = search({{"data", {{"songs", many}, {"total", 3}}}});
    EXPECT_EQ(small.total, 3);  // as read, not raised to the number of songs
    EXPECT_EQ(small.allPage, 1);
    // More songs than asked for: the first usable ones up to the limit.
    many[0] = hit({{"id", 0}});
    for (int i = 26; i <= 400; ++i) many.push_back(hit({{"id", i}}));
    const auto flood = search({{"data", many}}, 1, 20);
    ASSERT_EQ(flood.list.size(), 20u);
    EXPECT_EQ(flood.list.front().songmid, "2");
    EXPECT_EQ(flood.list.back().songmid, "21");

    const auto none = search({{"data", {{"songs", json::array()}, {"total", 0}}}});
    EXPECT_TRUE(none.list.empty());
    EXPECT_EQ(none.allPage, 1);

    const auto noTotal = search({{"data", {{"songs", {hit({})}}, {"total", "many"}}}});
    EXPECT_EQ(noTotal.total, 1);
}

TEST_F(ChkszNetEaseClientTest, UnusableHitsAreSkippedUnlessNothingIsLeft) {
    for (const json& bad :
         {hit({{"id", 0}}), hit({{"id", -5}}), hit({{"id", "12a"}}), hit({{"name", ""}}),
          hit({{"artists", "   "}}), hit({{"artists", json::array()}}), hit({{"id", nullptr}})}) {
        const auto page = search({{"data", {{"songs", {bad, hit({{"id", 7}})}}}}});
        ASSERT_EQ(page.list.size(), 1u) << bad.dump();
        EXPECT_EQ(page.list[0].songmid, "7");
        EXPECT_EQ(sourceErrorOf([&] {
                      search({{"data", {{"songs", {bad}}}}});
                  }),
                  "RoVOz 网易搜索结果缺少曲目信息")
            << bad.dump();
    }
}

TEST_F(ChkszNetEaseClientTest, MalformedSearchAnswers) {
    for (const char* body : {"not json", "[1,2]", "\"text\"", "{\"data\":", ""}) {
        api->answer(body);
        EXPECT_EQ(sourceErrorOf([&] { client.search("k", 1, 25, {}); }), "RoVOz 返回 JSON 异常")
            << body;
    }
    for (const json& answer : {json{{"data", "x"}}, json{{"data", {1, 2}}}, json::object()}) {
        EXPECT_EQ(sourceErrorOf([&] { search(answer); }), "RoVOz 网易搜索返回数据异常")
            << answer.dump();
    }
    // Songs that are no list of objects count as no songs at all.
    EXPECT_TRUE(search({{"data", {{"songs", {hit({}), 3}}}}}).list.empty());
}

TEST_F(ChkszNetEaseClientTest, LyricReadsAllFourTexts) {
    api->answer(json{
        {"data", {{"lrc", "[00:01]a"}, {"tlyric", " \n "}, {"romalrc", " r "}, {"klyric", "k"}}}}
                    .dump());
    const auto info = client.lyric(makeTrack(MusicSource::wy, "+123"), {});
    EXPECT_EQ(api->calls.back().path, "/api/163_lyric");
    EXPECT_EQ(api->calls.back().parameters, (std::map<std::string, std::string>{{"id", "+123"}}));
    EXPECT_EQ(info.lyric, "[00:01]a");
    EXPECT_EQ(info.tlyric, std::nullopt);
    EXPECT_EQ(info.rlyric, "r");
    EXPECT_EQ(info.lxlyric, "k");

    api->answer(R"({"data":{"lrc":""}})");
    EXPECT_EQ(client.lyric(makeTrack(MusicSource::wy, "5"), {}).lyric, "");
}

TEST_F(ChkszNetEaseClientTest, LyricWithoutTextFails) {
    for (const char* body :
         {R"({"data":{"tlyric":"x"}})", R"({"data":{"lrc":5}})", R"({"data":[]})"}) {
        api->answer(body);
        EXPECT_EQ(sourceErrorOf([&] { client.lyric(makeTrack(MusicSource::wy, "5"), {}); }),
                  "RoVOz 网易歌词返回数据异常");
    }
}

TEST_F(ChkszNetEaseClientTest, InvalidSongsFailBeforeAnyRequest) {
    for (const Track& track :
         {makeTrack(MusicSource::kg, "5"), makeTrack(MusicSource::wy, "0"),
          makeTrack(MusicSource::wy, "abc"), makeTrack(MusicSource::wy, " 5"),
          makeTrack(MusicSource::wy, "-5"), makeTrack(MusicSource::wy, "99999999999999999999")}) {
        EXPECT_EQ(sourceErrorOf([&] { client.lyric(track, {}); }), "网易云歌曲标识无效");
        EXPECT_EQ(sourceErrorOf([&] { client.musicURL(track, Quality::high, {}); }),
                  "网易云歌曲标识无效");
    }
    EXPECT_TRUE(api->calls.empty());
}

TEST_F(ChkszNetEaseClientTest, MusicURLAsksForTheLevelAndReadsTheDeliveredQuality) {
    const std::vector<std::pair<Quality, std::string>> levels = {{Quality::standard, "standard"},
                                                                 {Quality::high, "exhigh"},
                                                                 {Quality::lossless, "lossless"},
                                                                 {Quality::hiRes, "hires"},
                                                                 {Quality::master, "jymaster"}};
    for (const auto& [quality, level] : levels) {
        api->answer(R"({"data":{"url":"http://m.example/a.flac","level":"SKY","br":128000}})");
        const auto result = client.musicURL(makeTrack(MusicSource::wy, "42"), quality, {});
        EXPECT_EQ(api->calls.back().path, "/api/163_music");
        EXPECT_EQ(
            api->calls.back().parameters,
            (std::map<std::string, std::string>{{"id", "42"}, {"level", level}, {"type", "json"}}));
        EXPECT_EQ(result, (ChkszPlaybackResult{"https://m.example/a.flac", Quality::hiRes}));
    }
    api->answer(R"({"data":{"url":"https://m.example/b.mp3","br":"320000"}})");
    EXPECT_EQ(client.musicURL(makeTrack(MusicSource::wy, "42"), Quality::master, {}).actualQuality,
              Quality::high);
}

TEST_F(ChkszNetEaseClientTest, MusicURLWithoutUsableAddressFails) {
    for (const char* body :
         {R"({"data":{"url":null}})", R"({"data":{"url":""}})", R"({"data":{"url":"ftp://x/y"}})",
          R"({"data":{}})", R"({"data":[{"url":"https://m.example/a"}]})", R"({"code":200})"}) {
        api->answer(body);
        EXPECT_EQ(sourceErrorOf(
                      [&] { client.musicURL(makeTrack(MusicSource::wy, "1"), Quality::high, {}); }),
                  "RoVOz 网易播放未返回可用链接")
            << body;
    }
}

TEST_F(ChkszNetEaseClientTest, RequestErrorsPassOnUnchanged) {
    api->fail(std::make_exception_ptr(SourceError::source("RoVOz 已停用（HTTP 401）")));
    EXPECT_EQ(sourceErrorOf([&] { client.search("k", 1, 25, {}); }), "RoVOz 已停用（HTTP 401）");
    api->fail(std::make_exception_ptr(CancellationError()));
    EXPECT_THROW(client.lyric(makeTrack(MusicSource::wy, "1"), {}), CancellationError);
}

}  // namespace
}  // namespace velto
