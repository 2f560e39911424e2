#include <gtest/gtest.h>

#include "AppTestSupport.h"
#include "app/AlbumDetailViewModel.h"

namespace velto {
namespace {

class AlbumDetailViewModelTest : public ::testing::Test {
  protected:
    AlbumSummary opened = album("42");
    std::shared_ptr<ScriptedSourceRuntime> runtime = std::make_shared<ScriptedSourceRuntime>();
    AppTaskHarness harness;
    AlbumDetailViewModel model{opened, runtime, harness.runner};
};

TEST_F(AlbumDetailViewModelTest, PublishesTheSourceRecordButAlwaysAsksForTheOpenedAlbum) {
    EXPECT_EQ(model.album(), opened);
    EXPECT_TRUE(model.tracks().empty());
    EXPECT_EQ(model.generation(), 0);

    std::vector<AlbumSummary> asked;
    runtime->onAlbumTracks = [&](const AlbumSummary& a) {
        asked.push_back(a);
        auto described = a;
        described.releaseDate = "2022-02-02";
        described.trackCount = 2;
        return AlbumDetail{described, {song("A"), song("B"), song("A", "再版")}};
    };
    model.load();
    harness.settle();
    EXPECT_EQ(model.album().releaseDate, "2022-02-02");
    EXPECT_EQ(model.tracks(), (std::vector<Track>{song("A"), song("B")}));
    model.load();
    harness.settle();
    ASSERT_EQ(asked.size(), 2u);
    EXPECT_EQ(asked[1], opened);
}

TEST_F(AlbumDetailViewModelTest, StaleCancelledAndFailedLoadsKeepTheContent) {
    int call = 0;
    runtime->onAlbumTracks = [&](const AlbumSummary& a) { return AlbumDetail{a, {song(std::to_string(++call))}}; };
    model.load();
    model.load();
    harness.step();
    EXPECT_TRUE(model.isLoading());
    EXPECT_TRUE(model.tracks().empty());
    harness.step();
    EXPECT_EQ(model.tracks(), std::vector<Track>{song("2")});

    std::stop_source caller;
    model.load(caller.get_token());
    caller.request_stop();
    harness.settle();
    EXPECT_FALSE(model.isLoading());
    EXPECT_FALSE(model.errorMessage());
    EXPECT_EQ(model.tracks(), std::vector<Track>{song("2")});

    runtime->onAlbumTracks = [](const AlbumSummary&) -> AlbumDetail { throw SourceError::source("专辑信息缺失"); };
    model.load();
    harness.settle();
    EXPECT_EQ(model.errorMessage(), "专辑信息缺失");
    EXPECT_EQ(model.tracks(), std::vector<Track>{song("2")});
}

}  // namespace
}  // namespace velto
