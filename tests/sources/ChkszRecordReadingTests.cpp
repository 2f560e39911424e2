#include <gtest/gtest.h>

#include "sources/rovoz/ChkszAPIClient.h"
#include "sources/rovoz/ChkszMediaURL.h"
#include "sources/rovoz/ChkszNetEaseClient.h"
#include "sources/rovoz/ChkszQuality.h"
#include "sources/rovoz/KugouMetadataCache.h"

namespace velto {
namespace {

using nlohmann::json;

TEST(ChkszMediaURLTest, RewritesHTTPToHTTPSKeepingTheRest) {
    EXPECT_EQ(chkszMediaURL("http://p1.music.example:8080/a/b.jpg?param=1#x"),
              "https://p1.music.example:8080/a/b.jpg?param=1#x");
    EXPECT_EQ(chkszMediaURL("HTTPS://img.example/c.jpg"), "https://img.example/c.jpg");
}

TEST(ChkszMediaURLTest, RefusesOtherSchemesUsersMissingHostsAndJunk) {
    EXPECT_EQ(chkszMediaURL("ftp://img.example/c.jpg"), std::nullopt);
    EXPECT_EQ(chkszMediaURL("file:///tmp/c.jpg"), std::nullopt);
    EXPECT_EQ(chkszMediaURL("https://user@img.example/c.jpg"), std::nullopt);
    EXPECT_EQ(chkszMediaURL("https://user:pw@img.example/c.jpg"), std::nullopt);
    EXPECT_EQ(chkszMediaURL("https:///c.jpg"), std::nullopt);
    EXPECT_EQ(chkszMediaURL("//img.example/c.jpg"), std::nullopt);
    EXPECT_EQ(chkszMediaURL("https://img.example/a b.jpg"), std::nullopt);
    EXPECT_EQ(chkszMediaURL("https://img.example/%zz"), std::nullopt);
    EXPECT_EQ(chkszMediaURL("https://img.example:80x/"), std::nullopt);
    EXPECT_EQ(chkszMediaURL(""), std::nullopt);
}

TEST(ChkszIntegerTest, ReadsNumbersBooleansAndStrictDecimalTexts) {
    const auto read = [](const json& value) { return ChkszAPIClient::integer(&value); };
    EXPECT_EQ(read(200), 200);
    EXPECT_EQ(read(-7), -7);
    EXPECT_EQ(read(3.9), 3);
    EXPECT_EQ(read(-3.9), -3);
    EXPECT_EQ(read(true), 1);
    EXPECT_EQ(read(false), 0);
    EXPECT_EQ(read("200"), 200);
    EXPECT_EQ(read("+42"), 42);
    EXPECT_EQ(read("-42"), -42);
    EXPECT_EQ(read("9223372036854775807"), INT64_MAX);
    EXPECT_EQ(read("9223372036854775808"), std::nullopt);
    EXPECT_EQ(read(json(18446744073709551615ULL)), std::nullopt);
    EXPECT_EQ(read(1e300), std::nullopt);
    for (const char* text : {"", " 1", "1 ", "+", "+-1", "1.0", "0x10", "abc"}) {
        EXPECT_EQ(read(text), std::nullopt) << text;
    }
    EXPECT_EQ(read(json::array()), std::nullopt);
    EXPECT_EQ(read(nullptr), std::nullopt);
    EXPECT_EQ(ChkszAPIClient::integer(nullptr), std::nullopt);
}

TEST(ChkszQualityTest, BitrateTextNumberAndFormatInThatOrder) {
    EXPECT_EQ(chkszQuality({{"bitrate", 320000}}), Quality::high);
    EXPECT_EQ(chkszQuality({{"bitrate", 1500000}}), Quality::hiRes);
    EXPECT_EQ(chkszQuality({{"bitrate", 99999999}}), Quality::hiRes);  // numbers never say master
    EXPECT_EQ(chkszQuality({{"bitrate", "HI-RES "}}), Quality::hiRes);
    EXPECT_EQ(chkszQuality({{"bitrate", " Master"}}), Quality::master);
    EXPECT_EQ(chkszQuality({{"bitrate", "lossless"}}), Quality::lossless);
    EXPECT_EQ(chkszQuality({{"bitrate", "128k"}}), Quality::standard);
    EXPECT_EQ(chkszQuality({{"bitrate", "700000"}}), Quality::lossless);
    EXPECT_EQ(chkszQuality({{"bitrate", "128"}, {"format", "FLAC"}}), Quality::standard);
    EXPECT_EQ(chkszQuality({{"format", "FLAC"}}), Quality::lossless);
    EXPECT_EQ(chkszQuality({{"bitrate", "fast"}, {"format", "flac"}}), Quality::lossless);
    EXPECT_EQ(chkszQuality({{"bitrate", nullptr}}), Quality::standard);
    EXPECT_EQ(chkszQuality(json::array()), Quality::standard);
}

TEST(ChkszNetEaseQualityTest, LevelFirstThenBitrate) {
    EXPECT_EQ(ChkszNetEaseClient::quality("SKY", std::nullopt), Quality::hiRes);
    EXPECT_EQ(ChkszNetEaseClient::quality("jyeffect", 128000), Quality::hiRes);
    EXPECT_EQ(ChkszNetEaseClient::quality("jymaster", std::nullopt), Quality::master);
    EXPECT_EQ(ChkszNetEaseClient::quality("exhigh", std::nullopt), Quality::high);
    EXPECT_EQ(ChkszNetEaseClient::quality(std::nullopt, 320000), Quality::high);
    EXPECT_EQ(ChkszNetEaseClient::quality(std::nullopt, 700000), Quality::lossless);
    EXPECT_EQ(ChkszNetEaseClient::quality("unknown", 1500000), Quality::hiRes);
    EXPECT_EQ(ChkszNetEaseClient::quality(std::nullopt, 299999), Quality::standard);
    EXPECT_EQ(ChkszNetEaseClient::quality(std::nullopt, std::nullopt), Quality::standard);
}

class KugouMetadataCacheTest : public ::testing::Test {
  protected:
    std::chrono::steady_clock::time_point now{std::chrono::hours(5)};
    KugouMetadataCache cache{[this] { return now; }};
};

TEST_F(KugouMetadataCacheTest, EntryLivesTwentyMinutesAndIsRemovedWhenAskedAfter) {
    cache.insert("{}", "a");
    now += std::chrono::seconds(1199);
    EXPECT_EQ(cache.value("a"), "{}");
    now += std::chrono::seconds(1);
    EXPECT_EQ(cache.value("a"), std::nullopt);
    EXPECT_EQ(cache.count(), 0u);
}

TEST_F(KugouMetadataCacheTest, AnswersAboveTheLimitAreNotKept) {
    cache.insert(std::string(KugouMetadataCache::largestAnswer, 'x'), "fits");
    cache.insert(std::string(KugouMetadataCache::largestAnswer + 1, 'x'), "too-big");
    EXPECT_TRUE(cache.value("fits"));
    EXPECT_FALSE(cache.value("too-big"));
}

TEST_F(KugouMetadataCacheTest, FortyFirstSongEvictsTheOneExpiringFirst) {
    for (int i = 0; i < 40; ++i) {
        cache.insert("{}", "song" + std::to_string(i));
        now += std::chrono::seconds(1);
    }
    cache.insert("{\"again\":1}", "song0");  // replacing keeps the count and renews song0
    EXPECT_EQ(cache.count(), 40u);
    cache.insert("{}", "song40");
    EXPECT_EQ(cache.count(), 40u);
    EXPECT_FALSE(cache.value("song1"));
    EXPECT_EQ(cache.value("song0"), "{\"again\":1}");
    EXPECT_TRUE(cache.value("song40"));
}

}  // namespace
}  // namespace velto
