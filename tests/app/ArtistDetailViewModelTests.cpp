#include <gtest/gtest.h>

#include <QSignalSpy>

#include "AppTestSupport.h"
#include "app/ArtistDetailViewModel.h"
#include "app/TrackListUtilities.h"

namespace velto {
namespace {

std::vector<std::string> ids(const std::vector<AlbumSummary>& albums) {
    std::vector<std::string> out;
    for (const auto& a : albums) out.push_back(a.id);
    return out;
}
std::vector<std::string> ids(const std::vector<Track>& tracks) {
    std::vector<std::string> out;
    for (const auto& t : tracks) out.push_back(t.songmid);
    return out;
}

class ArtistDetailViewModelTest : public ::testing::Test {
  protected:
    ArtistDetailViewModelTest() {
        artist.id = "7";
        artist.name = "岚屿";
        artist.imageURL = "https://img.example/7.jpg";
    }
    void make() {
        model = std::make_unique<ArtistDetailViewModel>(artist, runtime, harness.runner);
    }
    void albumsPage(std::vector<AlbumSummary> list) {
        runtime->onArtistAlbums = [list](const ArtistSummary&, int) { return AlbumPage{list, 0, MusicSource::wy}; };
    }

    ArtistSummary artist;
    std::shared_ptr<ScriptedSourceRuntime> runtime = std::make_shared<ScriptedSourceRuntime>();
    AppTaskHarness harness;
    std::unique_ptr<ArtistDetailViewModel> model;
};

TEST(TrackListUtilitiesTest, SortsNewestFirstStablyWithUndatedLast) {
    auto sorted = TrackListUtilities::sortedNewestFirst(
        {album("a", "2021-05-01"), album("b"), album("c", "2023-01-10"), album("d", "2021-05-01")});
    EXPECT_EQ(ids(sorted), (std::vector<std::string>{"c", "a", "d", "b"}));
}

TEST_F(ArtistDetailViewModelTest, MetadataRefreshRunsOnlyWithoutPictureAndNeverBlocksTheTab) {
    runtime->onPopular = [](const ArtistSummary&) { return std::vector<Track>{song("1")}; };
    make();
    model->loadSelectedIfNeeded();
    harness.settle();
    EXPECT_EQ(runtime->count("artistDetail"), 0u);

    artist.imageURL.reset();
    make();
    runtime->onArtistDetail = [](const ArtistSummary&) -> ArtistSummary { throw SourceError::source("歌手信息缺失"); };
    model->loadSelectedIfNeeded();
    harness.settle();
    EXPECT_EQ(runtime->count("artistDetail"), 1u);
    EXPECT_EQ(ids(model->popularTracks()), std::vector<std::string>{"1"});
    EXPECT_FALSE(model->popularError());

    runtime->onArtistDetail = [](ArtistSummary a) { a.imageURL = "https://img.example/new.jpg"; return a; };
    model->loadSelectedIfNeeded();  // the tab has content: only the refresh runs
    harness.settle();
    EXPECT_EQ(runtime->count("artistDetail"), 2u);
    EXPECT_EQ(runtime->count("popular"), 2u);
    EXPECT_EQ(model->artist().imageURL, "https://img.example/new.jpg");
}

TEST_F(ArtistDetailViewModelTest, PopularAndAlbumsTabsDeduplicate) {
    auto a2 = song("A", "别名");
    runtime->onPopular = [&](const ArtistSummary&) { return std::vector<Track>{song("A"), song("B"), a2}; };
    albumsPage({album("a", "2021-05-01"), album("b"), album("c", "2023-01-10"), album("a", "2024-01-01")});
    make();
    model->loadPopular();
    model->loadAlbums();
    harness.settle();
    EXPECT_EQ(model->popularTracks(), (std::vector<Track>{song("A"), song("B")}));
    // Sorted first, so the later-dated duplicate wins.
    ASSERT_EQ(ids(model->albums()), (std::vector<std::string>{"a", "c", "b"}));
    EXPECT_EQ(model->albums()[0].releaseDate, "2024-01-01");
    EXPECT_EQ(runtime->calls().back(), "artistAlbums 7 1");
}

TEST_F(ArtistDetailViewModelTest, LatestTakesSixNewestAndAsksForThreeOneAfterAnother) {
    std::vector<AlbumSummary> page;
    for (int i = 0; i < 10; ++i) page.push_back(album(std::to_string(i), "2020-01-1" + std::to_string(i)));
    albumsPage(page);
    runtime->onAlbumTracks = [](const AlbumSummary& a) { return AlbumDetail{a, {song("t" + a.id), song("shared")}}; };
    model = nullptr;
    make();
    model->loadLatest();
    harness.step();  // the album page
    for (const char* expected : {"9", "8", "7"}) {
        EXPECT_EQ(harness.jobs.pending(), 1u);
        harness.step();
        EXPECT_EQ(runtime->calls().back(), std::string("albumTracks ") + expected);
    }
    EXPECT_EQ(harness.jobs.pending(), 0u);
    EXPECT_EQ(ids(model->latestAlbums()), (std::vector<std::string>{"9", "8", "7", "6", "5", "4"}));
    EXPECT_EQ(ids(model->latestTracks()), (std::vector<std::string>{"t9", "shared", "t8", "t7"}));
    EXPECT_FALSE(model->latestIsLoading());
    EXPECT_FALSE(model->latestError());
}

TEST_F(ArtistDetailViewModelTest, LatestFailuresCostOnlyTheirOwnSongs) {
    struct Case {
        std::vector<bool> fails;
        std::vector<std::string> tracks;
        std::optional<std::string> error;
    };
    const std::vector<Case> cases = {
        {{false, true, false}, {"t1", "t3"}, ArtistDetailViewModel::partialLatestMessage},
        {{true, true, true}, {"old"}, "失败3"},
    };
    for (const auto& c : cases) {
        albumsPage({album("1", "2023-03-01"), album("2", "2023-02-01"), album("3", "2023-01-01")});
        runtime->onAlbumTracks = [](const AlbumSummary& a) { return AlbumDetail{a, {song("old")}}; };
        make();
        model->loadLatest();
        harness.settle();
        runtime->onAlbumTracks = [&](const AlbumSummary& a) {
            if (c.fails[std::stoul(a.id) - 1]) throw SourceError::source("失败" + a.id);
            return AlbumDetail{a, {song("t" + a.id)}};
        };
        model->loadLatest();
        harness.settle();
        EXPECT_EQ(ids(model->latestTracks()), c.tracks);
        EXPECT_EQ(model->latestError(), c.error);
        EXPECT_EQ(model->latestAlbums().size(), 3u);
    }
}

TEST_F(ArtistDetailViewModelTest, EmptyAlbumPageLoadsAgainNextTime) {
    albumsPage({});
    make();
    model->setSelectedTab(ArtistDetailTab::latest);
    model->loadSelectedIfNeeded();
    harness.settle();
    EXPECT_TRUE(model->latestAlbums().empty());
    EXPECT_FALSE(model->latestError());
    model->loadSelectedIfNeeded();
    harness.settle();
    EXPECT_EQ(runtime->count("artistAlbums"), 2u);
    EXPECT_EQ(runtime->count("albumTracks"), 0u);
}

TEST_F(ArtistDetailViewModelTest, OnlyTheNewestOfOverlappingLoadsPublishes) {
    int call = 0;
    runtime->onPopular = [&](const ArtistSummary&) { return std::vector<Track>{song(std::to_string(++call))}; };
    make();
    QSignalSpy tracksChanged(model.get(), &ArtistDetailViewModel::popularTracksChanged);
    model->loadPopular();
    model->loadPopular();
    harness.step();
    EXPECT_TRUE(model->popularIsLoading());
    EXPECT_TRUE(model->popularTracks().empty());
    harness.step();
    EXPECT_FALSE(model->popularIsLoading());
    EXPECT_EQ(ids(model->popularTracks()), std::vector<std::string>{"2"});
    EXPECT_EQ(model->popularGeneration(), 2);
    // An equal answer changes nothing that views see.
    call = 1;
    model->loadPopular();
    harness.settle();
    EXPECT_EQ(tracksChanged.count(), 1);
}

TEST_F(ArtistDetailViewModelTest, ChangingTabCancelsThePageLoadSilently) {
    runtime->onPopular = [](const ArtistSummary&) { return std::vector<Track>{song("1")}; };
    make();
    model->loadSelectedIfNeeded();
    EXPECT_TRUE(model->popularIsLoading());
    model->setSelectedTab(ArtistDetailTab::albums);
    harness.settle();
    EXPECT_FALSE(model->popularIsLoading());
    EXPECT_FALSE(model->popularError());
    EXPECT_TRUE(model->popularTracks().empty());

    model->setSelectedTab(ArtistDetailTab::popular);
    model->loadSelectedIfNeeded();
    harness.settle();
    EXPECT_EQ(ids(model->popularTracks()), std::vector<std::string>{"1"});
}

TEST_F(ArtistDetailViewModelTest, FailedTabWaitsForItsOwnReload) {
    runtime->onPopular = [](const ArtistSummary&) -> std::vector<Track> { throw SourceError::source("网络失败"); };
    make();
    model->loadSelectedIfNeeded();
    harness.settle();
    EXPECT_EQ(model->popularError(), "网络失败");
    model->loadSelectedIfNeeded();
    harness.settle();
    EXPECT_EQ(runtime->count("popular"), 1u);
    model->loadPopular();
    EXPECT_FALSE(model->popularError());
    EXPECT_TRUE(model->popularIsLoading());
}

TEST_F(ArtistDetailViewModelTest, DestroyedModelDropsAnswers) {
    runtime->onPopular = [](const ArtistSummary&) { return std::vector<Track>{song("1")}; };
    albumsPage({album("1", "2023-01-01")});
    make();
    model->loadPopular();
    model->loadLatest();
    model.reset();
    harness.settle();
    EXPECT_EQ(harness.mainQueue.runPending(), 0u);
}

}  // namespace
}  // namespace velto
