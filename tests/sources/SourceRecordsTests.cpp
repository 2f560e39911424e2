#include <gtest/gtest.h>

#include <unordered_set>

#include "sources/model/SourceArtworkURL.h"
#include "sources/model/SourceError.h"
#include "sources/model/SourceRecords.h"
#include "sources/model/SourceReleaseDate.h"
#include "support/HostileNames.h"

using namespace velto;
using nlohmann::json;

namespace {

// The message of the `Error` that `make` throws.
template <typename Error = SourceError, typename Make>
std::string refusal(Make make) {
    try {
        make();
    } catch (const Error& error) {
        return error.what();
    }
    return "(accepted)";
}

// Each record refused as no record of its type.
template <typename Record>
void expectRefused(std::initializer_list<json> records) {
    for (const json& record : records)
        EXPECT_THROW(Record::fromJSON(record), std::invalid_argument) << record.dump();
}

std::optional<std::string> artwork(const char* text) {
    return SourceArtworkURL::normalizedString(std::string(text));
}

std::optional<std::string> date(const char* text) {
    return SourceReleaseDate::normalizedString(std::string(text));
}

ArtistSummary artist(const std::string& id) {
    return ArtistSummary::make(id, MusicSource::wy, "歌手", std::nullopt, std::nullopt,
                               std::nullopt);
}

}  // namespace

TEST(SourceArtworkURL, UpgradesHttpAndRefusesUnsafeAddresses) {
    EXPECT_EQ(artwork("HTTP://p1.music.126.net/a/b.jpg?param=1"),
              "https://p1.music.126.net/a/b.jpg?param=1");
    EXPECT_EQ(artwork("  http://host:8080/x%20y.jpg\n"), "https://host:8080/x%20y.jpg");
    EXPECT_EQ(artwork("https://[::1]/c.png"), "https://[::1]/c.png");
    EXPECT_EQ(artwork("https://host"), "https://host");
    EXPECT_FALSE(artwork(""));
    EXPECT_FALSE(artwork(" \t\u3000"));
    EXPECT_FALSE(SourceArtworkURL::normalizedString(std::nullopt));

    for (const char* bad :
         {"ftp://host/a.jpg", "http:///a.jpg", "https:/a.jpg", "//host/a.jpg", "host/a.jpg",
          "http://user@host/a.jpg", "http://user:pw@host/a.jpg", "http://:pw@host/",
          "http://host:80x/", "http://ho st/a.jpg", "http://host/封面.jpg", "http://host/%zz",
          "1http://host/", "http://[::1/"}) {
        EXPECT_EQ(refusal([&] { artwork(bad); }), "音源返回封面地址异常") << bad;
    }
}

TEST(SourceReleaseDate, ReadsTheLeadingGregorianDate) {
    EXPECT_EQ(date("2023年5月1日"), "2023-05-01");
    EXPECT_EQ(date("2023.5.1"), "2023-05-01");
    EXPECT_EQ(date("2023/05/01 12:00"), "2023-05-01");
    EXPECT_EQ(date(" 2024-02-29 "), "2024-02-29");
    EXPECT_EQ(date("2000-02-29"), "2000-02-29");
    EXPECT_EQ(date("2023-05-012"), "2023-05-01");  // only the start has to match
    EXPECT_EQ(date("2023-1.9"), "2023-01-09");
    for (const char* bad :
         {"2023-02-30", "2023-13-01", "2023", "23-5-1", "1900-02-29", "2023-123-1", "2023-00-10",
          "2023-05-00", "0000-01-01", "2023年5日1", "x2023-05-01", "２０２３-05-01", "", "   "})
        EXPECT_FALSE(date(bad)) << bad;
    EXPECT_FALSE(SourceReleaseDate::normalizedString(std::nullopt));
}

