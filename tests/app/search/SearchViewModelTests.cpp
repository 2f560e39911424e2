#include <QSignalSpy>

#include "SearchModelFixture.h"
#include "app/search/SearchResultListModel.h"
#include "sources/model/TrackPayloadCache.h"

using namespace velto;
using namespace velto::searchtest;
using namespace std::chrono_literals;
using nlohmann::json;

namespace {

std::function<SearchPage()> songs(std::vector<Track> list) {
    return [list] {
        SearchPage page;
        page.list = list;
        return page;
    };
}

}  // namespace

TEST_F(SearchModelTest, SuggestionsWaitForAPauseAndDropLateAnswers) {
    type("a");
    queue.advance(1s);
    EXPECT_EQ(held.submitted(), 0u);
    EXPECT_FALSE(model->isLoadingSuggestions());

    type("ab");
    queue.advance(200ms);
    type("abc");
    queue.advance(310ms);
    EXPECT_EQ(held.submitted(), 0u);
    queue.advance(10ms);
    ASSERT_EQ(held.submitted(), 1u);
    runtime.tips["abc"] = [] { return std::vector<std::string>{"abc 1"}; };
    held.release(0);
    EXPECT_EQ(model->suggestions(), (std::vector<std::string>{"abc 1"}));
    EXPECT_FALSE(model->isLoadingSuggestions());

    // An edit away and back makes the first answer stale, although it was for the same text.
    type("abcd");
    queue.advance(320ms);
    type("abcde");
    type("abcd");
    queue.advance(320ms);
    ASSERT_EQ(held.submitted(), 3u);
    runtime.tips["abcd"] = [] { return std::vector<std::string>{"old"}; };
    held.release(1);
    EXPECT_TRUE(model->suggestions().empty());
    EXPECT_TRUE(model->isLoadingSuggestions());
    runtime.tips["abcd"] = [] { return std::vector<std::string>{"new"}; };
    held.release(2);
    EXPECT_EQ(model->suggestions(), (std::vector<std::string>{"new"}));
}

TEST_F(SearchModelTest, DiscoveryShowsFiveSuggestionsForAnyQueryTextAndEightHotSearches) {
    const std::vector<std::string> seven{"s1", "s2", "s3", "s4", "s5", "s6", "s7"};
    runtime.tips["abc"] = [seven] { return seven; };
    type("abc");
    queue.advance(320ms);
    held.releaseAll();
    ASSERT_EQ(model->suggestions(), seven);
    EXPECT_EQ(model->shownSuggestions(), std::vector<std::string>(seven.begin(), seven.begin() + 5));
    const std::pair<std::string, std::size_t> queries[] = {{"", 0}, {" ", 5}, {"abc", 5}};
    for (const auto& [query, shown] : queries) {
        model->setQuery(query);  // the setter alone keeps the suggestions
        EXPECT_EQ(model->shownSuggestions().size(), shown) << "'" << query << "'";
        EXPECT_EQ(model->shownSuggestionList().size(), qsizetype(shown)) << "'" << query << "'";
    }

    runtime.hot = [] {
        std::vector<std::string> list;
        for (int i = 0; i < 10; ++i) list.push_back("k" + std::to_string(i));
        return list;
    };
    model->refreshHotSearches();
    held.releaseAll();
    ASSERT_EQ(model->hotSearches().size(), 10u);
    EXPECT_EQ(model->shownHotSearches(), std::vector<std::string>(model->hotSearches().begin(), model->hotSearches().begin() + 8));
}

TEST_F(SearchModelTest, SubmittedKeywordSurvivesSpacesButNotOtherEdits) {
    runtime.songs["晴天"] = songs({song("1", "晴天", "周杰伦"), song("2", "晴天 (Live)", "周杰伦")});
    submit(" 晴天");
    EXPECT_EQ(runtime.calls, (std::vector<std::string>{"search:晴天:1"}));
    EXPECT_EQ(model->results().size(), 2u);
    EXPECT_TRUE(model->hasSearched());
    EXPECT_TRUE(model->hasLoadedSongs());
    EXPECT_FALSE(model->isLoading());
    EXPECT_FALSE(model->activeSearchKeyword());
    EXPECT_EQ(model->history(), (std::vector<std::string>{"晴天"}));
    EXPECT_EQ(model->resultsModel()->rowCount(), 2);

    QSignalSpy resultsSpy(model.get(), &SearchViewModel::resultsChanged);
    QSignalSpy querySpy(model.get(), &SearchViewModel::queryValueChanged);
    type("  晴天 \n");
    model->setQuery("  晴天 \n");  // an equal write says nothing
    queue.advance(1s);
    EXPECT_EQ(held.submitted(), 1u);  // no suggestion request
    EXPECT_EQ(model->results().size(), 2u);
    EXPECT_EQ(resultsSpy.count(), 0);
    EXPECT_EQ(querySpy.count(), 1);

    model->setSelectedScope(SearchScope::artists);
    type("晴天了");
    EXPECT_TRUE(model->results().empty());
    EXPECT_EQ(model->selectedScope(), SearchScope::songs);
    EXPECT_FALSE(model->submittedKeyword());
    EXPECT_FALSE(model->hasSearched());
}

