#include <gtest/gtest.h>

#include <limits>
#include <thread>

#include "sources/model/JsonReading.h"
#include "sources/model/MusicSource.h"
#include "sources/model/Quality.h"
#include "sources/model/SourceError.h"
#include "sources/model/Track.h"
#include "sources/model/TrackPayloadCache.h"
#include "support/HostileNames.h"
#include "support/SourceErrorOf.h"

using namespace velto;
using nlohmann::json;

namespace {

json record(json extra = json::object()) {
    json raw = {{"songmid", "42"}, {"name", "雾中河"}, {"singer", "某人"}};
    for (auto& [key, value] : extra.items()) raw[key] = value;
    return raw;
}

Track trackWithPayload(const std::string& payload) {
    Track track;
    track.songmid = "1";
    track.payload = payload;
    return track;
}

void expectMissingInfo(const json& raw) {
    EXPECT_EQ(sourceErrorOf([&] { Track::fromRaw(MusicSource::wy, raw); }), "搜索结果缺少曲目信息")
        << raw.dump();
}

}  // namespace

TEST(MusicSource, RawValuesListsAndEnabling) {
    EXPECT_EQ(musicSourceFromRaw("local"), MusicSource::local);
    EXPECT_FALSE(musicSourceFromRaw("WY"));
    EXPECT_FALSE(musicSourceFromRaw(""));
    EXPECT_TRUE(isEnabled(MusicSource::wy));
    EXPECT_TRUE(isEnabled(MusicSource::local));
    EXPECT_FALSE(isEnabled(MusicSource::kg));
    for (auto source : MusicSources::allCases) EXPECT_FALSE(supportsCatalog(source));
    EXPECT_NO_THROW(requireEnabled(MusicSource::wy));
    EXPECT_NO_THROW(requireEnabled(MusicSource::local));
    EXPECT_EQ(sourceErrorOf([] { requireEnabled(MusicSource::tx); }, std::nullopt),
              "QQ音源暂不可用，已收藏的歌曲会保留。");
    EXPECT_THROW(requireEnabled(MusicSource::kg), SourceError);
}

TEST(Quality, RanksFollowDeclarationAndListsRunBothWays) {
    EXPECT_EQ(qualityFromRaw("flac24bit"), Quality::hiRes);
    EXPECT_FALSE(qualityFromRaw("FLAC"));
    EXPECT_LT(Quality::high, Quality::lossless);
    auto descending = Qualities::descendingOrder;
    std::reverse(descending.begin(), descending.end());
    EXPECT_EQ(descending, Qualities::allCases);
    for (auto quality : Qualities::allCases) EXPECT_EQ(qualityFromRaw(rawValue(quality)), quality);
}

TEST(SourceError, DescribesItselfWithTheUserText) {
    auto network = SourceError::network(std::make_exception_ptr(std::runtime_error("timeout")));
    EXPECT_STREQ(network.what(), "网络失败");
    EXPECT_TRUE(network.underlying());
    EXPECT_EQ(SourceError::credentialRequired("未配置").message(), "未配置");
    EXPECT_EQ(SourceError::source("坏了").kind(), SourceError::Kind::source);
}

TEST(TrackFromRaw, ReadsFieldsAndNumericSongmid) {
    auto track = Track::fromRaw(
        MusicSource::wy, record({{"songmid", 42}, {"albumName", "专辑"}, {"interval", "03:25"}}));
    EXPECT_EQ(track.songmid, "42");
    EXPECT_EQ(track.musicID(), "wy_42");
    EXPECT_EQ(track.id(), "wy_42");
    EXPECT_EQ(track.title, "雾中河");
    EXPECT_EQ(track.album, "专辑");
    EXPECT_EQ(track.interval, "03:25");

    EXPECT_EQ(Track::fromRaw(MusicSource::wy, record({{"songmid", 42.0}})).songmid, "42");
    EXPECT_EQ(Track::fromRaw(MusicSource::wy, record({{"songmid", 42.5}})).songmid, "42.5");
    EXPECT_EQ(Track::fromRaw(MusicSource::wy, record({{"songmid", -7}})).songmid, "-7");
    EXPECT_EQ(
        Track::fromRaw(MusicSource::kg, record({{"songmid", 18446744073709551615ULL}})).musicID(),
        "kg_18446744073709551615");

    auto bare = Track::fromRaw(MusicSource::tx, record({{"interval", 205}, {"albumName", 3}}));
    EXPECT_EQ(bare.album, "");
    EXPECT_FALSE(bare.interval);
    EXPECT_FALSE(bare.durationSeconds());
    EXPECT_EQ(bare.source, MusicSource::tx);

    auto emptyTexts = Track::fromRaw(MusicSource::wy, record({{"name", ""}, {"singer", ""}}));
    EXPECT_EQ(emptyTexts.title, "");
}

