#include <gtest/gtest.h>

#include "SearchTestRuntime.h"
#include "app/search/ArtistResultRanker.h"
#include "app/search/PlaylistResultRanker.h"
#include "app/search/SearchHistoryStore.h"
#include "app/search/SearchResultRanker.h"
#include "app/search/SearchTextFolding.h"
#include "support/TempDir.h"

using namespace velto;
using namespace velto::searchtest;

namespace {

std::vector<std::string> ids(const std::vector<Track>& songs) {
    std::vector<std::string> out;
    for (const auto& s : songs) out.push_back(s.songmid);
    return out;
}

}  // namespace

TEST(SearchTextFolding, FoldsCaseAccentsWidthAndDropsAllButLettersAndNumbers) {
    struct Case {
        std::string a, b;
        bool songEqual, nameEqual;
    } cases[] = {
        {"Ｈｅｌｌｏ, Wörld!", "hello world", true, true},
        {"Cafe\xCC\x81", "café", true, true},          // canonical equivalents
        {"ｶﾀｶﾅ", "カタカナ", true, true},              // half-width kana
        {"伴-奏 ", "伴奏", true, true},
        {"STRASSE", "straße", false, true},            // lower-casing keeps ß, folding does not
        {std::string("a\xFF" "b"), "ab", true, true},  // an invalid byte is no letter
        {"①", "", false, false},                       // numbers count
    };
    for (const auto& c : cases) {
        EXPECT_EQ(SearchTextFolding::songForm(c.a) == SearchTextFolding::songForm(c.b), c.songEqual) << c.a;
        EXPECT_EQ(SearchTextFolding::nameForm(c.a) == SearchTextFolding::nameForm(c.b), c.nameEqual) << c.a;
    }
    EXPECT_EQ(SearchTextFolding::characterCount("e\xCC\x81"), 1u);
    EXPECT_EQ(SearchTextFolding::characterCount("👍🏽a"), 2u);
}

TEST(SearchResultRanker, DeduplicatesByFoldedTitleAndArtistInSourceOrder) {
    auto songs = std::vector<Track>{
        song("local1", "晴天", "周杰伦", MusicSource::local),
        song("1", "Ｑing Tian", "Jay"),
        song("2", "qing-tian!", "JAY"),          // same key as 1
        song("3", "", "Jay"),                    // empty title: by musicID
        song("3", "", "Jay"),
        song("4", "!!", "Jay"),                  // empty form: by musicID, distinct from 3
        song("qq", "Other", "Other", MusicSource::tx),
        song("local2", "晴 天", "周杰伦", MusicSource::local),
    };
    EXPECT_EQ(ids(SearchResultRanker::deduplicated(songs)),
              (std::vector<std::string>{"1", "3", "4", "local1"}));
}

TEST(SearchResultRanker, OneSongPerTitleAndArtistNotPerTitle) {
    struct Case {
        std::string firstTitle, firstArtist, secondTitle, secondArtist;
        bool bothStay;
    } cases[] = {
        {"晴天", "周杰伦", "晴天", "林远舟", true},
        {"Song", "Jay", "Song", "Jay Band", true},
        {"Song", "Jay", "Other", "Jay", true},
        {"晴天", "周杰伦", "晴 天", "周杰伦", false},
        {"Song", "Jay", "ＳＯＮＧ!", "jay", false},
    };
    for (const auto& c : cases) {
        const std::vector<Track> songs{song("1", c.firstTitle, c.firstArtist),
                                       song("2", c.secondTitle, c.secondArtist)};
        const auto expected = c.bothStay ? std::vector<std::string>{"1", "2"}
                                         : std::vector<std::string>{"1"};
        EXPECT_EQ(ids(SearchResultRanker::deduplicated(songs)), expected) << c.secondArtist;
        EXPECT_EQ(SearchResultRanker::rank(songs, "zzz").size(), expected.size()) << c.secondArtist;
    }
}

