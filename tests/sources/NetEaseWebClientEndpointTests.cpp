#include <gtest/gtest.h>

#include <memory>

#include "sources/netease/NetEaseWebClient.h"
#include "support/HostileNames.h"
#include "support/InMemoryNetEaseKeychain.h"
#include "support/NetEaseFakeServer.h"
#include "support/TempDir.h"

namespace velto {
namespace {

using json = nlohmann::json;

json song(std::int64_t id, const std::string& name) {
    return {{"id", id}, {"name", name}, {"ar", {{{"name", "林远舟"}}, {{"name", "费玉清"}}}}};
}

class NetEaseWebClientEndpointTest : public ::testing::Test {
  protected:
    NetEaseWebClientEndpointTest() {
        NetEaseCookieStore store(nullptr, std::make_shared<InMemoryNetEaseKeychain>(), dir.path(),
                                 [](const std::string&) { return std::nullopt; });
        NetEaseWebClient::Options options;
        options.baseURL = server.baseURL();
        client = std::make_unique<NetEaseWebClient>(std::move(store), std::move(options));
    }

    // The query items of the only request to `path`, in the order sent.
    std::string onlyTarget(const std::string& path) {
        std::string target;
        int count = 0;
        for (const auto& request : server.requests()) {
            if (request.path == path) {
                target = request.target;
                ++count;
            }
        }
        EXPECT_EQ(count, 1) << path;
        return target;
    }

    std::string failureText(const std::function<void()>& body) {
        try {
            body();
        } catch (const NetEaseWebClient::Failure& failure) {
            return failure.what();
        }
        return "no failure";
    }