TEST_F(SearchModelTest, SubmissionLoadsOnlyTheChosenScopeAndOthersOnce) {
    runtime.songs["晴天"] = songs({song("1", "晴天", "周杰伦")});
    submit("晴天", SearchScope::albums);
    EXPECT_EQ(runtime.calls, (std::vector<std::string>{"albums:晴天:20"}));
    EXPECT_EQ(model->selectedScope(), SearchScope::albums);
    EXPECT_TRUE(model->hasLoadedAlbums());
    EXPECT_FALSE(model->hasLoadedSongs());

    model->setSelectedScope(SearchScope::songs);
    for (int i = 0; i < 2; ++i) {
        model->loadScopeIfNeeded(SearchScope::songs);
        model->loadScopeIfNeeded(SearchScope::albums);
        held.releaseAll();
    }
    EXPECT_EQ(callsStartingWith("search:"), 1u);
    EXPECT_EQ(callsStartingWith("albums:"), 1u);
    EXPECT_EQ(model->results().size(), 1u);

    // A blank submission clears every scope, asks nothing and leaves the history alone.
    model->setQuery("   ");
    model->search();
    held.releaseAll();
    EXPECT_TRUE(model->results().empty());
    EXPECT_FALSE(model->hasLoadedAlbums());
    EXPECT_FALSE(model->hasSearched());
    EXPECT_EQ(model->selectedScope(), SearchScope::songs);
    EXPECT_EQ(model->history(), (std::vector<std::string>{"晴天"}));
    EXPECT_EQ(runtime.calls.size(), 2u);
}

TEST_F(SearchModelTest, AFloodedAnswerKeepsOnlyTheFirstSongsOfItsSource) {
    const std::size_t limit = SearchViewModel::songsPerSourceLimit;
    std::vector<Track> flood;
    for (std::size_t i = 0; i < 10 * limit; ++i) {
        flood.push_back(song(std::to_string(i), "歌" + std::to_string(i), "某人"));
    }
    runtime.songs["晴天"] = songs(flood);
    submit("晴天");
    ASSERT_EQ(model->results().size(), limit);
    EXPECT_EQ(model->results().back().songmid, std::to_string(limit - 1));
}

// Whether a song may play is read from its record on the worker: publishing an answer reads no
// record on the main thread, however large the records are.
TEST_F(SearchModelTest, PublishingAnAnswerReadsNoSongRecordOnTheMainThread) {
    Track withdrawn = song("1", "晴天", "周杰伦");
    withdrawn.payload = json({{"st", -1}, {"lyric", std::string(1 << 16, 'x')}}).dump();
    Track released = song("2", "晴天 (Live)", "周杰伦");
    released.payload = json({{"privilege", {{"st", 0}}}}).dump();
    runtime.songs["晴天"] = songs({withdrawn, released});
    type("晴天");
    model->search(SearchScope::songs);
    for (std::size_t i = 0; i < held.submitted(); ++i) held.run(i);
    const auto lookups = TrackPayloadCache::shared().lookups();
    queue.runPending();
    EXPECT_EQ(TrackPayloadCache::shared().lookups(), lookups);
    auto* rows = qobject_cast<SearchResultListModel*>(model->resultsModel());
    ASSERT_TRUE(rows && rows->rowCount() == 2);
    EXPECT_EQ(rows->get(0).value("isPlayable"), QVariant(false));
    EXPECT_EQ(rows->get(1).value("isPlayable"), QVariant(true));
}