TEST(ArtistSummary, TrimsIdentityAndDropsNegativeCounts) {
    auto summary =
        ArtistSummary::make(" 12 \n", MusicSource::wy, "\t周\u3000", "http://h/a.jpg", -1, 4);
    EXPECT_EQ(summary.id, "12");
    EXPECT_EQ(summary.name, "周");
    EXPECT_EQ(summary.imageURL, "https://h/a.jpg");
    EXPECT_FALSE(summary.songCount);
    EXPECT_EQ(summary.albumCount, 4);
    EXPECT_EQ(summary.stableID(), "wy_artist_12");

    EXPECT_EQ(refusal([] { artist("   "); }), "歌手结果缺少身份信息");
    EXPECT_EQ(refusal([] { ArtistSummary::make("1", MusicSource::wy, " ", std::nullopt, 1, 1); }),
              "歌手结果缺少身份信息");
    EXPECT_EQ(refusal([] { ArtistSummary::make("1", MusicSource::wy, "a", "ftp://h/x", 1, 1); }),
              "音源返回封面地址异常");

    auto decoded = ArtistSummary::fromJSON(summary.toJSON());
    EXPECT_EQ(decoded, summary);
    EXPECT_EQ(std::hash<ArtistSummary>{}(decoded), std::hash<ArtistSummary>{}(summary));
    // Stored values are taken as they are, but for a name's bounds.
    auto raw = ArtistSummary::fromJSON(
        json{{"id", " "}, {"source", "kg"}, {"name", ""}, {"songCount", -3}});
    EXPECT_EQ(raw.id, " ");
    EXPECT_EQ(raw.songCount, -3);
    auto hostile = ArtistSummary::fromJSON(json{{"id", "1"}, {"source", "wy"}, {"name", markedLetter(1 << 20)}});
    EXPECT_TRUE(hostile.name == keptMarkedLetter()) << hostile.name.size() << " bytes";
    EXPECT_EQ(ArtistSummary::make("1", MusicSource::wy, markedLetters(500, 2048), std::nullopt, 1, 1).name,
              keptMarkedLetters());
    expectRefused<ArtistSummary>({json{{"id", "1"}, {"source", "xx"}, {"name", "a"}},
                                  json{{"id", 1}, {"source", "wy"}, {"name", "a"}},
                                  json{{"id", "1"}, {"source", "wy"}, {"name", "a"}, {"songCount", 1.5}}});
}

TEST(AlbumSummary, NormalisesFieldsAndRefusesMissingIdentity) {
    auto album = AlbumSummary::make("7", MusicSource::wy, " 专辑 ", "  歌手 ", std::nullopt,
                                    "2023年5月1日", -2);
    EXPECT_EQ(album.name, "专辑");
    EXPECT_EQ(album.artist, "歌手");
    EXPECT_EQ(album.releaseDate, "2023-05-01");
    EXPECT_FALSE(album.trackCount);
    EXPECT_EQ(album.stableID(), "wy_album_7");
    EXPECT_EQ(AlbumSummary::make("7", MusicSource::wy, "a", "", "", "2023-02-30", 0).releaseDate,
              std::nullopt);
    EXPECT_EQ(refusal([] {
                  AlbumSummary::make("", MusicSource::wy, "a", "", std::nullopt, std::nullopt, 1);
              }),
              "专辑结果缺少身份信息");
    EXPECT_EQ(refusal([] {
                  AlbumSummary::make("1", MusicSource::wy, "a", "", "http://u:p@h/", std::nullopt,
                                     1);
              }),
              "音源返回封面地址异常");
    EXPECT_EQ(AlbumSummary::fromJSON(album.toJSON()), album);
    AlbumSummary hostile = album;
    hostile.name = markedLetters(500, 2048);
    hostile.artist = markedLetter(1 << 20);
    auto bounded = AlbumSummary::fromJSON(hostile.toJSON());
    EXPECT_TRUE(bounded.name == keptMarkedLetters()) << bounded.name.size() << " bytes";
    EXPECT_TRUE(bounded.artist == keptMarkedLetter()) << bounded.artist.size() << " bytes";
    std::unordered_set<AlbumSummary> set{album, album};
    EXPECT_EQ(set.size(), 1u);
    EXPECT_THROW(AlbumSummary::fromJSON(json{{"id", "1"}, {"source", "wy"}, {"name", "a"}}),
                 std::invalid_argument);  // "artist" is required
}

