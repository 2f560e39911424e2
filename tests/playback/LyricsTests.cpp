#include <gtest/gtest.h>

#include <cmath>
#include <set>
#include <string>
#include <vector>

#include "playback/LRCParser.h"
#include "playback/LyricsDocument.h"

using namespace velto;

namespace {

struct Timed {
    double time;
    std::string text;
    bool operator==(const Timed&) const = default;
};

std::vector<Timed> timed(const std::vector<LyricLine>& lines) {
    std::vector<Timed> result;
    for (const auto& line : lines) result.push_back({line.time, line.text});
    return result;
}

void PrintTo(const Timed& line, std::ostream* out) {
    *out << line.time << " " << line.text;
}

}  // namespace

TEST(LRCParser, TagForms) {
    struct Case {
        std::string text;
        std::vector<Timed> lines;
    };
    const std::vector<Case> cases{
        {"[00:12.5]A", {{12.5, "A"}}},
        {"[01:02:03]B", {{62.03, "B"}}},
        {"[1:2]C", {{62, "C"}}},
        {"[00:75]D", {{75, "D"}}},
        {"[00:01.50]x", {{1.5, "x"}}},
        {"[00:01.05]x", {{1.05, "x"}}},
        {"[00:01.500]x", {{1.5, "x"}}},
        {"[999:59.999]x", {{59999.999, "x"}}},
        {"[00:12.3456]E", {}},
        {"[1000:00]F", {}},
        {"[00:10.]G", {}},
        {"[00:123]H", {}},
        {"[:10]I", {}},
        {"[00:10", {}},
        {"[00:10.00]", {}},
        {"words[00:10.00]", {}},
        {"[00:10.00]   \t ", {}},
        {"[ar:Someone]", {}},
        {"[ti:Title]", {}},
        {"[offset:500]", {}},
        {"plain text", {}},
        {"", {}},
        {"[00:10.00]a[00:20.00]b", {{10, "b"}, {20, "b"}}},
        {"[00:20.00][00:10.00]Chorus", {{10, "Chorus"}, {20, "Chorus"}}},
        {"lead[00:05]in [x] [00:06] \t sung words \t ", {{5, "sung words"}, {6, "sung words"}}},
        {"  \t[00:03]trimmed", {{3, "trimmed"}}},
        {"[00:04]\u3000ideographic\u00a0", {{4, "ideographic"}}},
        // Digits of another script match the tag but cannot be read.
        {"[\u0660\u0661:\u0660\u0662]X", {}},
        {"[00:05]A[\u0660\u0661:\u0660\u0662]B", {{5, "B"}}},
        {"[00:05.\u0665]C", {{5, "C"}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        auto lines = timed(LRCParser::parse(c.text));
        ASSERT_EQ(lines.size(), c.lines.size());
        for (std::size_t i = 0; i < lines.size(); ++i) {
            EXPECT_NEAR(lines[i].time, c.lines[i].time, 1e-9);
            EXPECT_EQ(lines[i].text, c.lines[i].text);
        }
    }
}

TEST(LRCParser, EveryNewlineCharacterSplitsAndLinesSortByTime) {
    const std::string text =
        "[ti:Song]\r\n[00:30]third\n[00:10]first\r[00:20]second\u2028[00:40]fourth\u0085"
        "[00:50]fifth\u2029[00:60]sixth\v[01:10]seventh\f[01:20]eighth";
    const std::vector<Timed> expected{{10, "first"},   {20, "second"}, {30, "third"},
                                      {40, "fourth"},  {50, "fifth"},  {60, "sixth"},
                                      {70, "seventh"}, {80, "eighth"}};
    EXPECT_EQ(timed(LRCParser::parse(text)), expected);
}

TEST(LRCParser, EqualTimesKeepTheirOrderInTheText) {
    const std::string text = "[00:10]zeta\n[00:05]intro\n[00:10]alpha\n[00:10]mid";
    for (int parse = 0; parse < 50; ++parse) {
        auto document = LRCParser::document(text, std::nullopt);
        const std::vector<Timed> expected{{5, "intro"}, {10, "zeta"}, {10, "alpha"}, {10, "mid"}};
        ASSERT_EQ(timed(document.lines()), expected);
        // The last of an equal-time group is current, the same one on every parse.
        ASSERT_EQ(document.currentIndex(10), 3u);
    }
}

TEST(LRCParser, EveryLineGetsAFreshIdentifier) {
    auto first = LRCParser::parse("[00:01]a\n[00:01]a\n[00:02]b");
    auto second = LRCParser::parse("[00:01]a\n[00:01]a\n[00:02]b");
    std::set<std::string> ids;
    for (const auto& lines : {first, second})
        for (const auto& line : lines) {
            EXPECT_EQ(line.id.size(), 36u);
            ids.insert(line.id);
        }
    EXPECT_EQ(ids.size(), 6u);
    EXPECT_NE(first, second);
    EXPECT_EQ(timed(first), timed(second));
}

TEST(LRCParser, HostileTagRunsAreBoundedWhileOrdinaryRepeatsStayWhole) {
    // An ordinary chorus with a dozen tags keeps every one of them.
    std::string chorus;
    for (int i = 0; i < 12; ++i) chorus += "[00:" + std::to_string(10 + i) + ".00]";
    EXPECT_EQ(LRCParser::parse(chorus + "副歌").size(), 12u);

    // One line of 100 000 tags, and lines enough to pass the line limit, without blowing up.
    std::string tags;
    for (int i = 0; i < 100'000; ++i) tags += "[0:1]";
    const auto manyTags = LRCParser::parse(tags + std::string(4096, 'w'));
    EXPECT_EQ(manyTags.size(), LRCParser::maxLinesPerTaggedLine);
    std::string manyLines;
    for (std::size_t i = 0; i < LRCParser::maxLines + 10; ++i) manyLines += "[0:1]x\n";
    EXPECT_EQ(LRCParser::parse(manyLines).size(), LRCParser::maxLines);

    // Long words on many tags stop at the text budget.
    std::string longWords;
    for (int i = 0; i < 12; ++i) longWords += "[0:1][0:2]" + std::string(1 << 20, 'w') + "\n";
    std::size_t textBytes = 0;
    for (const auto& line : LRCParser::parse(longWords)) textBytes += line.text.size();
    EXPECT_LE(textBytes, LRCParser::maxTextBytes);
}

TEST(LyricsDocument, EmptyLyricsHaveNoCurrentLine) {
    auto document = LRCParser::document("", std::nullopt);
    EXPECT_TRUE(document.lines().empty());
    EXPECT_TRUE(document.translatedLines().empty());
    for (double t : {-1.0, 0.0, 12.0, 1e9}) EXPECT_FALSE(document.currentIndex(t));
    EXPECT_FALSE(document.line(0));
}

TEST(LyricsDocument, CurrentIndexAtTheEdges) {
    auto document = LRCParser::document("[00:02]a\n[00:04]b\n[00:04]c\n[00:09]d", std::nullopt);
    struct Case {
        double time;
        std::optional<std::size_t> index;
    };
    const std::vector<Case> cases{{-3, std::nullopt},
                                  {0, std::nullopt},
                                  {1.999, std::nullopt},
                                  {2, 0},
                                  {3.99, 0},
                                  {4, 2},
                                  {8.5, 2},
                                  {9, 3},
                                  {1e6, 3},
                                  {NAN, std::nullopt}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.time);
        EXPECT_EQ(document.currentIndex(c.time), c.index);
    }
    auto fromZero = LRCParser::document("[00:00]start\n[00:03]next", std::nullopt);
    EXPECT_EQ(fromZero.currentIndex(-3), fromZero.currentIndex(0));
    EXPECT_EQ(fromZero.currentIndex(-3), 0u);
    EXPECT_EQ(fromZero.currentIndex(NAN), 0u);

    EXPECT_EQ(document.line(3)->text, "d");
    EXPECT_FALSE(document.line(-1));
    EXPECT_FALSE(document.line(4));
}

TEST(LyricsDocument, ConstructorSortsBothListsKeepingEqualTimesInOrder) {
    LyricsDocument document({{"1", 5, "late"}, {"2", 1, "early"}, {"3", 5, "later"}},
                            {{"4", 3, "t2"}, {"5", 2, "t1"}});
    EXPECT_EQ(timed(document.lines()),
              (std::vector<Timed>{{1, "early"}, {5, "late"}, {5, "later"}}));
    EXPECT_EQ(timed(document.translatedLines()), (std::vector<Timed>{{2, "t1"}, {3, "t2"}}));
}

TEST(LyricsDocument, TranslationWithinTolerance) {
    auto document = LRCParser::document("[00:12.00]line\n[00:30.00]other\n[00:50]alone",
                                        "[00:12.07]near\n[00:30.09]far\n"
                                        "[00:49.95]first\n[00:50.05]second");
    const auto& lines = document.lines();
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(document.translation(lines[0], 0.08), "near");
    EXPECT_FALSE(document.translation(lines[1], 0.08));
    EXPECT_EQ(document.translation(lines[1], 0.1), "far");
    EXPECT_EQ(document.translation(lines[2], 0.08), "first");
    EXPECT_FALSE(LRCParser::document("[00:12]line", std::nullopt).translation(lines[0], 1));
}