TEST_F(SearchModelTest, FailedSourceShowsTheBannerAndRetriesOneAtATime) {
    runtime.songs["晴天"] = SearchTestRuntime::failing<SearchPage>("接口繁忙");
    submit("晴天");
    EXPECT_EQ(model->errorMessage(), "搜索失败：网易云：接口繁忙");
    EXPECT_TRUE(model->songSourceWarnings().empty());
    EXPECT_EQ(model->failedSource(), MusicSource::wy);

    runtime.songs["晴天"] = songs({song("1", "晴天", "周杰伦")});
    model->retryFailedSource();
    model->retryFailedSource();
    EXPECT_TRUE(model->isRetryingFailedSource());
    EXPECT_EQ(held.pending(), 1u);
    held.releaseAll();
    EXPECT_EQ(model->results().size(), 1u);
    EXPECT_FALSE(model->errorMessage());
    EXPECT_FALSE(model->failedSource());
    EXPECT_FALSE(model->isRetryingFailedSource());
    model->retryFailedSource();  // nothing failed any more
    EXPECT_EQ(held.pending(), 0u);
}

TEST_F(SearchModelTest, CancellationsAreNeverFailuresNorSuccesses) {
    runtime.songs["晴天"] = SearchTestRuntime::cancelled<SearchPage>();
    submit("晴天");
    EXPECT_TRUE(model->hasLoadedSongs());
    EXPECT_FALSE(model->errorMessage());
    EXPECT_TRUE(model->songFailures().empty());

    runtime.songs["雨天"] = SearchTestRuntime::failing<SearchPage>("接口繁忙");
    submit("雨天");
    runtime.songs["雨天"] = SearchTestRuntime::cancelled<SearchPage>();
    model->retryFailedSource(MusicSource::wy);
    held.releaseAll();
    // Nothing was fetched: the failure and its banner stay.
    EXPECT_FALSE(model->isRetryingFailedSource());
    EXPECT_EQ(model->songFailures().size(), 1u);
    EXPECT_EQ(model->failedSource(), MusicSource::wy);
    EXPECT_EQ(model->errorMessage(), "搜索失败：网易云：接口繁忙");
}

TEST_F(SearchModelTest, StaleAnswersOfTheCurrentGenerationClearOnlyTheirFlag) {
    runtime.songs["晴天"] = songs({song("1", "晴天", "周杰伦")});
    type("晴天");
    model->search();
    model->setQuery("晴天了");  // moved without an edit notice
    held.releaseAll();
    EXPECT_FALSE(model->isLoading());
    EXPECT_FALSE(model->hasLoadedSongs());
    EXPECT_TRUE(model->results().empty());

    runtime.songs["雨天"] = SearchTestRuntime::failing<SearchPage>("接口繁忙");
    submit("雨天");
    model->retryFailedSource();
    model->setQuery("雨");
    held.releaseAll();
    EXPECT_FALSE(model->isRetryingFailedSource());
    EXPECT_EQ(model->songFailures().size(), 1u);
}

TEST_F(SearchModelTest, HotSearchesNormaliseFallBackAndReloadAfterCancellation) {
    runtime.hot = SearchTestRuntime::cancelled<std::vector<std::string>>();
    model->loadHotSearchesIfNeeded();
    held.releaseAll();
    EXPECT_FALSE(model->isLoadingHotSearches());
    EXPECT_FALSE(model->hasLoadedHotSearches());

    runtime.hot = [] { return std::vector<std::string>{" ", "", "\n"}; };
    model->loadHotSearchesIfNeeded();
    held.releaseAll();
    EXPECT_EQ(callsStartingWith("hot"), 2u);
    EXPECT_EQ(model->hotSearches(), SearchViewModel::defaultHotSearches);
    EXPECT_FALSE(model->hotSearchErrorMessage());
    model->loadHotSearchesIfNeeded();
    EXPECT_EQ(held.pending(), 0u);

    runtime.hot = [] {
        std::vector<std::string> list{" k0 ", "k0"};
        for (int i = 1; i < 20; ++i) list.push_back("k" + std::to_string(i));
        return list;
    };
    model->refreshHotSearches();
    held.releaseAll();
    ASSERT_EQ(model->hotSearches().size(), 12u);
    EXPECT_EQ(model->hotSearches().front(), "k0");
    EXPECT_EQ(model->hotSearches().back(), "k11");

    runtime.hot = SearchTestRuntime::failing<std::vector<std::string>>("接口繁忙");
    model->refreshHotSearches();
    held.releaseAll();
    EXPECT_EQ(model->hotSearchErrorMessage(), "热门搜索暂不可用");
    EXPECT_EQ(model->hotSearches().size(), 12u);
}