TEST(TrackFromRaw, RefusesRecordsWithoutSongInformation) {
    expectMissingInfo(json::object());
    expectMissingInfo(json::array());
    expectMissingInfo(json("text"));
    expectMissingInfo(record({{"songmid", ""}}));
    expectMissingInfo(record({{"songmid", json::array({1})}}));
    expectMissingInfo(record({{"songmid", {{"id", 1}}}}));
    expectMissingInfo(record({{"songmid", nullptr}}));
    expectMissingInfo(record({{"songmid", true}}));
    auto noSongmid = record();
    noSongmid.erase("songmid");
    expectMissingInfo(noSongmid);
    expectMissingInfo(record({{"name", 5}}));
    expectMissingInfo(record({{"singer", nullptr}}));
    auto noSinger = record();
    noSinger.erase("singer");
    expectMissingInfo(noSinger);
}

TEST(TrackFromRaw, PayloadBytesDependOnContentNotKeyOrder) {
    auto a = json::parse(R"({"songmid":"1","name":"a/b","singer":"s",
        "privilege":{"z":1,"a":[{"y":2,"b":"歌"}]},"picUrl":"http://x/y.jpg"})");
    auto b = json::parse(R"({"picUrl":"http://x/y.jpg","privilege":{"a":[{"b":"歌","y":2}],"z":1},
        "singer":"s","name":"a/b","songmid":"1"})");
    auto first = Track::fromRaw(MusicSource::wy, a);
    auto second = Track::fromRaw(MusicSource::wy, b);
    EXPECT_EQ(first.payload, second.payload);
    EXPECT_EQ(first, second);
    EXPECT_EQ(first.payload,
              R"({"name":"a\/b","picUrl":"http:\/\/x\/y.jpg","privilege":{"a":[{"b":"歌","y":2}],)"
              R"("z":1},"singer":"s","songmid":"1"})");

    auto retitled = first;
    retitled.title = "other";
    EXPECT_NE(retitled, first);
    EXPECT_EQ(retitled.musicID(), first.musicID());
}

// A hostile record's names are cut on a character boundary to every bound, in the song and in its
// payload alike: characters (album), bytes (title), code points (artist), and the code points one
// character carries, so that one letter with a megabyte of marks keeps a few of them.
TEST(TrackFromRaw, BoundsNamesAtACharacterBoundary) {
    const auto repeated = [](std::string_view unit, std::size_t count) {
        std::string text;
        for (std::size_t i = 0; i < count; ++i) text += unit;
        return text;
    };
    const std::size_t bound = Track::longestName;
    // One character: five code points (18 bytes) joined into a family.
    const std::string family = "\U0001F468\u200D\U0001F469\u200D\U0001F467";
    // 32 code points: a letter and 31 marks.
    const std::string keptLetter = markedLetter(2 * Track::mostCodePointsPerCharacter - 1);
    auto track = Track::fromRaw(MusicSource::wy,
                                record({{"name", "a" + repeated(family, (1 << 20) / family.size())},
                                        {"singer", markedLetters(bound, 2048)},
                                        {"albumName", repeated("歌", bound) + "!"}}));
    EXPECT_TRUE(track.title == "a" + repeated(family, (Track::longestNameBytes - 1) / family.size()))
        << track.title.size() << " bytes";
    EXPECT_TRUE(track.artist ==
                repeated(keptLetter, Track::longestNameCodePoints / Track::mostCodePointsPerCharacter))
        << track.artist.size() << " bytes";
    EXPECT_EQ(track.album, repeated("歌", bound));
    EXPECT_TRUE(json::parse(track.payload) == record({{"name", track.title},
                                                      {"singer", track.artist},
                                                      {"albumName", track.album}}));

    const std::string accented = "e\u0301";
    auto marked = Track::fromRaw(MusicSource::wy,
                                 record({{"name", markedLetter(1 << 20) + "歌"},
                                         {"singer", repeated(accented, bound)}}));
    EXPECT_TRUE(marked.title == keptLetter + "歌") << marked.title.size() << " bytes";
    EXPECT_EQ(marked.artist, repeated(accented, bound));
    EXPECT_TRUE(json::parse(marked.payload)["name"] == marked.title);
}