TEST(ArtistSearchPage, NormalisesPagingArguments) {
    std::vector<ArtistSummary> three{artist("1"), artist("2"), artist("3")};
    ArtistSearchPage page(three, -5, MusicSource::wy, 0, 0);
    EXPECT_EQ(page.page, 1);
    EXPECT_EQ(page.limit, 3);
    EXPECT_EQ(page.total, 3);
    EXPECT_FALSE(page.hasMore);

    EXPECT_TRUE(ArtistSearchPage(three, 100, MusicSource::wy, 1, 30).hasMore);
    EXPECT_TRUE(ArtistSearchPage(three, 100, MusicSource::wy, 3, 30).hasMore);
    EXPECT_FALSE(ArtistSearchPage(three, 90, MusicSource::wy, 3, 30).hasMore);
    EXPECT_FALSE(ArtistSearchPage(three, 100, MusicSource::wy, 1, 30, false).hasMore);
    EXPECT_TRUE(ArtistSearchPage(three, 0, MusicSource::wy, 9, 30, true).hasMore);
    EXPECT_FALSE(ArtistSearchPage({}, 100, MusicSource::wy, 1, 30, true).hasMore);
    ArtistSearchPage empty({}, 0, MusicSource::kg, -4, -1);
    EXPECT_EQ(empty.limit, 1);
    EXPECT_EQ(empty.page, 1);
    EXPECT_EQ(empty.source, MusicSource::kg);
    // Huge numbers compare without overflowing.
    auto big = std::numeric_limits<std::int64_t>::max();
    EXPECT_FALSE(ArtistSearchPage(three, big, MusicSource::wy, big, big).hasMore);
    EXPECT_TRUE(ArtistSearchPage(three, big, MusicSource::wy, big - 1, 1).hasMore);
}

TEST(PlaylistSummary, DecodesLenientlyWhereServicesDiffer) {
    auto numeric =
        PlaylistSummary::fromJSON(json{{"id", 3778678}, {"name", "歌单"}, {"source", "wy"}});
    EXPECT_EQ(numeric.id, "3778678");
    EXPECT_EQ(numeric.author, "");
    EXPECT_EQ(numeric.playCount, "");
    EXPECT_FALSE(numeric.img);
    EXPECT_EQ(numeric.key(), "wy:3778678");

    for (json id : {json(1.5), json(nullptr), json::array(), json(true)}) {
        EXPECT_EQ(refusal<std::invalid_argument>(
                      [&] { PlaylistSummary::fromJSON(json{{"id", id}, {"name", "a"}, {"source", "wy"}}); }),
                  "歌单缺少有效 ID")
            << id.dump();
    }
    expectRefused<PlaylistSummary>({json{{"name", "a"}, {"source", "wy"}},
                                    json{{"id", "1"}, {"name", "a"}, {"source", "wy"}, {"play_count", 12}},
                                    json{{"id", "1"}, {"name", "a"}}});

    PlaylistSummary full{"9", "n", "https://i", "作者", "1万", 20, "d", "2024", MusicSource::tx};
    auto coded = full.toJSON();
    EXPECT_EQ(coded["play_count"], "1万");
    EXPECT_EQ(PlaylistSummary::fromJSON(coded), full);

    PlaylistSummary hostile = full;
    hostile.name = markedLetter(1 << 20);
    hostile.author = markedLetters(500, 2048);
    hostile.desc = std::string(1 << 20, 'x');
    auto bounded = PlaylistSummary::fromJSON(hostile.toJSON());
    EXPECT_TRUE(bounded.name == keptMarkedLetter()) << bounded.name.size() << " bytes";
    EXPECT_TRUE(bounded.author == keptMarkedLetters()) << bounded.author.size() << " bytes";
    EXPECT_TRUE(bounded.desc == std::string(PlaylistSummary::longestDescription, 'x'))
        << bounded.desc.value_or("").size() << " bytes";
}

