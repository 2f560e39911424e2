#include <gtest/gtest.h>

#include <QSignalSpy>

#include "FakeTrackListActions.h"
#include "playback/PlaybackServiceFixture.h"
#include "ui/views/MacTrackListModel.h"

namespace velto {
namespace {

using Model = MacTrackListModel;

class MacTrackList : public PlaybackServiceTest {
protected:
    QVariant at(int row, int role) const { return model->data(model->index(row), role); }
    QString text(int row, int role) const { return at(row, role).toString(); }
    std::vector<int> currentRows() const {
        std::vector<int> rows;
        for (int row = 0; row < model->rowCount(); ++row)
            if (at(row, Model::CurrentRole).toBool()) rows.push_back(row);
        return rows;
    }
    void makeModel(std::vector<Track> tracks) {
        make();
        model = std::make_unique<Model>(service.get(), &actions);
        model->setTracks(ListedTracks(std::move(tracks)));
    }

    FakeTrackListActions actions;
    std::unique_ptr<Model> model;
};

TEST_F(MacTrackList, RowTextsBadgesAndPlayability) {
    const std::string withdrawn = R"({"privilege":{"st":-200}})";
    const struct {
        Track track;
        const char* meta;
        const char* badge;
        bool playable;
    } cases[] = {
        {makeSong("a"), "artist a · 网易云", "", true},
        {makeSong("b", "3:00", MusicSource::local), "artist b · 本地", "", true},
        {makeSong("c", "3:00", MusicSource::tx), "artist c · QQ", "不可用", false},
        {makeSong("d", "3:00", MusicSource::wy, withdrawn), "artist d · 网易云", "已下架", false},
        // Withdrawn comes before a disabled source.
        {makeSong("e", "3:00", MusicSource::kg, withdrawn), "artist e · 酷狗", "已下架", false},
    };
    std::vector<Track> tracks;
    for (const auto& c : cases) tracks.push_back(c.track);
    makeModel(tracks);
    for (int row = 0; row < 5; ++row) {
        const auto& c = cases[row];
        EXPECT_EQ(text(row, Model::MetaRole), QString::fromUtf8(c.meta));
        EXPECT_EQ(text(row, Model::BadgeRole), QString::fromUtf8(c.badge));
        EXPECT_EQ(at(row, Model::PlayableRole).toBool(), c.playable);
        EXPECT_EQ(text(row, Model::AccessibleHintRole).isEmpty(), c.playable);
    }
    EXPECT_EQ(text(0, Model::AccessibleNameRole), QStringLiteral("播放 title a，artist a"));
    EXPECT_EQ(text(3, Model::AccessibleHintRole), QStringLiteral("该歌曲当前不可播放"));

    // Unplayable rows cannot be tapped or hearted; a tap plays the whole list from its row.
    model->activate(2);
    model->toggleFavorite(3);
    model->activate(1);
    EXPECT_EQ(actions.calls, (std::vector<std::string>{"play 5 at 1"}));
}

TEST_F(MacTrackList, HeartAsksAgainAtTheTapAndNeedsALibrary) {
    makeModel({makeSong("a")});
    QSignalSpy changed(model.get(), &QAbstractItemModel::dataChanged);
    EXPECT_EQ(text(0, Model::HeartSymbolRole), "heart");
    EXPECT_EQ(text(0, Model::HeartTooltipRole), QStringLiteral("收藏 title a"));
    model->toggleFavorite(0);
    EXPECT_EQ(text(0, Model::HeartSymbolRole), "heart.fill");
    EXPECT_EQ(text(0, Model::HeartTooltipRole), QStringLiteral("取消收藏 title a"));
    // Changed elsewhere meanwhile: the tap follows the application's answer, not the row's.
    actions.favorites.clear();
    model->toggleFavorite(0);
    EXPECT_EQ(actions.calls, (std::vector<std::string>{"collect wy_a", "collect wy_a"}));
    EXPECT_GE(changed.count(), 2);

    actions.setLibrary(false);
    EXPECT_FALSE(at(0, Model::FavoriteEnabledRole).toBool());
    model->toggleFavorite(0);
    EXPECT_EQ(actions.calls.size(), 2u);
}

TEST_F(MacTrackList, CurrentRowFollowsTheQueueAnnouncingOnlyChangedRows) {
    auto songs = makeSongs(10);
    songs.push_back(songs[3]);  // a key twice shows two rows, both current together
    makeModel(songs);
    EXPECT_TRUE(currentRows().empty());

    QSignalSpy changed(model.get(), &QAbstractItemModel::dataChanged);
    startPlaying(makeSongs(10), 3);
    EXPECT_EQ(currentRows(), (std::vector<int>{3, 10}));
    EXPECT_EQ(changed.count(), 2);

    changed.clear();
    service->next();
    settle();
    EXPECT_EQ(currentRows(), (std::vector<int>{4}));
    EXPECT_EQ(changed.count(), 3);
    for (const auto& signal : changed)
        EXPECT_EQ(signal.at(2).value<QList<int>>(), QList<int>{Model::CurrentRole});

    // A song not in this list leaves no row current.
    service->replaceQueue({makeSong("elsewhere")}, 0, false);
    settle();
    EXPECT_TRUE(currentRows().empty());
}

}  // namespace
}  // namespace velto
