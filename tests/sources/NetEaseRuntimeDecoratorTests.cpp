#include <gtest/gtest.h>

#include <climits>
#include <functional>
#include <memory>

#include "sources/NetEaseRuntimeDecorator.h"
#include "sources/SourceError.h"
#include "support/InMemoryNetEaseKeychain.h"
#include "support/NetEaseFakeServer.h"
#include "support/TempDir.h"

namespace velto {
namespace {

using json = nlohmann::json;

Track makeTrack(MusicSource source, const std::string& songmid, const std::string& title,
                const std::string& payload = "{}") {
    Track track;
    track.source = source;
    track.songmid = songmid;
    track.title = title;
    track.payload = payload;
    return track;
}

json song(std::int64_t id, const std::string& name) {
    return {{"id", id}, {"name", name}, {"ar", {{{"id", 1}, {"name", "歌手"}}}}, {"dt", 1000}};
}

json artists(int count) {
    json list = json::array();
    for (int i = 1; i <= count; ++i)
        list.push_back({{"id", i}, {"name", "歌手" + std::to_string(i)}});
    return list;
}

// The fallback runtime: records every call and answers with recognisable values.
class RecordingRuntime : public SourceRuntime {
  public:
    std::vector<std::string> calls;
    std::vector<std::string> tips{"base tip"};
    std::optional<std::vector<std::string>> hots;  // none: the interface's default failure
    std::optional<std::string> failure;            // thrown by lyric and hotSearch when set

    SearchPage search(const std::string& query, MusicSource source, int page,
                      std::stop_token) override {
        record("search", query, source, page);
        return {{}, 99, 4};
    }
    LyricInfo lyric(const Track& track, std::stop_token) override {
        record("lyric", track.songmid);
        if (failure) throw SourceError::source(*failure);
        return {"[00:00.00]base"};
    }
    std::string picURL(const Track& track, std::stop_token) override {
        record("picURL", track.songmid);
        return "https://base/cover.jpg";
    }
    std::vector<std::string> tipSearch(const std::string& query, std::stop_token) override {
        record("tipSearch", query);
        return tips;
    }
    std::vector<std::string> hotSearch(MusicSource source, std::stop_token stop) override {
        record("hotSearch", source);
        if (failure) throw SourceError::source(*failure);
        return hots ? *hots : SourceRuntime::hotSearch(source, stop);
    }
    PlaylistCatalogPage playlistSearch(const std::string& query, MusicSource source, int page,
                                       std::stop_token) override {
        record("playlistSearch", query, source, page);
        return {};
    }
    PlaylistCatalogPage playlistCatalog(MusicSource source, const std::string& sortId,
                                        const std::optional<std::string>& tagId, int page,
                                        std::stop_token) override {
        record("playlistCatalog", source, sortId + "/" + tagId.value_or("-"), page);
        return {};
    }
    PlaylistDetail playlistDetail(MusicSource source, const std::string& id, int page,
                                  std::stop_token) override {
        record("playlistDetail", source, id, page);
        return {};
    }
    ArtistSearchPage searchArtists(const std::string& query, MusicSource source, int page,
                                   std::stop_token) override {
        record("searchArtists3", query, source, page);
        return ArtistSearchPage({}, 0, source, 1, 1);
    }
    ArtistSearchPage searchArtists(const std::string& query, MusicSource source, int page,
                                   int limit, std::stop_token) override {
        record("searchArtists4", query, source, page, limit);
        return ArtistSearchPage({}, 0, source, 1, 1);
    }
    AlbumPage searchAlbums(const std::string& query, MusicSource source, int page, int limit,
                           std::stop_token) override {
        record("searchAlbums", query, source, page, limit);
        return {};
    }
    ArtistSummary artistDetail(const ArtistSummary& artist, std::stop_token) override {
        record("artistDetail", artist.id);
        return artist;
    }
    std::vector<Track> artistPopularTracks(const ArtistSummary& artist, std::stop_token) override {
        record("artistPopularTracks", artist.id);
        return {};
    }
    AlbumPage artistAlbums(const ArtistSummary& artist, int page, std::stop_token) override {
        record("artistAlbums", artist.id, page);
        return {};
    }
    AlbumDetail albumTracks(const AlbumSummary& album, std::stop_token) override {
        record("albumTracks", album.id);
        return {};
    }
    Track trackDetail(const Track& track, std::stop_token) override {
        record("trackDetail", track.songmid);
        auto refreshed = track;
        refreshed.title = "base detail";
        return refreshed;
    }