TEST(PlaylistCatalogPage, FillsMissingPagingFromTheList) {
    json list = json::array();
    for (int i = 0; i < 5; ++i) list.push_back({{"id", i}, {"name", "p"}, {"source", "wy"}});
    auto page = PlaylistCatalogPage::fromJSON(json{{"list", list}, {"source", "wy"}});
    EXPECT_EQ(page.total, 5);
    EXPECT_EQ(page.page, 1);
    EXPECT_EQ(page.limit, 20);
    EXPECT_EQ(page.list[4].id, "4");
    EXPECT_EQ(PlaylistCatalogPage::fromJSON(page.toJSON()), page);

    json many = json::array();
    for (int i = 0; i < 25; ++i) many.push_back({{"id", "x"}, {"name", "p"}, {"source", "wy"}});
    EXPECT_EQ(PlaylistCatalogPage::fromJSON(json{{"list", many}, {"source", "wy"}}).limit, 25);
    expectRefused<PlaylistCatalogPage>({json{{"source", "wy"}}, json{{"list", list}},
                                        json{{"list", list}, {"source", "wy"}, {"page", "2"}}});
}

TEST(SourceRecords, StrictRecordsRequireTheirKeys) {
    EXPECT_THROW(PlaylistDetailInfo::fromJSON(json{{"name", "a"}, {"author", "b"}}),
                 std::invalid_argument);
    PlaylistDetailInfo info{"a", std::nullopt, "d", "b", "3"};
    EXPECT_EQ(PlaylistDetailInfo::fromJSON(info.toJSON()), info);
    const PlaylistDetailInfo hostile{markedLetter(4096), std::nullopt, markedLetter(4096),
                                     markedLetters(500, 64), "3"};
    EXPECT_EQ(PlaylistDetailInfo::fromJSON(hostile.toJSON()),
              (PlaylistDetailInfo{keptMarkedLetter(), std::nullopt, keptMarkedLetter(),
                                  keptMarkedLetters(), "3"}));

    EXPECT_THROW(LyricInfo::fromJSON(json{{"tlyric", "x"}}), std::invalid_argument);
    LyricInfo lyric{"[00:01.00]歌", "译", std::nullopt, std::nullopt};
    EXPECT_EQ(LyricInfo::fromJSON(lyric.toJSON()), lyric);
    EXPECT_FALSE(lyric.toJSON().contains("rlyric"));

    expectRefused<SearchPage>({json{{"list", json::array()}, {"total", 1}},
                               json{{"list", json::object()}, {"total", 1}, {"allPage", 1}}});
    SearchPage search{{}, 12, 2};
    EXPECT_EQ(SearchPage::fromJSON(search.toJSON()).allPage, 2);
}

TEST(SourceRecords, PlaylistDetailNeverPagesAndOnlyTxHasCategories) {
    for (auto source : MusicSources::allCases) {
        PlaylistDetail detail{{Track{}}, 1000, 1, 10, source, {}};
        EXPECT_FALSE(detail.supportsPagination());
        EXPECT_FALSE(detail.hasMore());
    }
    EXPECT_TRUE(playlistCategories(MusicSource::wy).empty());
    EXPECT_TRUE(playlistCategories(MusicSource::local).empty());
    EXPECT_EQ(playlistCategories(MusicSource::tx),
              (std::vector<PlaylistCategory>{{"5", "最热"}, {"2", "最新"}}));
}
