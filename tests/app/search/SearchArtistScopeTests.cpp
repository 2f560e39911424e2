#include "SearchModelFixture.h"

using namespace velto;
using namespace velto::searchtest;

namespace {

std::function<ArtistSearchPage()> artistPage(std::vector<std::string> ids, std::int64_t total,
                                             std::int64_t page, bool hasMore) {
    return [=] {
        std::vector<ArtistSummary> list;
        for (const auto& id : ids) list.push_back(artist(id, "name" + id));
        return ArtistSearchPage(list, total, MusicSource::wy, page, 3, hasMore);
    };
}

AlbumSummary album(int i) {
    return AlbumSummary::make("al" + std::to_string(i), MusicSource::wy, "album", "x", {}, {}, {});
}

}  // namespace

TEST(SearchArtistCandidates, WholeTextThenPartsThenWords) {
    struct Case {
        std::string keyword;
        std::vector<std::string> candidates;
    } cases[] = {
        {" alpha - beta gamma ", {"alpha - beta gamma", "beta gamma", "alpha", "beta", "gamma"}},
        {"x y", {"x y"}},
        {"a-b", {"a-b"}},
        {" \n ", {}},
        {"晴天 周杰伦 晴天", {"晴天 周杰伦 晴天", "晴天", "周杰伦"}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(SearchViewModel::candidateArtistKeywords(c.keyword), c.candidates) << c.keyword;
}

TEST_F(SearchModelTest, FirstCandidateOutcomeDecidesWhenNoCandidateFindsArtists) {
    runtime.artists["alpha - beta gamma:1"] = SearchTestRuntime::failing<ArtistSearchPage>("坏了");
    submit("alpha - beta gamma", SearchScope::artists);
    EXPECT_EQ(runtime.calls, (std::vector<std::string>{
                                 "artists:alpha - beta gamma:1", "artists:beta gamma:1",
                                 "artists:alpha:1", "artists:beta:1", "artists:gamma:1"}));
    EXPECT_EQ(model->failedArtistSources(), std::set<MusicSource>{MusicSource::wy});
    EXPECT_EQ(model->errorMessage(), "歌手搜索暂不可用，请重试");

    runtime.artists["alpha - beta gamma:1"] = SearchTestRuntime::cancelled<ArtistSearchPage>();
    submit("alpha - beta gamma ", SearchScope::artists);
    EXPECT_TRUE(model->failedArtistSources().empty());
    EXPECT_TRUE(model->artistSourceStates().empty());
    EXPECT_FALSE(model->errorMessage());
    EXPECT_TRUE(model->hasLoadedArtists());
}

TEST_F(SearchModelTest, ArtistPagesKeepThreeDeduplicateAndPageWithTheFindingCandidate) {
    runtime.artists["beta:1"] = artistPage({"1", "2", "2", "3", "4"}, 5, 1, false);
    submit("alpha - beta", SearchScope::artists);
    EXPECT_EQ(artistIDs(), (std::vector<std::string>{"1", "2"}));  // first three, one repeated
    EXPECT_TRUE(model->canExpandArtistResults());

    // Page 2 belongs to the candidate that found page 1, not to the whole keyword.
    runtime.artists["beta:2"] = artistPage({"2", "5"}, 4, 2, false);
    model->setArtistResultsExpanded(true);
    model->loadMoreArtists();
    model->loadMoreArtists();  // one batch at a time
    held.releaseAll();
    EXPECT_EQ(callsStartingWith("artists:beta:2"), 1u);
    EXPECT_EQ(callsStartingWith("artists:alpha - beta:2"), 0u);
    EXPECT_EQ(artistIDs(), (std::vector<std::string>{"1", "2", "5"}));
    EXPECT_TRUE(model->canExpandArtistResults());  // three of five reported

    model->loadMoreArtists();  // "beta:3" answers an empty page
    held.releaseAll();
    EXPECT_FALSE(model->canExpandArtistResults());
    EXPECT_FALSE(model->isLoadingMoreArtists());
}

TEST_F(SearchModelTest, FailedExpansionWaitsForItsRetry) {
    runtime.artists["q:1"] = artistPage({"1", "2", "3"}, 10, 1, true);
    runtime.artists["q:2"] = SearchTestRuntime::failing<ArtistSearchPage>("坏了");
    submit("q", SearchScope::artists);
    model->retryArtistExpansion(MusicSource::wy);  // not marked failed
    model->setArtistResultsExpanded(true);
    model->loadMoreArtists();
    held.releaseAll();
    EXPECT_EQ(model->artistExpansionWarnings(), std::vector<MusicSource>{MusicSource::wy});
    model->loadMoreArtists();  // a failed source is not asked again
    EXPECT_EQ(held.pending(), 0u);

    runtime.artists["q:2"] = artistPage({"4"}, 10, 2, true);
    model->retryArtistExpansion(MusicSource::wy);
    model->retryArtistExpansion(MusicSource::wy);
    held.releaseAll();
    EXPECT_EQ(callsStartingWith("artists:q:2"), 2u);
    EXPECT_TRUE(model->artistExpansionWarnings().empty());
    EXPECT_TRUE(model->retryingArtistExpansionSources().empty());
    EXPECT_EQ(artistIDs(), (std::vector<std::string>{"1", "2", "3", "4"}));
}

TEST_F(SearchModelTest, StaleArtistBatchesChangeNothing) {
    runtime.artists["q:1"] = artistPage({"1", "2", "3"}, 10, 1, true);
    runtime.artists["q:2"] = artistPage({"4"}, 10, 2, true);
    submit("q", SearchScope::artists);
    model->setArtistResultsExpanded(true);
    model->loadMoreArtists();
    model->setQuery("qq");  // moved without an edit notice
    held.releaseAll();
    EXPECT_FALSE(model->isLoadingMoreArtists());
    EXPECT_EQ(artistIDs(), (std::vector<std::string>{"1", "2", "3"}));

    model->setQuery("q");
    model->loadMoreArtists();
    submit("r", SearchScope::artists);  // a newer search owns the list now
    EXPECT_TRUE(model->artistResults().empty());
    EXPECT_FALSE(model->isLoadingMoreArtists());
}

TEST_F(SearchModelTest, AlbumsAndPlaylistsShowTheirOwnBanners) {
    runtime.albums["k"] = [] {
        AlbumPage page;
        for (int i = 0; i < 25; ++i) page.list.push_back(album(i));
        return page;
    };
    submit("k", SearchScope::albums);
    ASSERT_EQ(model->albumResults().size(), 20u);
    EXPECT_EQ(model->albumResults().back().id, "al19");

    runtime.albums["m"] = SearchTestRuntime::failing<AlbumPage>("专辑坏了");
    runtime.playlists["m"] = SearchTestRuntime::failing<PlaylistCatalogPage>("歌单坏了");
    submit("m", SearchScope::albums);
    EXPECT_EQ(model->errorMessage(), "专辑坏了");
    model->setSelectedScope(SearchScope::playlists);
    model->loadScopeIfNeeded(SearchScope::playlists);
    held.releaseAll();
    EXPECT_EQ(model->errorMessage(), "歌单坏了");
    EXPECT_TRUE(model->playlistResults().empty());

    runtime.playlists["jay"] = [] {
        PlaylistCatalogPage page;
        page.list = {playlist("a", "x"), playlist("b", "Jay")};
        return page;
    };
    submit("jay", SearchScope::playlists);
    ASSERT_EQ(model->playlistResults().size(), 2u);
    EXPECT_EQ(model->playlistResults().front().id, "b");
    EXPECT_FALSE(model->errorMessage());
}

// Each scope keeps its own state of the submitted keyword, and the error shown is the selected
// scope's own: a failure stands however often the scopes are switched, never read as an empty
// answer, until a new submission ends it; an answer of another scope never takes its place.
TEST_F(SearchModelTest, EachScopeKeepsItsOwnStateAndErrorAcrossSwitches) {
    using State = SearchViewModel::ScopeState;
    runtime.songs["雾"] = SearchTestRuntime::failing<SearchPage>("接口繁忙");
    runtime.artists["雾:1"] = artistPage({"a1"}, 1, 1, false);
    runtime.albums["雾"] = [] { return AlbumPage{}; };
    runtime.playlists["雾"] = SearchTestRuntime::failing<PlaylistCatalogPage>("歌单坏了");
    EXPECT_EQ(model->scopeState(SearchScope::songs), State::idle);
    type("雾");
    model->search();
    EXPECT_EQ(model->scopeState(SearchScope::songs), State::loading);
    held.releaseAll();
    const std::string songsFailed = "搜索失败：网易云：接口繁忙";
    EXPECT_EQ(model->scopeState(SearchScope::songs), State::failed);
    EXPECT_EQ(model->errorMessage(), songsFailed);
    EXPECT_EQ(model->scopeState(SearchScope::artists), State::idle);

    const std::pair<SearchScope, State> answered[] = {{SearchScope::artists, State::results},
                                                      {SearchScope::albums, State::empty},
                                                      {SearchScope::playlists, State::failed}};
    for (const auto& [scope, state] : answered) {
        model->setSelectedScope(scope);
        model->loadScopeIfNeeded(scope);
        EXPECT_EQ(model->scopeState(scope), State::loading) << rawValue(scope);
        EXPECT_FALSE(model->errorMessage()) << rawValue(scope);
        held.releaseAll();
        EXPECT_EQ(model->scopeState(scope), state) << rawValue(scope);
    }
    EXPECT_EQ(model->errorMessage(), "歌单坏了");
    const auto calls = runtime.calls.size();
    // Round trips, the services meanwhile back: what stood stays until it is searched again.
    runtime.songs["雾"] = [] { return SearchPage{{song("1", "雾", "某人")}, 1, 1}; };
    for (int trip = 0; trip < 2; ++trip) {
        for (const auto& [scope, error] :
             {std::pair{SearchScope::songs, std::optional<std::string>(songsFailed)},
              {SearchScope::artists, std::nullopt},
              {SearchScope::playlists, std::optional<std::string>("歌单坏了")},
              {SearchScope::albums, std::nullopt}}) {
            model->setSelectedScope(scope);
            model->loadScopeIfNeeded(scope);
            held.releaseAll();
            EXPECT_EQ(model->errorMessage(), error) << rawValue(scope) << " trip " << trip;
        }
    }
    EXPECT_EQ(runtime.calls.size(), calls);
    EXPECT_EQ(model->scopeState(SearchScope::songs), State::failed);

    // The retry is a new submission of the scope shown: it ends the failure.
    model->setSelectedScope(SearchScope::songs);
    model->search();
    EXPECT_EQ(model->scopeState(SearchScope::songs), State::loading);
    EXPECT_FALSE(model->errorMessage());
    held.releaseAll();
    EXPECT_EQ(model->scopeState(SearchScope::songs), State::results);
    EXPECT_EQ(model->scopeState(SearchScope::playlists), State::idle);
    EXPECT_FALSE(model->errorMessage());
}