    TempDir dir;
    NetEaseFakeServer server;
    std::unique_ptr<NetEaseWebClient> client;
};

TEST_F(NetEaseWebClientEndpointTest, SongSearchParsesSongsAndTotal) {
    server.answerJSON("/api/search/get", {{"code", 200},
                                          {"result",
                                           {{"songs", {song(186016, "雾中河"), {{"name", "无编号"}}}},
                                            {"songCount", 300},
                                            {"hasMore", true}}}});
    auto result = client->searchSongs("雾中河 林远舟", 30, 60);
    EXPECT_EQ(onlyTarget("/api/search/get"),
              "/api/search/get?s=%E9%9B%BE%E4%B8%AD%E6%B2%B3%20%E6%9E%97%E8%BF%9C%E8%88%9F&type=1&limit=30"
              "&offset=60");
    ASSERT_EQ(result.tracks.size(), 1u);
    EXPECT_EQ(result.total, 300);
    EXPECT_EQ(result.tracks[0].musicID(), "wy_186016");
    EXPECT_EQ(result.tracks[0].artist, "林远舟/费玉清");
}

TEST_F(NetEaseWebClientEndpointTest, SongSearchEdgeCases) {
    // Without a count, every listed element counts, parsed or not.
    server.answerJSON("/api/search/get",
                      {{"result", {{"songs", {song(1, "a"), json{{"id", "x"}}, song(2, "b")}}}}});
    EXPECT_EQ(client->searchSongs("a", 30, 0).total, 3);

    server.answerJSON("/api/search/get", {{"result", {{"songs", {{{"name", "无编号"}}}}}}});
    EXPECT_EQ(failureText([&] { client->searchSongs("a", 30, 0); }),
              "网易云接口数据异常：搜索结果缺少曲目信息");

    server.answerJSON("/api/search/get", {{"code", 200}});
    auto empty = client->searchSongs("a", 30, 0);
    EXPECT_TRUE(empty.tracks.empty());
    EXPECT_EQ(empty.total, 0);
    // A count given as text still counts.
    server.answerJSON("/api/search/get",
                      {{"result", {{"songs", json::array()}, {"songCount", "7"}}}});
    EXPECT_EQ(client->searchSongs("a", 30, 0).total, 7);
}

TEST_F(NetEaseWebClientEndpointTest, ArtistAlbumAndPlaylistSearches) {
    const auto lastTarget = [&] { return server.requests().back().target; };
    server.answerJSON(
        "/api/search/get",
        {{"result",
          {{"artists", {{{"id", 6452}, {"name", "林远舟"}}, {{"id", 1}, {"name", " "}}}},
           {"artistCount", 2}}}});
    auto artists = client->searchArtists("林远舟", 20, 0);
    ASSERT_EQ(artists.artists.size(), 1u);
    EXPECT_EQ(artists.total, 2);
    EXPECT_EQ(artists.artists[0].id, "6452");
    EXPECT_TRUE(lastTarget().ends_with("type=100&limit=20&offset=0"));

    server.answerJSON("/api/search/get",
                      {{"result", {{"artists", {{{"name", "无编号"}}}}, {"artistCount", 9}}}});
    auto unusable = client->searchArtists("x", 20, 0);
    EXPECT_TRUE(unusable.artists.empty());
    EXPECT_EQ(unusable.total, 9);

    server.answerJSON("/api/search/get",
                      {{"result",
                        {{"albums", {{{"id", 18905}, {"name", "远山集"}, {"publishTime", 0}}}},
                         {"albumCount", 1}}}});
    auto albums = client->searchAlbums("远山集", 20, 20);
    ASSERT_EQ(albums.albums.size(), 1u);
    EXPECT_EQ(albums.albums[0].releaseDate, "1970-01-01");
    EXPECT_TRUE(lastTarget().ends_with("type=10&limit=20&offset=20"));

    server.answerJSON("/api/search/get", {{"result",
                                           {{"playlists",
                                             {{{"id", 2829883282LL},
                                               {"name", "华语经典"},
                                               {"creator", {{"nickname", "云音乐"}}},
                                               {"playCount", 123456789}},
                                              {{"id", 5}, {"name", "无作者"}}}},
                                            {"playlistCount", 500}}}});
    auto playlists = client->searchPlaylists("经典", 20, 40);
    ASSERT_EQ(playlists.playlists.size(), 2u);
    EXPECT_EQ(playlists.total, 500);
    EXPECT_EQ(playlists.playlists[0].id, "2829883282");
    EXPECT_EQ(playlists.playlists[0].author + playlists.playlists[0].playCount, "云音乐123456789");
    EXPECT_EQ(playlists.playlists[1].author + playlists.playlists[1].playCount, "");
    EXPECT_TRUE(lastTarget().ends_with("type=1000&limit=20&offset=40"));
}

TEST_F(NetEaseWebClientEndpointTest, HotSearchesAreTrimmedAndLimited) {
    server.answerJSON("/api/search/hot", {{"code", 200},
                                          {"result",
                                           {{"hots",
                                             {{{"first", "  雾中河 \n"}, {"second", 1}},
                                              {{"first", ""}},
                                              {{"first", 42}},
                                              {{"first", "麦浪"}},
                                              {{"first", "   "}},
                                              {{"first", markedLetter(4096)}}}}}}});
    EXPECT_EQ(client->hotSearches(12), (std::vector<std::string>{"雾中河", "麦浪", keptMarkedLetter()}));
    EXPECT_EQ(client->hotSearches(1), std::vector<std::string>{"雾中河"});
    server.answerJSON("/api/search/hot", {{"result", {{"hots", "none"}}}});
    EXPECT_TRUE(client->hotSearches(12).empty());
}

TEST_F(NetEaseWebClientEndpointTest, SuggestionsDropDuplicatesAfterTrimming) {
    server.answerJSON("/api/search/suggest/keyword", {{"result",
                                                       {{"allMatch",
                                                         {{{"keyword", "jay"}},
                                                          {{"keyword", "jay"}},
                                                          {{"keyword", "JAY"}},
                                                          {{"keyword", "jay "}},
                                                          {{"keyword", "jay chou"}},
                                                          {{"keyword", markedLetter(4096)}}}}}}});
    EXPECT_EQ(client->searchSuggestions("ja", 8),
              (std::vector<std::string>{"jay", "JAY", "jay chou", keptMarkedLetter()}));
    EXPECT_EQ(client->searchSuggestions("ja", 2), (std::vector<std::string>{"jay", "JAY"}));
    EXPECT_EQ(server.requests().front().target, "/api/search/suggest/keyword?s=ja");
}

TEST_F(NetEaseWebClientEndpointTest, ArtistPageWithPopularSongs) {
    server.answerJSON("/api/v1/artist/6452",
                      {{"code", 200},
                       {"artist", {{"id", 6452}, {"name", "林远舟"}, {"musicSize", 515}}},
                       {"hotSongs", {song(186016, "雾中河"), {{"id", 2}}}}});
    auto page = client->artist("6452", 2, 30);
    EXPECT_EQ(page.artist.name, "林远舟");
    ASSERT_EQ(page.tracks.size(), 1u);
    EXPECT_EQ(page.tracks[0].songmid, "186016");
    EXPECT_EQ(onlyTarget("/api/v1/artist/6452"), "/api/v1/artist/6452");

    server.answerJSON("/api/v1/artist/1", {{"hotSongs", json::array()}});
    EXPECT_EQ(failureText([&] { client->artist("1", 1, 1); }), "网易云接口数据异常：歌手信息缺失");
}

TEST_F(NetEaseWebClientEndpointTest, ArtistAlbumsAndAlbum) {
    server.answerJSON("/api/artist/albums/6452", {{"hotAlbums",
                                                   {{{"id", 18905},
                                                     {"name", "远山集"},
                                                     {"artists", {{{"name", "林远舟"}}}},
                                                     {"publishTime", -86400000}},
                                                    {{"id", 3}}}},
                                                  {"more", true}});
    auto albums = client->artistAlbums("6452", 24, 24);
    EXPECT_EQ(onlyTarget("/api/artist/albums/6452"), "/api/artist/albums/6452?limit=24&offset=24");
    ASSERT_EQ(albums.size(), 1u);
    EXPECT_EQ(albums[0].artist, "林远舟");
    EXPECT_EQ(albums[0].releaseDate, "1969-12-31");

    server.answerJSON("/api/v1/album/18905",
                      {{"album", {{"id", 18905}, {"name", "远山集"}, {"size", 11}}},
                       {"songs", {song(186016, "雾中河"), song(186017, "以父之名")}}});
    auto detail = client->album("18905");
    EXPECT_EQ(detail.album.id, "18905");
    ASSERT_EQ(detail.tracks.size(), 2u);
    EXPECT_EQ(detail.tracks[1].title, "以父之名");

    server.answerJSON("/api/v1/album/1", {{"album", {{"id", 1}}}});
    EXPECT_EQ(failureText([&] { client->album("1"); }), "网易云接口数据异常：专辑信息缺失");
}

TEST_F(NetEaseWebClientEndpointTest, SongDetailSendsBracketedIds) {
    server.answerJSON("/api/song/detail",
                      {{"songs", {song(1, "一"), song(2, "二")}}, {"privileges", json::array()}});
    auto tracks = client->songDetail({"1", "2"});
    EXPECT_EQ(onlyTarget("/api/song/detail"), "/api/song/detail?ids=%5B1%2C2%5D");
    ASSERT_EQ(tracks.size(), 2u);
    EXPECT_EQ(tracks[0].title, "一");

    server.answerJSON("/api/song/detail", {{"songs", json::array()}, {"code", 200}});
    EXPECT_TRUE(client->songDetail({"3"}).empty());
}

TEST_F(NetEaseWebClientEndpointTest, LyricTakesTheFourTexts) {
    server.answerJSON("/api/song/lyric",
                      {{"lrc", {{"version", 3}, {"lyric", "[00:01.00]河边的小白船"}}},
                       {"tlyric", {{"lyric", "[00:01.00]little flower"}}},
                       {"romalrc", {{"lyric", ""}}},
                       {"klyric", {{"lyric", "[1000,500]故事"}}}});
    auto info = client->lyric("186016");
    EXPECT_EQ(onlyTarget("/api/song/lyric"), "/api/song/lyric?id=186016&lv=-1&kv=-1&tv=-1");
    EXPECT_EQ(info, (LyricInfo{"[00:01.00]河边的小白船", "[00:01.00]little flower", std::nullopt,
                               "[1000,500]故事"}));

    server.answerJSON("/api/song/lyric", {{"lrc", {{"lyric", " "}}}});
    EXPECT_EQ(client->lyric("1").tlyric, std::nullopt);
    server.answerJSON("/api/song/lyric",
                      {{"lrc", {{"lyric", ""}}}, {"tlyric", {{"lyric", "[00:01.00]x"}}}});
    EXPECT_EQ(failureText([&] { client->lyric("1"); }), "网易云接口数据异常：歌词为空");
    server.answerJSON("/api/song/lyric", {{"nolyric", true}});
    EXPECT_EQ(failureText([&] { client->lyric("1"); }), "网易云接口数据异常：歌词为空");
}

TEST_F(NetEaseWebClientEndpointTest, PrivilegesAreKeyedById) {
    server.answerJSON("/api/song/enhance/privilege", {{"data",
                                                       {{{"id", 1}, {"st", 0}, {"maxbr", 320000}},
                                                        {{"id", "2"}, {"st", -200}},
                                                        {{"st", 0}},
                                                        {{"id", 1}, {"st", -1}}}}});
    auto privileges = client->privileges({"1", "2"});
    EXPECT_EQ(onlyTarget("/api/song/enhance/privilege"),
              "/api/song/enhance/privilege?ids=%5B1%2C2%5D");
    ASSERT_EQ(privileges.size(), 2u);
    EXPECT_EQ(privileges["1"]["st"], -1);
    EXPECT_EQ(privileges["2"]["st"], -200);
}

TEST_F(NetEaseWebClientEndpointTest, SongURLAndPlayableURL) {
    const std::string path = "/api/song/enhance/player/url/v1";
    server.answerJSON(path, {{"data",
                              {{{"id", 186016},
                                {"url", "http://m701.music.126.net/x/a.flac?vuutv=1"},
                                {"br", 999000},
                                {"size", 31234567},
                                {"type", "flac"},
                                {"level", "lossless"},
                                {"code", 200}}}}});
    auto quality = client->songURL("186016", "hires", "flac");
    EXPECT_EQ(quality, (NetEaseWebClient::TrackQuality{"lossless", 999000, 31234567, "flac"}));
    auto playable = client->playableURL("186016", "exhigh", "aac");
    EXPECT_EQ(playable.url, "https://m701.music.126.net/x/a.flac?vuutv=1");
    EXPECT_EQ(playable.quality.level, "lossless");
    auto requests = server.requests();
    EXPECT_EQ(requests[1].target, path + "?ids=%5B186016%5D&level=exhigh&encodeType=aac");

    // Missing fields: the level asked for, bitrate 0, no size, no format.
    server.answerJSON(path, {{"data", {{{"url", "https://m.example/a.mp3"}}}}});
    EXPECT_EQ(client->songURL("1", "standard", "aac"),
              (NetEaseWebClient::TrackQuality{"standard", 0, std::nullopt, std::nullopt}));

    server.answerJSON(path, {{"data", {{{"url", nullptr}, {"code", 404}}}}});
    EXPECT_EQ(failureText([&] { client->playableURL("1", "standard", "aac"); }),
              "网易云接口错误 404：没有可用播放地址");
    EXPECT_EQ(failureText([&] { client->songURL("1", "standard", "aac"); }),
              "网易云接口错误 404：没有可用播放地址");

    server.answerJSON(path, {{"data", json::array()}});
    EXPECT_EQ(failureText([&] { client->playableURL("1", "standard", "aac"); }),
              "网易云接口错误 0：没有可用播放地址");
    EXPECT_EQ(failureText([&] { client->songURL("1", "standard", "aac"); }),
              "网易云接口数据异常：播放地址为空");

    // Only the playable address must be a usable media address.
    server.answerJSON(path, {{"data", {{{"url", "ftp://m.example/a.mp3"}, {"code", 200}}}}});
    EXPECT_EQ(failureText([&] { client->playableURL("1", "standard", "aac"); }),
              "网易云接口错误 200：没有可用播放地址");
    EXPECT_EQ(client->songURL("1", "standard", "aac").level, "standard");
}

TEST_F(NetEaseWebClientEndpointTest, PlaylistDetail) {
    json tracks = json::array();
    for (int i = 1; i <= 20; ++i) tracks.push_back(song(i, "歌" + std::to_string(i)));
    server.answerJSON("/api/v6/playlist/detail", {{"playlist",
                                                   {{"name", "热歌榜"},
                                                    {"creator", {{"nickname", "网易云音乐"}}},
                                                    {"trackCount", 300},
                                                    {"tracks", tracks}}}});
    auto detail = client->playlistDetail("3778678", 1000);
    EXPECT_EQ(onlyTarget("/api/v6/playlist/detail"), "/api/v6/playlist/detail?id=3778678&n=1000");
    EXPECT_EQ(detail.list.size(), 20u);
    EXPECT_EQ(std::tuple(detail.total, detail.page, detail.limit), std::tuple(300, 1, 300));
    EXPECT_EQ(detail.info.name + detail.info.author, "热歌榜网易云音乐");

    server.answerJSON("/api/v6/playlist/detail",
                      {{"playlist", {{"name", "无总数"}, {"tracks", tracks}}}});
    auto counted = client->playlistDetail("1", 1000);
    EXPECT_EQ(std::tuple(counted.total, counted.limit), std::tuple(20, 20));

    server.answerJSON("/api/v6/playlist/detail",
                      {{"playlist",
                        {{"name", markedLetter(4096)},
                         {"creator", {{"nickname", markedLetters(500, 64)}}},
                         {"description", markedLetter(4096)},
                         {"tracks", tracks}}}});
    auto hostile = client->playlistDetail("1", 1000);
    EXPECT_EQ(hostile.info.name, keptMarkedLetter());
    EXPECT_EQ(hostile.info.author, keptMarkedLetters());
    EXPECT_EQ(hostile.info.desc, keptMarkedLetter());

    server.answerJSON("/api/v6/playlist/detail", {{"playlist", {{"id", 1}}}});
    EXPECT_EQ(failureText([&] { client->playlistDetail("1", 1000); }),
              "网易云接口数据异常：歌单信息缺失");
}

TEST_F(NetEaseWebClientEndpointTest, Account) {
    server.answerJSON("/api/nuser/account/get", {{"code", 200},
                                                 {"account", {{"id", 1}, {"vipType", 11}}},
                                                 {"profile", {{"nickname", "听歌的人"}}}});
    auto account = client->account();
    EXPECT_EQ(std::tuple(account.nickname, account.vipType), std::tuple("听歌的人", 11));
    server.answerJSON("/api/nuser/account/get", {{"profile", json::object()}});
    account = client->account();
    EXPECT_EQ(std::tuple(account.nickname, account.vipType), std::tuple("", 0));
    server.answerJSON("/api/nuser/account/get", {{"profile", {{"nickname", markedLetter(4096)}}}});
    EXPECT_EQ(client->account().nickname, keptMarkedLetter());

    server.answerJSON("/api/nuser/account/get", {{"code", 200}, {"account", nullptr}});
    EXPECT_EQ(failureText([&] { client->account(); }), "网易云接口数据异常：账号信息缺失");
}

}  // namespace
}  // namespace velto