TEST(TrackFromRaw, UnwritableRecordFailsWithoutCrashing) {
    EXPECT_ANY_THROW(Track::fromRaw(MusicSource::wy, record({{"extra", std::string("\xff\xfe")}})));
    EXPECT_ANY_THROW(Track::fromRaw(MusicSource::wy, record({{"songmid", std::nan("")}})));
}

TEST(TrackDuration, SumsColonPiecesInBaseSixty) {
    auto duration = [](std::optional<std::string> interval) {
        Track track;
        track.interval = std::move(interval);
        return track.durationSeconds();
    };
    EXPECT_EQ(duration("03:25"), 205);
    EXPECT_EQ(duration("1:02:03"), 3723);
    EXPECT_EQ(duration("245"), 245);
    EXPECT_EQ(duration("3:25.5"), 205.5);
    EXPECT_EQ(duration("ab:30"), 30);
    EXPECT_EQ(duration("3::25"), 205);
    EXPECT_EQ(duration("+3:05"), 185);
    EXPECT_FALSE(duration(":::"));
    EXPECT_FALSE(duration(""));
    EXPECT_FALSE(duration("nan:inf"));
    EXPECT_FALSE(duration(" 3"));
    EXPECT_FALSE(duration(std::nullopt));
}

TEST(TrackPlayability, NegativeStatusFieldsBlockPlayback) {
    auto playable = [](const std::string& payload) {
        return trackWithPayload(payload).isPlayable();
    };
    EXPECT_FALSE(playable(R"({"st":-200})"));
    EXPECT_FALSE(playable(R"({"privilege":{"st":0,"status":-1}})"));
    EXPECT_FALSE(playable(R"({"privilege":{"st":-1}})"));
    EXPECT_FALSE(playable(R"({"st":"-1"})"));
    EXPECT_FALSE(playable(R"({"st":-0.5e1})"));
    EXPECT_TRUE(playable(R"({"st":-0.5})"));  // truncated toward zero
    EXPECT_TRUE(playable(R"({"st":"abc"})"));
    EXPECT_TRUE(playable(R"({"st":"-1.0"})"));
    EXPECT_TRUE(playable(R"({"st":"-99999999999999999999"})"));
    EXPECT_TRUE(playable(R"({"st":-1e300})"));
    EXPECT_TRUE(playable(R"({"st":true,"privilege":[{"st":-1}]})"));
    EXPECT_TRUE(playable(R"({"privilege":"st:-1","status":-1})"));
    EXPECT_TRUE(playable(R"({"st":0,"privilege":{"st":0,"status":0}})"));
    EXPECT_TRUE(playable(""));
    EXPECT_TRUE(playable("[{\"st\":-1}]"));
    EXPECT_TRUE(playable("{\"st\":-1"));
}

TEST(JsonReading, IntegersFromNumbersAndSignedDecimalText) {
    EXPECT_EQ(readInteger(json(12)), 12);
    EXPECT_EQ(readInteger(json(-3.9)), -3);
    EXPECT_EQ(readInteger(json("+17")), 17);
    EXPECT_EQ(readInteger(json("-9223372036854775808")), std::numeric_limits<int64_t>::min());
    EXPECT_EQ(readInteger(json("9223372036854775807")), std::numeric_limits<int64_t>::max());
    EXPECT_FALSE(readInteger(json("9223372036854775808")));
    EXPECT_FALSE(readInteger(json(18446744073709551615ULL)));
    EXPECT_FALSE(readInteger(json(9.3e18)));
    EXPECT_FALSE(readInteger(json(std::nan(""))));
    for (const char* text : {"", "+", "-", " 1", "1 ", "1.0", "0x10", "--1"})
        EXPECT_FALSE(readInteger(json(text))) << text;
    EXPECT_FALSE(readInteger(json(true)));
    EXPECT_FALSE(readInteger(json(nullptr)));
    EXPECT_FALSE(readInteger(json::array({1})));
    EXPECT_EQ(trimmed("\u3000 歌\n\u00A0"), "歌");
}

TEST(TrackPayloadCache, DecodesObjectsAndNeverKeepsOtherPayloads) {
    auto& cache = TrackPayloadCache::shared();
    std::string array = "[1,2,\"payload-cache-array\"]";
    auto before = cache.count();
    EXPECT_TRUE(cache.payload(array)->empty());
    EXPECT_TRUE(cache.payload(array)->is_object());
    EXPECT_TRUE(cache.payload("{\"a\":\"\xff\"}")->empty());
    EXPECT_TRUE(cache.payload("not json")->empty());
    EXPECT_EQ(cache.count(), before);

    std::string object = R"({"payload-cache-object":1})";
    auto first = cache.payload(object);
    EXPECT_EQ((*first)["payload-cache-object"], 1);
    EXPECT_EQ(cache.payload(object), first);
}

