#include <gtest/gtest.h>

#include "sources/model/SourceError.h"
#include "sources/model/SourceRuntime.h"

using namespace velto;

namespace {

// Implements only what every back end must.
class MinimalRuntime : public SourceRuntime {
  public:
    SearchPage search(const std::string&, MusicSource, int, std::stop_token) override { return {}; }
    LyricInfo lyric(const Track&, std::stop_token) override { return {"[00:00.00]"}; }
    std::string picURL(const Track&, std::stop_token) override { return "https://h/c.jpg"; }
    std::vector<std::string> tipSearch(const std::string&, std::stop_token) override { return {}; }
};

// Offers only the three-argument artist search.
class ArtistRuntime : public MinimalRuntime {
  public:
    using SourceRuntime::searchArtists;
    ArtistSearchPage searchArtists(const std::string& query, MusicSource source, int page,
                                   std::stop_token) override {
        lastQuery = query;
        auto artist =
            ArtistSummary::make("1", source, query, std::nullopt, std::nullopt, std::nullopt);
        return ArtistSearchPage({artist}, 50, source, page, 10);
    }
    std::string lastQuery;
};

std::string failure(auto call) {
    try {
        call();
    } catch (const SourceError& error) {
        EXPECT_EQ(error.kind(), SourceError::Kind::source);
        return error.what();
    }
    return "(answered)";
}

}  // namespace

TEST(SourceRuntime, DefaultsFailWithFixedMessages) {
    MinimalRuntime runtime;
    std::stop_token stop;
    ArtistSummary artist{"1", MusicSource::wy, "a"};
    AlbumSummary album{"2", MusicSource::wy, "b", ""};
    EXPECT_EQ(failure([&] { runtime.hotSearch(MusicSource::wy, stop); }),
              "音源运行时不支持热门搜索");
    EXPECT_EQ(failure([&] { runtime.playlistSearch("q", MusicSource::wy, 1, stop); }),
              "音源运行时不支持歌单搜索");
    EXPECT_EQ(
        failure([&] { runtime.playlistCatalog(MusicSource::tx, "5", std::nullopt, 1, stop); }),
        "音源运行时不支持歌单广场");
    EXPECT_EQ(failure([&] { runtime.playlistDetail(MusicSource::wy, "9", 1, stop); }),
              "音源运行时不支持歌单详情");
    EXPECT_EQ(failure([&] { runtime.searchAlbums("q", MusicSource::wy, 1, 30, stop); }),
              "音源运行时不支持专辑搜索");
    EXPECT_EQ(failure([&] { runtime.artistPopularTracks(artist, stop); }),
              "音源运行时不支持歌手热门歌曲");
    EXPECT_EQ(failure([&] { runtime.artistAlbums(artist, 1, stop); }), "音源运行时不支持歌手专辑");
    EXPECT_EQ(failure([&] { runtime.albumTracks(album, stop); }), "音源运行时不支持专辑曲目");
}

TEST(SourceRuntime, DefaultsEchoInputsAndAnswerEmptyArtistPages) {
    MinimalRuntime runtime;
    std::stop_token stop;
    ArtistSummary artist{"1", MusicSource::wy, "a", "https://i", 3, std::nullopt};
    EXPECT_EQ(runtime.artistDetail(artist, stop), artist);
    Track track{MusicSource::wy, "42", "t", "a", "", "03:25", "{\"x\":1}"};
    EXPECT_EQ(runtime.trackDetail(track, stop), track);

    for (auto page : {runtime.searchArtists("q", MusicSource::kg, 7, stop),
                      runtime.searchArtists("q", MusicSource::kg, 3, 50, stop)}) {
        EXPECT_TRUE(page.list.empty());
        EXPECT_EQ(page.total, 0);
        EXPECT_EQ(page.page, 1);
        EXPECT_EQ(page.limit, 1);
        EXPECT_FALSE(page.hasMore);
        EXPECT_EQ(page.source, MusicSource::kg);
    }
}

TEST(SourceRuntime, FourArgumentArtistSearchFallsBackToThreeArgumentOne) {
    ArtistRuntime runtime;
    SourceRuntime& shared = runtime;
    auto page = shared.searchArtists("周", MusicSource::wy, 2, 99, std::stop_token());
    EXPECT_EQ(runtime.lastQuery, "周");
    EXPECT_EQ(page.page, 2);
    EXPECT_EQ(page.limit, 10);  // the conformer's own size, not the one asked for
    EXPECT_EQ(page.list.at(0).name, "周");
    EXPECT_TRUE(page.hasMore);
}