TEST(SearchResultRanker, ScoresTitleArtistAndMarkersAsTabled) {
    struct Case {
        std::string title, artist, keyword;
        int score;
    } cases[] = {
        {"Ｑｉｎｇ Tian!", "x", "qing tian", 1200},
        {"晴天", "周杰伦", "晴天 周杰伦", 950 + 600},
        {"晴天", "周杰伦", "周杰伦 晴天", 950 + 600},
        {"a", "x", "abc", 950},             // a one-character title that begins the query
        {"b", "x", "abc", 800},
        {"xabcx", "x", "abc", 450},
        {"zzz", "x", "abc", 0},
        {"zzz", "甲、乙", "乙的歌", 340},
        {"zzz", "甲/乙/丙", "乙的歌", 260},
        {"zzz", "甲&乙;丙,丁|戊", "乙的歌", 180},
        {"zzz", "甲，乙", "无关", 0},
        {"Song (Live)", "x", "song", 450 - 700},
        {"Song LIVE现场", "x", "song", 450 - 700},
        {"Song (Live)", "x", "song live", 1200},
        {"Olive Tree", "x", "tree", 450},   // no word of its own
        {"Lives", "x", "lives", 1200},
        {"歌 伴-奏", "x", "歌", 450 - 700}, // across punctuation
        {"Song", "DJ 钢琴", "song", 1200 - 1400},
    };
    for (const auto& c : cases) {
        auto query = SearchTextFolding::songForm(c.keyword);
        EXPECT_EQ(SearchResultRanker::score(song("1", c.title, c.artist), query, c.keyword), c.score)
            << c.title << " / " << c.artist << " / " << c.keyword;
    }
}

TEST(SearchResultRanker, RanksHigherFirstAndKeepsTiesInOrder) {
    auto songs = std::vector<Track>{
        song("live", "晴天 (Live)", "周杰伦"), song("tie1", "别的", "某人"),
        song("best", "晴天", "周杰伦"),       song("tie2", "另一首", "他人"),
    };
    EXPECT_EQ(ids(SearchResultRanker::rank(songs, "晴天 周杰伦")),
              (std::vector<std::string>{"best", "tie1", "tie2", "live"}));
}

TEST(ArtistAndPlaylistRankers, ExactBeforeRelatedBeforeTheRest) {
    auto artists = std::vector<ArtistSummary>{artist("1", "Other"), artist("2", "Jay Band"),
                                              artist("3", "Ｊａｙ"), artist("4", "Nobody"),
                                              artist("5", "J")};
    std::vector<std::string> order;
    for (const auto& a : ArtistResultRanker::rank(artists, "jay")) order.push_back(a.id);
    EXPECT_EQ(order, (std::vector<std::string>{"3", "2", "5", "1", "4"}));

    EXPECT_EQ(PlaylistResultRanker::score(playlist("p", "Jay!", "jay fan", "all jay"), "jay"), 1730);
    auto lists = std::vector<PlaylistSummary>{playlist("a", "x"), playlist("b", "x", "by jay"),
                                              playlist("c", "x", "", "jay songs"),
                                              playlist("d", "Jay mix"), playlist("e", "x")};
    order.clear();
    for (const auto& p : PlaylistResultRanker::rank(lists, "JAY")) order.push_back(p.id);
    EXPECT_EQ(order, (std::vector<std::string>{"d", "b", "c", "a", "e"}));
}

TEST(SearchHistoryStore, TrimsMovesToFrontKeepsTenAndHealsBadValues) {
    TempDir dir;
    UserDefaults defaults(dir.path() / "defaults.json");
    const std::string key(SearchHistoryStore::key);
    EXPECT_EQ(SearchHistoryStore::remember(defaults, "  晴天 \n"), (std::vector<std::string>{"晴天"}));
    SearchHistoryStore::remember(defaults, "Jay");
    SearchHistoryStore::remember(defaults, "jay");  // case counts
    EXPECT_EQ(SearchHistoryStore::remember(defaults, "晴天"),
              (std::vector<std::string>{"晴天", "jay", "Jay"}));
    SearchHistoryStore::remember(defaults, "cafe\xCC\x81");
    EXPECT_EQ(SearchHistoryStore::remember(defaults, "café").size(), 4u);  // canonical equivalents
    EXPECT_EQ(SearchHistoryStore::remember(defaults, " \t"), SearchHistoryStore::stored(defaults));

    for (int i = 0; i < 11; ++i) SearchHistoryStore::remember(defaults, "q" + std::to_string(i));
    auto list = SearchHistoryStore::stored(defaults);
    ASSERT_EQ(list.size(), 10u);
    EXPECT_EQ(list.front(), "q10");
    EXPECT_EQ(list.back(), "q1");

    std::vector<std::string> long_(12, "");
    for (int i = 0; i < 12; ++i) long_[i] = "old" + std::to_string(i);
    defaults.setStringList(key, long_);
    EXPECT_EQ(SearchHistoryStore::remember(defaults, "new").size(), 10u);

    defaults.setString(key, "not a list");
    EXPECT_TRUE(SearchHistoryStore::stored(defaults).empty());
    EXPECT_EQ(SearchHistoryStore::remember(defaults, "x"), (std::vector<std::string>{"x"}));
    defaults.setData(key, Bytes{1, 2});
    EXPECT_FALSE(defaults.stringListValue(key));
}