  private:
    static std::string text(const std::string& value) { return value; }
    static std::string text(MusicSource source) { return std::string(rawValue(source)); }
    static std::string text(int value) { return std::to_string(value); }
    template <typename... Args>
    void record(const std::string& name, const Args&... args) {
        std::string line = name;
        ((line += ":" + text(args)), ...);
        calls.push_back(line);
    }
};

class NetEaseRuntimeDecoratorTest : public ::testing::Test {
  protected:
    NetEaseRuntimeDecoratorTest() {
        NetEaseCookieStore store(nullptr, std::make_shared<InMemoryNetEaseKeychain>(), dir.path(),
                                 [](const std::string&) { return std::nullopt; });
        NetEaseWebClient::Options options;
        options.baseURL = server.baseURL();
        auto client = std::make_shared<NetEaseWebClient>(std::move(store), std::move(options));
        decorator = std::make_unique<NetEaseRuntimeDecorator>(base, client);
        stopped.request_stop();
    }

    // The query items of the last request to `path`.
    httplib::Params lastParams(const std::string& path) {
        httplib::Params params;
        for (const auto& request : server.requests()) {
            if (request.path == path) params = request.params;
        }
        return params;
    }
    std::string param(const std::string& path, const std::string& name) {
        auto params = lastParams(path);
        auto it = params.find(name);
        return it == params.end() ? "(none)" : it->second;
    }

    // The text of what `body` throws; cancellations are reported as such.
    static std::string failureText(const std::function<void()>& body) {
        try {
            body();
        } catch (const CancellationError&) {
            return "(cancelled)";
        } catch (const std::exception& error) {
            return error.what();
        }
        return "(answered)";
    }

