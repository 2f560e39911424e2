#include <gtest/gtest.h>

#include <QSignalSpy>

#include "playback/PlaybackServiceFixture.h"
#include "ui/views/MacLyricsModel.h"

namespace velto {
namespace {

using Model = MacLyricsModel;

LyricsDocument lyrics(const std::string& firstID, std::vector<LyricLine> translated = {}) {
    std::vector<LyricLine> lines;
    for (int i = 0; i < 6; ++i)
        lines.push_back({i == 0 ? firstID : firstID + std::to_string(i), 10.0 * i + 5,
                         "line " + std::to_string(i)});
    return LyricsDocument(std::move(lines), std::move(translated));
}

class MacLyrics : public PlaybackServiceTest {
protected:
    void SetUp() override {
        make();
        startPlaying(makeSongs(2));
        model = std::make_unique<Model>(service.get(), mainQueue);
        QObject::connect(model.get(), &Model::scrollRequested, [this](int index, bool animated) {
            scrolls.push_back(std::to_string(index) + (animated ? " animated" : " jump"));
        });
    }
    void at(double seconds) {
        service->seek(seconds);
        settle();
    }
    std::vector<std::string> takeScrolls() { return std::exchange(scrolls, {}); }
    using Scrolls = std::vector<std::string>;

    std::unique_ptr<Model> model;
    std::vector<std::string> scrolls;
};

TEST_F(MacLyrics, FollowRules) {
    at(16);
    model->setDocument(lyrics("A"));
    EXPECT_EQ(model->currentIndexValue(), 1);
    EXPECT_TRUE(takeScrolls().empty());  // first appearance: only the jump, one turn later
    mainQueue.runPending();
    EXPECT_EQ(takeScrolls(), Scrolls{"1 jump"});

    QSignalSpy changed(model.get(), &QAbstractItemModel::dataChanged);
    at(35);
    EXPECT_EQ(takeScrolls(), Scrolls{"3 animated"});
    EXPECT_EQ(changed.count(), 2);  // the old and the new current line only
    at(2);  // before the first line: nothing current, nothing scrolls
    EXPECT_EQ(model->currentIndexValue(), -1);
    EXPECT_TRUE(takeScrolls().empty());

    model->setReduceMotion(true);
    at(45);
    EXPECT_EQ(takeScrolls(), Scrolls{"4 jump"});
    model->setReduceMotion(false);

    // Off: the emphasis moves, the list stays; on again: straight to the current line.
    model->setFollows(false);
    at(15);
    EXPECT_EQ(model->currentIndexValue(), 1);
    EXPECT_TRUE(takeScrolls().empty());
    model->setFollows(true);
    EXPECT_EQ(takeScrolls(), Scrolls{"1 animated"});

    // The same first line brings no jump; a new one jumps after a turn.
    model->setDocument(lyrics("A"));
    mainQueue.runPending();
    EXPECT_TRUE(takeScrolls().empty());
    model->setDocument(lyrics("B"));
    EXPECT_TRUE(takeScrolls().empty());
    mainQueue.runPending();
    EXPECT_EQ(takeScrolls(), Scrolls{"1 jump"});

    // A new view follows again, whatever the last one chose, and jumps one turn later.
    model->setFollows(false);
    QSignalSpy follows(model.get(), &Model::followsChanged);
    model->viewAppeared();
    EXPECT_TRUE(model->follows());
    EXPECT_EQ(follows.count(), 1);
    EXPECT_TRUE(takeScrolls().empty());
    mainQueue.runPending();
    EXPECT_EQ(takeScrolls(), Scrolls{"1 jump"});
}

TEST_F(MacLyrics, RowsTranslationsTooltipsAndSeeking) {
    std::vector<LyricLine> translated{{"t0", 5.05, "near"}, {"t1", 15.1, "too far"}};
    auto document = lyrics("A", translated);
    auto lines = document.lines();
    lines[5].time = 75.4;
    model->setDocument(LyricsDocument(lines, translated));
    auto row = [&](int index, int role) { return model->data(model->index(index), role); };
    EXPECT_EQ(model->lineCountText(), QStringLiteral("6 行歌词"));
    EXPECT_EQ(row(0, Model::TranslationRole).toString(), "near");
    EXPECT_EQ(row(1, Model::TranslationRole).toString(), "");
    EXPECT_TRUE(row(0, Model::HasTranslationRole).toBool());
    EXPECT_FALSE(row(1, Model::HasTranslationRole).toBool());
    EXPECT_EQ(row(5, Model::TooltipRole).toString(), QStringLiteral("跳转到 1:15"));

    model->seekTo(5);
    settle();
    EXPECT_EQ(service->elapsed(), 75.4);
    EXPECT_TRUE(row(5, Model::CurrentRole).toBool());

    model->setDocument(LyricsDocument());
    EXPECT_EQ(model->lineCountText(), QStringLiteral("0 行歌词"));
    EXPECT_EQ(model->currentIndexValue(), -1);
}

}  // namespace
}  // namespace velto