TEST(TrackPayloadCache, KeepsAtMostTheCountLimitAndTheRecentEntries) {
    auto& cache = TrackPayloadCache::shared();
    std::string keep = R"({"keep":true})";
    auto kept = cache.payload(keep);
    for (std::size_t i = 0; i < TrackPayloadCache::countLimit + 50; ++i) {
        cache.payload("{\"n\":" + std::to_string(i) + "}");
        if (i % 100 == 0) {
            EXPECT_EQ(cache.payload(keep), kept);
        }
    }
    EXPECT_EQ(cache.count(), TrackPayloadCache::countLimit);
    EXPECT_EQ(cache.payload(keep), kept);
}

TEST(TrackPayloadCache, ConcurrentReadersSeeEqualObjects) {
    std::vector<std::thread> threads;
    std::atomic<int> mismatches = 0;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < 2000; ++i) {
                int n = (i * 7 + t) % 700;
                auto value = trackWithPayload("{\"c\":" + std::to_string(n) + "}").rawPayload();
                if ((*value)["c"] != n) ++mismatches;
            }
        });
    }
    for (auto& thread : threads) thread.join();
    EXPECT_EQ(mismatches, 0);
}

TEST(TrackCoding, RoundTripsAndDecodesStrictly) {
    auto track = Track::fromRaw(MusicSource::wy, record({{"interval", "03:25"}}));
    track.payload += std::string("\0\xff", 2);  // arbitrary bytes survive
    auto coded = track.toJSON();
    EXPECT_EQ(coded["source"], "wy");
    EXPECT_TRUE(coded["payload"].is_string());
    EXPECT_EQ(Track::fromJSON(json::parse(coded.dump())), track);

    auto noInterval = track;
    noInterval.interval.reset();
    EXPECT_FALSE(noInterval.toJSON().contains("interval"));
    EXPECT_EQ(Track::fromJSON(noInterval.toJSON()), noInterval);

    auto without = [&](const char* key) {
        auto copy = coded;
        copy.erase(key);
        return copy;
    };
    auto with = [&](const char* key, json value) {
        auto copy = coded;
        copy[key] = std::move(value);
        return copy;
    };
    for (const char* key : {"source", "songmid", "title", "artist", "album", "payload"})
        EXPECT_THROW(Track::fromJSON(without(key)), std::invalid_argument) << key;
    EXPECT_THROW(Track::fromJSON(with("source", "WY")), std::invalid_argument);
    EXPECT_THROW(Track::fromJSON(with("title", 3)), std::invalid_argument);
    EXPECT_THROW(Track::fromJSON(with("interval", 3)), std::invalid_argument);
    EXPECT_THROW(Track::fromJSON(with("payload", "not base64!")), std::invalid_argument);
    EXPECT_THROW(Track::fromJSON(json::array()), std::invalid_argument);
}

// Songs an older version stored or wrote may carry names past the bounds: they come back cut, in
// the payload too, and what was cut comes back unchanged.
TEST(TrackCoding, DecodedNamesAreBounded) {
    auto track = Track::fromRaw(MusicSource::wy, record());
    track.title = markedLetter(1 << 20);
    track.artist = markedLetters(Track::longestName, 2048);
    // A pictograph with marks around a joiner, then another pictograph: leaving out the marks
    // past the joiner joins the two.
    const std::string smile = "\U0001F600";
    track.album = smile + markedLetter(61).substr(1) + "\u200D" + markedLetter(11).substr(1) + smile;
    track.payload = record({{"name", track.title}, {"singer", track.artist}, {"st", -1}}).dump();
    const auto decoded = Track::fromJSON(track.toJSON());
    EXPECT_TRUE(decoded.title == Track::boundedName(track.title)) << decoded.title.size() << " bytes";
    EXPECT_EQ(decoded.title.size(), 2 * Track::mostCodePointsPerCharacter - 1);
    EXPECT_TRUE(decoded.artist == Track::boundedName(track.artist)) << decoded.artist.size() << " bytes";
    EXPECT_LE(decoded.artist.size(), Track::longestNameBytes);
    EXPECT_EQ(decoded.album, smile + markedLetter(61).substr(1) + "\u200D");
    EXPECT_TRUE(json::parse(decoded.payload) == record({{"name", decoded.title},
                                                        {"singer", decoded.artist},
                                                        {"st", -1}}));
    EXPECT_FALSE(decoded.isPlayable());
    EXPECT_EQ(Track::fromJSON(decoded.toJSON()), decoded);
}
