#include <gtest/gtest.h>

#include <climits>

#include "sources/netease/NetEaseWebClient.h"
#include "support/HostileNames.h"

namespace velto {
namespace {

using json = nlohmann::json;
using Client = NetEaseWebClient;

json payloadOf(const Track& track) {
    return json::parse(track.payload);
}

std::optional<std::int64_t> intOf(const json& value) {
    return Client::intValue(&value);
}

TEST(NetEaseIntegerReadingTest, ReadsNumbersAndSignedDecimalTexts) {
    EXPECT_EQ(Client::intValue(nullptr), std::nullopt);
    EXPECT_EQ(intOf(42), 42);
    EXPECT_EQ(intOf(-3.9), -3);
    EXPECT_EQ(intOf("+42"), 42);
    EXPECT_EQ(intOf("-7"), -7);
    EXPECT_EQ(intOf("9223372036854775807"), INT64_MAX);
    for (const json& value :
         {json(""), json(" 42"), json("4.2"), json("+"), json("9223372036854775808"), json(nullptr),
          json::array(), json::object(), json(true)}) {
        EXPECT_EQ(intOf(value), std::nullopt) << value.dump();
    }
}

TEST(NetEaseTrackParsingTest, NeedsAnIntegerIdAndATextName) {
    auto fromText = Client::trackFrom({{"id", "42"}, {"name", "a"}});
    auto fromNumber = Client::trackFrom({{"id", 42}, {"name", "a"}});
    ASSERT_TRUE(fromText && fromNumber);
    EXPECT_EQ(fromText->songmid, "42");
    EXPECT_EQ(*fromText, *fromNumber);
    EXPECT_FALSE(Client::trackFrom({{"id", " 42"}, {"name", "a"}}));
    EXPECT_FALSE(Client::trackFrom({{"id", 42}, {"name", 1}}));
    EXPECT_FALSE(Client::trackFrom({{"name", "a"}}));
    // An empty name is a song all the same.
    EXPECT_TRUE(Client::trackFrom({{"id", 1}, {"name", ""}}));
}

TEST(NetEaseTrackParsingTest, ArtistsComeFromArEvenWhenEmpty) {
    auto emptyAr = Client::trackFrom({{"id", 1},
                                      {"name", "a"},
                                      {"ar", json::array()},
                                      {"artists", {{{"id", 2}, {"name", "x"}}, {{"name", "y"}}}}});
    ASSERT_TRUE(emptyAr);
    EXPECT_EQ(emptyAr->artist, "");
    EXPECT_FALSE(payloadOf(*emptyAr).contains("artistID"));

    // "ar" that is not a list of objects counts as missing.
    auto fallback = Client::trackFrom({{"id", 1},
                                       {"name", "a"},
                                       {"ar", {1, 2}},
                                       {"artists", {{{"id", 2}, {"name", "x"}}, {{"name", "y"}}}}});
    ASSERT_TRUE(fallback);
    EXPECT_EQ(fallback->artist, "x/y");
    EXPECT_EQ(payloadOf(*fallback)["artistID"], 2);
    EXPECT_EQ(payloadOf(*fallback)["artistName"], "x");

    auto nameless = Client::trackFrom(
        {{"id", 1}, {"name", "a"}, {"ar", {{{"id", 7}}, {{"name", ""}}, {{"name", "z"}}}}});
    ASSERT_TRUE(nameless);
    EXPECT_EQ(nameless->artist, "/z");  // an empty name stays, a missing one is left out
    EXPECT_EQ(payloadOf(*nameless)["artistID"], 7);
    EXPECT_FALSE(payloadOf(*nameless).contains("artistName"));

    auto idless = Client::trackFrom({{"id", 1}, {"name", "a"}, {"ar", {{{"name", "x"}}}}});
    EXPECT_FALSE(payloadOf(*idless).contains("artistID"));
    EXPECT_FALSE(payloadOf(*idless).contains("artistName"));

    // Hostile songs: one of 20,000 artists, one whose artist is named with one character of 1 MB.
    auto crowd = json::array();
    std::string joined;
    for (int i = 0; i < 20'000; ++i) {
        crowd.push_back({{"name", std::to_string(i)}});
        if (std::size_t(i) < Track::mostArtists) joined += (i ? "/" : "") + std::to_string(i);
    }
    auto crowded = Client::trackFrom({{"id", 1}, {"name", "a"}, {"ar", crowd}});
    ASSERT_TRUE(crowded);
    EXPECT_EQ(crowded->artist, joined);
    const std::string huge = markedLetter(1 << 20);
    auto named = Client::trackFrom({{"id", 1}, {"name", "a"}, {"ar", {{{"id", 3}, {"name", huge}}}}});
    ASSERT_TRUE(named);
    EXPECT_TRUE(named->artist == keptMarkedLetter())
        << named->artist.size() << " bytes";
    EXPECT_EQ(payloadOf(*named)["artistName"], named->artist);
}

TEST(NetEaseTrackParsingTest, AlbumAndCover) {
    auto withAl = Client::trackFrom(
        {{"id", 1},
         {"name", "a"},
         {"picUrl", "http://song/p.jpg"},
         {"al", {{"id", "18905"}, {"name", "远山集"}, {"picUrl", "http://al/p.jpg"}}},
         {"album", {{"name", "ignored"}}}});
    ASSERT_TRUE(withAl);
    EXPECT_EQ(withAl->album, "远山集");
    EXPECT_EQ(payloadOf(*withAl)["picUrl"], "http://al/p.jpg");
    EXPECT_EQ(payloadOf(*withAl)["albumID"], 18905);

    auto songCover = Client::trackFrom(
        {{"id", 1}, {"name", "a"}, {"picUrl", "http://song/p.jpg"}, {"album", {{"name", "b"}}}});
    EXPECT_EQ(songCover->album, "b");
    EXPECT_EQ(payloadOf(*songCover)["picUrl"], "http://song/p.jpg");
    EXPECT_FALSE(payloadOf(*songCover).contains("albumID"));

    auto bare = Client::trackFrom({{"id", 1}, {"name", "a"}});
    EXPECT_EQ(bare->album, "");
    EXPECT_FALSE(payloadOf(*bare).contains("picUrl"));
    EXPECT_EQ(payloadOf(*bare)["types"], json::array());
    EXPECT_EQ(payloadOf(*bare)["singer"], "");
}

TEST(NetEaseTrackParsingTest, IntervalFromMilliseconds) {
    auto interval = [](const json& fields) {
        json song = {{"id", 1}, {"name", "a"}};
        song.update(fields);
        return Client::trackFrom(song)->interval;
    };
    EXPECT_EQ(interval({{"dt", 185999}}), "03:05");
    EXPECT_EQ(interval({{"duration", 60000}}), "01:00");
    EXPECT_EQ(interval({{"dt", "x"}, {"duration", 60000}}), "01:00");
    EXPECT_EQ(interval({{"dt", -5000}}), "00:00");
    EXPECT_EQ(interval({{"dt", 3725000}}), "62:05");
    EXPECT_EQ(interval({{"dt", 999}}), "00:00");
    EXPECT_EQ(interval(json::object()), std::nullopt);
}

TEST(NetEaseTrackParsingTest, QualityTypesFromLowestToHighest) {
    EXPECT_EQ(Client::qualityTypes({{"l", {{"size", 0}, {"filesize", 3000000}}}}), json::array());
    EXPECT_EQ(Client::qualityTypes({{"l", {{"filesize", 3000000}}}}),
              json::parse(R"([{"type":"128k","size":"3000000"}])"));
    EXPECT_EQ(Client::qualityTypes({{"l", {{"size", "x"}, {"filesize", "12"}}}}),
              json::parse(R"([{"type":"128k","size":"12"}])"));
    auto types = Client::qualityTypes({{"hr", {{"size", 90}}},
                                       {"sq", {{"size", 50}}},
                                       {"h", {{"size", 10}}},
                                       {"l", nullptr},
                                       {"m", {{"size", 5}}}});
    EXPECT_EQ(types, json::parse(R"([{"type":"320k","size":"10"},{"type":"flac","size":"50"},
                                     {"type":"flac24bit","size":"90"}])"));
    EXPECT_EQ(Client::qualityTypes({{"h", {{"size", -1}}}}), json::array());
}

TEST(NetEaseTrackParsingTest, StatusFeeAndPrivilegeAreKept) {
    auto blocked = Client::trackFrom({{"id", 1},
                                      {"name", "a"},
                                      {"st", "-200"},
                                      {"fee", 1},
                                      {"privilege", {{"st", 0}, {"status", -1}}}});
    ASSERT_TRUE(blocked);
    auto payload = payloadOf(*blocked);
    EXPECT_EQ(payload["st"], -200);
    EXPECT_EQ(payload["fee"], 1);
    EXPECT_EQ(payload["privilege"]["status"], -1);
    EXPECT_FALSE(blocked->isPlayable());
    auto plain = Client::trackFrom({{"id", 1}, {"name", "a"}, {"st", "x"}, {"privilege", 3}});
    EXPECT_FALSE(payloadOf(*plain).contains("st"));
    EXPECT_FALSE(payloadOf(*plain).contains("privilege"));
}

TEST(NetEaseArtistParsingTest, IdNameImageAndCounts) {
    auto artist = Client::artistFrom({{"artistId", 6452},
                                      {"name", " 林远舟 "},
                                      {"img1v1Url", "http://p1.music.126.net/x.jpg"},
                                      {"songSize", 12},
                                      {"albumSize", -1}});
    ASSERT_TRUE(artist);
    EXPECT_EQ(artist->id, "6452");
    EXPECT_EQ(artist->name, "林远舟");
    EXPECT_EQ(artist->imageURL, "https://p1.music.126.net/x.jpg");
    EXPECT_EQ(artist->songCount, 12);
    EXPECT_EQ(artist->albumCount, std::nullopt);
    EXPECT_EQ(artist->source, MusicSource::wy);

    EXPECT_FALSE(Client::artistFrom({{"id", 1}, {"name", "   "}}));
    EXPECT_FALSE(Client::artistFrom({{"name", "无编号"}}));
    EXPECT_FALSE(Client::artistFrom({{"id", 1}, {"name", "a"}, {"picUrl", "ftp://x/a.jpg"}}));
    EXPECT_EQ(Client::artistFrom({{"id", 1},
                                  {"name", "a"},
                                  {"picUrl", "http://a/1.jpg"},
                                  {"musicSize", 3},
                                  {"songSize", 4}})
                  ->songCount,
              3);

    // A megabyte keeps what a script writes, whether it makes one character or 500.
    for (const auto& [name, kept] : {std::pair(markedLetter(1 << 20), keptMarkedLetter()),
                                     std::pair(markedLetters(500, 2048), keptMarkedLetters())}) {
        auto hostile = Client::artistFrom({{"id", 1}, {"name", name}});
        ASSERT_TRUE(hostile);
        EXPECT_TRUE(hostile->name == kept) << hostile->name.size() << " bytes";
    }
}

TEST(NetEaseAlbumParsingTest, ArtistDateImageAndCount) {
    auto album = Client::albumFrom({{"id", 18905},
                                    {"name", "远山集"},
                                    {"artist", {{"id", 1}}},
                                    {"artists", {{{"name", " 林远舟 "}}}},
                                    {"publishTime", 0},
                                    {"trackCount", 11}});
    ASSERT_TRUE(album);
    EXPECT_EQ(album->artist, "林远舟");
    EXPECT_EQ(album->releaseDate, "1970-01-01");
    EXPECT_EQ(album->trackCount, 11);
    EXPECT_EQ(album->imageURL, std::nullopt);

    auto early = Client::albumFrom({{"id", 1}, {"name", "a"}, {"publishTime", -1}});
    EXPECT_EQ(early->releaseDate, "1969-12-31");
    EXPECT_EQ(early->artist, "");
    EXPECT_FALSE(Client::albumFrom({{"id", 1}}));
    EXPECT_FALSE(Client::albumFrom({{"id", 1}, {"name", " "}}));

    auto hostile = Client::albumFrom({{"id", 1},
                                      {"name", markedLetters(500, 2048)},
                                      {"artist", {{"name", markedLetter(1 << 20)}}}});
    ASSERT_TRUE(hostile);
    EXPECT_TRUE(hostile->name == keptMarkedLetters()) << hostile->name.size() << " bytes";
    EXPECT_TRUE(hostile->artist == keptMarkedLetter()) << hostile->artist.size() << " bytes";
}

TEST(NetEaseDateStringTest, UtcCalendarDates) {
    EXPECT_EQ(Client::dateString(0), "1970-01-01");
    EXPECT_EQ(Client::dateString(86'399'999), "1970-01-01");
    EXPECT_EQ(Client::dateString(-1), "1969-12-31");
    EXPECT_EQ(Client::dateString(-86'400'000), "1969-12-31");
    EXPECT_EQ(Client::dateString(-86'400'001), "1969-12-30");
    EXPECT_EQ(Client::dateString(951'782'400'000), "2000-02-29");
    EXPECT_EQ(Client::dateString(1'059'580'800'000), "2003-07-30");
    // Extremes must not overflow.
    EXPECT_FALSE(Client::dateString(INT64_MAX).empty());
    EXPECT_FALSE(Client::dateString(INT64_MIN).empty());
}

TEST(NetEasePlaylistParsingTest, DefaultsForMissingFields) {
    auto playlist = Client::playlistFrom({{"id", "99"}, {"name", " 歌单 "}, {"img", "i.jpg"}});
    ASSERT_TRUE(playlist);
    EXPECT_EQ(playlist->id, "99");
    EXPECT_EQ(playlist->name, " 歌单 ");  // nothing here is trimmed
    EXPECT_EQ(playlist->img, "i.jpg");
    EXPECT_EQ(playlist->author, "");
    EXPECT_EQ(playlist->playCount, "");
    EXPECT_EQ(playlist->total, std::nullopt);
    EXPECT_EQ(playlist->time, std::nullopt);
    EXPECT_FALSE(Client::playlistFrom({{"id", 1}}));
    EXPECT_EQ(Client::playlistFrom({{"id", 1.5}, {"name", "a"}})->id, "1");

    // Names are cut as a song's; a description, never shown on one line, keeps more.
    auto hostile = Client::playlistFrom({{"id", 1},
                                         {"name", markedLetter(1 << 20)},
                                         {"creator", {{"nickname", markedLetters(500, 2048)}}},
                                         {"description", std::string(1 << 20, 'x')}});
    ASSERT_TRUE(hostile);
    EXPECT_TRUE(hostile->name == keptMarkedLetter()) << hostile->name.size() << " bytes";
    EXPECT_TRUE(hostile->author == keptMarkedLetters()) << hostile->author.size() << " bytes";
    EXPECT_TRUE(hostile->desc == std::string(PlaylistSummary::longestDescription, 'x'))
        << hostile->desc.value_or("").size() << " bytes";
}

TEST(NetEaseMediaURLTest, AcceptsOnlyHttpAddressesWithAHost) {
    EXPECT_EQ(Client::mediaURL("http://m7.music.126.net/a.mp3?x=1"),
              "https://m7.music.126.net/a.mp3?x=1");
    EXPECT_EQ(Client::mediaURL("HTTPS://m7.music.126.net/a.mp3"), "https://m7.music.126.net/a.mp3");
    EXPECT_EQ(Client::mediaURL("http://127.0.0.1:8080/a"), "https://127.0.0.1:8080/a");
    for (const char* text : {"/relative/a.mp3", "http:///a.mp3", "ftp://m7/a.mp3",
                             "file:///tmp/a.mp3", "http://m7/a b.mp3", "", "http://m7:port/a"}) {
        EXPECT_EQ(Client::mediaURL(text), std::nullopt) << text;
    }
}

}  // namespace
}  // namespace velto