    TempDir dir;
    NetEaseFakeServer server;
    std::shared_ptr<RecordingRuntime> base = std::make_shared<RecordingRuntime>();
    std::unique_ptr<NetEaseRuntimeDecorator> decorator;
    std::stop_source stopped;
    const std::string http500 = [] {
        return std::string(NetEaseWebClient::Failure::http(500).what());
    }();
};

TEST_F(NetEaseRuntimeDecoratorTest, SongSearchAndCatalogueAlwaysGoToTheBase) {
    EXPECT_EQ(decorator->search("晴天", MusicSource::wy, 2, {}).total, 99);
    decorator->playlistCatalog(MusicSource::wy, "hot", std::string("5"), 3, {});
    EXPECT_EQ(base->calls,
              (std::vector<std::string>{"search:晴天:wy:2", "playlistCatalog:wy:hot/5:3"}));
    EXPECT_TRUE(server.requests().empty());
}

TEST_F(NetEaseRuntimeDecoratorTest, OtherSourcesNeverTouchTheWebClient) {
    const auto tx = MusicSource::tx;
    const ArtistSummary artist{"7", tx, "a"};
    const AlbumSummary album{"8", tx, "b", "a"};
    const auto track = makeTrack(MusicSource::kg, "9", "t");
    decorator->lyric(track, {});
    base->hots = std::vector<std::string>{"base hot"};
    EXPECT_EQ(decorator->hotSearch(MusicSource::local, {}), *base->hots);
    decorator->playlistSearch("q", tx, 0, {});
    decorator->playlistDetail(tx, "p", 2, {});
    decorator->searchArtists("q", tx, 3, {});
    decorator->searchArtists("q", tx, 3, 7, {});
    decorator->searchAlbums("q", tx, 0, 9, {});
    decorator->artistDetail(artist, {});
    decorator->artistPopularTracks(artist, {});
    decorator->artistAlbums(artist, 2, {});
    decorator->albumTracks(album, {});
    EXPECT_EQ(decorator->trackDetail(track, {}).title, "base detail");
    EXPECT_EQ(base->calls,
              (std::vector<std::string>{
                  "lyric:9", "hotSearch:local", "playlistSearch:q:tx:0", "playlistDetail:tx:p:2",
                  // The three-argument form asks the base's paged form, 20 a page.
                  "searchArtists4:q:tx:3:20", "searchArtists4:q:tx:3:7", "searchAlbums:q:tx:0:9",
                  "artistDetail:7", "artistPopularTracks:7", "artistAlbums:7:2", "albumTracks:8",
                  "trackDetail:9"}));
    EXPECT_TRUE(server.requests().empty());

    base->failure = "QQ音乐音源暂不可用，已收藏的歌曲会保留。";
    EXPECT_EQ(failureText([&] { decorator->lyric(track, {}); }), *base->failure);
}

TEST_F(NetEaseRuntimeDecoratorTest, SuggestionsFallBackOnEveryFailureAndOnEmptyAnswers) {
    server.answerJSON("/api/search/suggest/keyword",
                      {{"result", {{"allMatch", {{{"keyword", "jay"}}}}}}});
    EXPECT_EQ(decorator->tipSearch("j", {}), std::vector<std::string>{"jay"});
    EXPECT_TRUE(base->calls.empty());

    json many = json::array();
    for (int i = 0; i < 9; ++i) many.push_back({{"keyword", "k" + std::to_string(i)}});
    server.answerJSON("/api/search/suggest/keyword", {{"result", {{"allMatch", many}}}});
    EXPECT_EQ(decorator->tipSearch("k", {}).size(), 8u);

    server.answerJSON("/api/search/suggest/keyword", {{"result", {{"allMatch", json::array()}}}});
    EXPECT_EQ(decorator->tipSearch("j", {}), std::vector<std::string>{"base tip"});
    server.answer("/api/search/suggest/keyword", {500, "{}"});
    EXPECT_EQ(decorator->tipSearch("j", {}), std::vector<std::string>{"base tip"});
    EXPECT_EQ(decorator->tipSearch("j", stopped.get_token()), std::vector<std::string>{"base tip"});
    EXPECT_EQ(base->calls.size(), 3u);
}

TEST_F(NetEaseRuntimeDecoratorTest, HotSearchesFallBackToTheBaseForNetEase) {
    json hots = json::array();
    for (int i = 0; i < 13; ++i) hots.push_back({{"first", "h" + std::to_string(i)}});
    server.answerJSON("/api/search/hot", {{"result", {{"hots", hots}}}});
    auto answer = decorator->hotSearch(MusicSource::wy, {});
    ASSERT_EQ(answer.size(), 12u);
    EXPECT_EQ(answer.front(), "h0");
    EXPECT_TRUE(base->calls.empty());

    base->hots = std::vector<std::string>{"base hot"};
    server.answerJSON("/api/search/hot", {{"result", {{"hots", json::array()}}}});
    EXPECT_EQ(decorator->hotSearch(MusicSource::wy, {}), *base->hots);
    server.answer("/api/search/hot", {500, "{}"});
    EXPECT_EQ(decorator->hotSearch(MusicSource::wy, {}), *base->hots);
    EXPECT_EQ(decorator->hotSearch(MusicSource::wy, stopped.get_token()), *base->hots);
    EXPECT_EQ(base->calls, std::vector<std::string>(3, "hotSearch:wy"));
}

TEST_F(NetEaseRuntimeDecoratorTest, HotSearchFailureIsNotHiddenByABaseWithoutHotSearches) {
    server.answer("/api/search/hot", {500, "{}"});
    EXPECT_EQ(failureText([&] { decorator->hotSearch(MusicSource::wy, {}); }), http500);
    base->hots = std::vector<std::string>{};
    EXPECT_EQ(failureText([&] { decorator->hotSearch(MusicSource::wy, {}); }), http500);
    EXPECT_EQ(failureText([&] { decorator->hotSearch(MusicSource::wy, stopped.get_token()); }),
              "(cancelled)");
    // A real failure of the base is its own.
    base->failure = "网络失败";
    EXPECT_EQ(failureText([&] { decorator->hotSearch(MusicSource::wy, {}); }), "网络失败");

    // Without a web failure there is nothing better to show than the base's answer.
    base->failure.reset();
    base->hots.reset();
    server.answerJSON("/api/search/hot", {{"result", {{"hots", json::array()}}}});
    EXPECT_EQ(failureText([&] { decorator->hotSearch(MusicSource::wy, {}); }),
              "音源运行时不支持热门搜索");
}

TEST_F(NetEaseRuntimeDecoratorTest, LyricsFallBackExceptOnCancellation) {
    const auto track = makeTrack(MusicSource::wy, "186016", "晴天");
    server.answerJSON("/api/song/lyric", {{"lrc", {{"lyric", "[00:01.00]web"}}}});
    EXPECT_EQ(decorator->lyric(track, {}).lyric, "[00:01.00]web");
    EXPECT_EQ(param("/api/song/lyric", "id"), "186016");

    EXPECT_EQ(failureText([&] { decorator->lyric(track, stopped.get_token()); }), "(cancelled)");
    EXPECT_TRUE(base->calls.empty());

    server.answerJSON("/api/song/lyric", {{"nolyric", true}});
    EXPECT_EQ(decorator->lyric(track, {}).lyric, "[00:00.00]base");
    base->failure = "网易云歌曲暂无歌词";
    EXPECT_EQ(failureText([&] { decorator->lyric(track, {}); }), "网易云歌曲暂无歌词");
    EXPECT_EQ(base->calls, std::vector<std::string>(2, "lyric:186016"));
}

TEST_F(NetEaseRuntimeDecoratorTest, CoverComesFromThePayloadWhenItHasAHost) {
    const std::string stored = "https://p1.music.126.net/c.jpg?param=300y300";
    EXPECT_EQ(decorator->picURL(
                  makeTrack(MusicSource::kg, "1", "t", json{{"picUrl", stored}}.dump()), {}),
              stored);
    EXPECT_TRUE(base->calls.empty());

    for (const auto& payload : {json{{"picUrl", "/img/c.jpg"}}, json{{"picUrl", 42}},
                                json{{"picUrl", "not an address"}}, json{{"img", stored}}}) {
        EXPECT_EQ(decorator->picURL(makeTrack(MusicSource::wy, "2", "t", payload.dump()), {}),
                  "https://base/cover.jpg")
            << payload;
    }
    EXPECT_EQ(decorator->picURL(makeTrack(MusicSource::wy, "3", "t", ""), {}),
              "https://base/cover.jpg");
    EXPECT_EQ(base->calls.size(), 5u);
    EXPECT_TRUE(server.requests().empty());
}

TEST_F(NetEaseRuntimeDecoratorTest, TrackDetailFallsBackOnEveryFailureAndOnNoSong) {
    const auto track = makeTrack(MusicSource::wy, "186016", "old");
    server.answerJSON("/api/song/detail", {{"songs", {song(186016, "晴天"), song(2, "二")}}});
    EXPECT_EQ(decorator->trackDetail(track, {}).title, "晴天");
    EXPECT_EQ(param("/api/song/detail", "ids"), "[186016]");
    EXPECT_TRUE(base->calls.empty());

    server.answerJSON("/api/song/detail", {{"songs", json::array()}});
    EXPECT_EQ(decorator->trackDetail(track, {}).title, "base detail");
    server.answer("/api/song/detail", {502, ""});
    EXPECT_EQ(decorator->trackDetail(track, {}).title, "base detail");
    EXPECT_EQ(decorator->trackDetail(track, stopped.get_token()).title, "base detail");
    EXPECT_EQ(base->calls, std::vector<std::string>(3, "trackDetail:186016"));
}

TEST_F(NetEaseRuntimeDecoratorTest, PlaylistSearchReportsThePageAsAsked) {
    server.answerJSON(
        "/api/search/get",
        {{"result", {{"playlists", {{{"id", 5}, {"name", "华语"}}}}, {"playlistCount", -3}}}});
    auto first = decorator->playlistSearch("华语", MusicSource::wy, 0, {});
    EXPECT_EQ(param("/api/search/get", "type"), "1000");
    EXPECT_EQ(param("/api/search/get", "offset"), "0");
    EXPECT_EQ(param("/api/search/get", "limit"), "20");
    EXPECT_EQ(first.page, 0);
    EXPECT_EQ(first.limit, 20);
    EXPECT_EQ(first.total, -3);
    EXPECT_EQ(first.source, MusicSource::wy);
    ASSERT_EQ(first.list.size(), 1u);
    EXPECT_EQ(first.list[0].id, "5");

    EXPECT_EQ(decorator->playlistSearch("华语", MusicSource::wy, 3, {}).page, 3);
    EXPECT_EQ(param("/api/search/get", "offset"), "40");
}

TEST_F(NetEaseRuntimeDecoratorTest, ArtistSearchPages) {
    server.answerJSON("/api/search/get",
                      {{"result", {{"artists", artists(3)}, {"artistCount", 30}}}});
    auto three = decorator->searchArtists("周", MusicSource::wy, 0, {});
    EXPECT_EQ(param("/api/search/get", "type"), "100");
    EXPECT_EQ(param("/api/search/get", "offset"), "0");
    EXPECT_EQ(param("/api/search/get", "limit"), "20");
    EXPECT_EQ(three.page, 1);
    EXPECT_EQ(three.limit, 20);
    EXPECT_TRUE(three.hasMore);

    server.answerJSON("/api/search/get",
                      {{"result", {{"artists", artists(7)}, {"artistCount", 7}}}});
    auto seven = decorator->searchArtists("周", MusicSource::wy, 1, 0, {});
    EXPECT_EQ(param("/api/search/get", "limit"), "0");
    EXPECT_EQ(seven.limit, 7);
    EXPECT_FALSE(seven.hasMore);

    server.answerJSON("/api/search/get", {{"result", {{"artistCount", 4}}}});
    auto none = decorator->searchArtists("周", MusicSource::wy, 2, 0, {});
    EXPECT_EQ(none.limit, 1);
    EXPECT_EQ(none.total, 4);
    EXPECT_FALSE(none.hasMore);

    server.answerJSON("/api/search/get",
                      {{"result", {{"artists", artists(5)}, {"artistCount", -1}}}});
    EXPECT_EQ(decorator->searchArtists("周", MusicSource::wy, 1, 20, {}).total, 5);

    // A negative page size sends offset 0 and the size as given.
    decorator->searchArtists("周", MusicSource::wy, 3, -5, {});
    EXPECT_EQ(param("/api/search/get", "offset"), "0");
    EXPECT_EQ(param("/api/search/get", "limit"), "-5");

    server.answerJSON("/api/search/get",
                      {{"result", {{"artists", artists(20)}, {"artistCount", 100}}}});
    EXPECT_FALSE(decorator->searchArtists("周", MusicSource::wy, 5, 20, {}).hasMore);
    EXPECT_EQ(param("/api/search/get", "offset"), "80");
    EXPECT_TRUE(decorator->searchArtists("周", MusicSource::wy, 4, 20, {}).hasMore);
    EXPECT_TRUE(base->calls.empty());
}

TEST_F(NetEaseRuntimeDecoratorTest, HugePagesNeverWrapTheOffset) {
    server.answerJSON("/api/search/get",
                      {{"result", {{"artists", artists(1)}, {"artistCount", LLONG_MAX}}}});
    auto last = decorator->searchArtists("周", MusicSource::wy, INT_MAX, INT_MAX, {});
    EXPECT_EQ(param("/api/search/get", "offset"), "4611686011984936962");
    EXPECT_EQ(last.page, INT_MAX);
    EXPECT_TRUE(last.hasMore);

    server.answerJSON("/api/search/get", {{"result", {{"albums", json::array()}}}});
    decorator->searchAlbums("叶", MusicSource::wy, INT_MAX, 30, {});
    EXPECT_EQ(param("/api/search/get", "offset"), "64424509380");
    decorator->searchAlbums("叶", MusicSource::wy, INT_MIN, 30, {});
    EXPECT_EQ(param("/api/search/get", "offset"), "0");

    EXPECT_EQ(NetEaseRuntimeDecorator::pageOffset(LLONG_MIN, 20), 0);
    EXPECT_THROW(NetEaseRuntimeDecorator::pageOffset(LLONG_MAX, 2), SourceError);
}

TEST_F(NetEaseRuntimeDecoratorTest, AlbumsOfSearchesAndArtists) {
    server.answerJSON(
        "/api/search/get",
        {{"result", {{"albums", {{{"id", 1}, {"name", "叶惠美"}}}}, {"albumCount", 61}}}});
    auto found = decorator->searchAlbums("叶", MusicSource::wy, 3, 30, {});
    EXPECT_EQ(param("/api/search/get", "type"), "10");
    EXPECT_EQ(param("/api/search/get", "offset"), "60");
    EXPECT_EQ(param("/api/search/get", "limit"), "30");
    EXPECT_EQ(found.total, 61);
    EXPECT_EQ(found.list.size(), 1u);

    server.answerJSON("/api/artist/albums/6452",
                      {{"hotAlbums", {{{"id", 1}, {"name", "一"}}, {{"id", 2}, {"name", "二"}}}}});
    ArtistSummary artist{"6452", MusicSource::wy, "周杰伦"};
    auto counted = decorator->artistAlbums(artist, 2, {});
    EXPECT_EQ(param("/api/artist/albums/6452", "offset"), "24");
    EXPECT_EQ(param("/api/artist/albums/6452", "limit"), "24");
    EXPECT_EQ(counted.total, 2);
    ASSERT_EQ(counted.list.size(), 2u);
    EXPECT_EQ(counted.list[1].name, "二");
    artist.albumCount = 57;
    EXPECT_EQ(decorator->artistAlbums(artist, 0, {}).total, 57);
    EXPECT_EQ(param("/api/artist/albums/6452", "offset"), "0");
    EXPECT_TRUE(base->calls.empty());
}

TEST_F(NetEaseRuntimeDecoratorTest, NetEasePagesComeFromTheWeb) {
    server.answerJSON("/api/v1/artist/6452",
                      {{"artist", {{"id", 6452}, {"name", "周杰伦"}, {"musicSize", 515}}},
                       {"hotSongs", {song(2, "二"), song(1, "一")}}});
    ArtistSummary asked{"6452", MusicSource::wy, "旧名"};
    asked.albumCount = 41;
    auto artist = decorator->artistDetail(asked, {});
    EXPECT_EQ(artist.name, "周杰伦");
    EXPECT_EQ(artist.songCount, 515);
    EXPECT_EQ(artist.albumCount, std::nullopt);
    auto tracks = decorator->artistPopularTracks(asked, {});
    ASSERT_EQ(tracks.size(), 2u);
    EXPECT_EQ(tracks[0].title, "二");

    server.answerJSON("/api/v6/playlist/detail",
                      {{"playlist", {{"name", "歌单"}, {"tracks", {song(1, "一")}}}}});
    auto playlist = decorator->playlistDetail(MusicSource::wy, "77", 5, {});
    EXPECT_EQ(param("/api/v6/playlist/detail", "n"), "1000");
    EXPECT_EQ(param("/api/v6/playlist/detail", "id"), "77");
    EXPECT_EQ(playlist.info.name, "歌单");

    server.answerJSON("/api/v1/album/9",
                      {{"album", {{"id", 9}, {"name", "专辑"}}}, {"songs", {song(1, "一")}}});
    auto album = decorator->albumTracks(AlbumSummary{"9", MusicSource::wy, "?", ""}, {});
    EXPECT_EQ(album.album.name, "专辑");
    EXPECT_EQ(album.tracks.size(), 1u);
    EXPECT_TRUE(base->calls.empty());
}

TEST_F(NetEaseRuntimeDecoratorTest, NetEasePageFailuresAndCancellationsArePassedOn) {
    const ArtistSummary artist{"404", MusicSource::wy, "a"};
    const auto stop = stopped.get_token();
    server.answer("/api/search/get", {500, "{}"});
    EXPECT_EQ(failureText([&] { decorator->searchAlbums("q", MusicSource::wy, 1, 20, {}); }),
              http500);
    EXPECT_EQ(failureText([&] { decorator->searchArtists("q", MusicSource::wy, 1, {}); }), http500);
    EXPECT_EQ(failureText([&] { decorator->playlistSearch("q", MusicSource::wy, 1, {}); }),
              http500);
    EXPECT_EQ(failureText([&] { decorator->artistDetail(artist, {}); }),
              NetEaseWebClient::Failure::http(404).what());
    EXPECT_EQ(failureText([&] { decorator->artistAlbums(artist, 1, stop); }), "(cancelled)");
    EXPECT_EQ(failureText([&] { decorator->artistPopularTracks(artist, stop); }), "(cancelled)");
    EXPECT_EQ(failureText([&] { decorator->playlistDetail(MusicSource::wy, "1", 1, stop); }),
              "(cancelled)");
    EXPECT_EQ(failureText([&] {
                  decorator->albumTracks(AlbumSummary{"1", MusicSource::wy, "b", ""}, stop);
              }),
              "(cancelled)");
    EXPECT_TRUE(base->calls.empty());
}

}  // namespace
}  // namespace velto
