#include <benchmark/benchmark.h>

#include <functional>
#include <string>
#include <vector>

#include "app/search/ArtistResultRanker.h"
#include "app/search/PlaylistResultRanker.h"
#include "app/search/SearchResultRanker.h"
#include "app/search/SearchTestRuntime.h"
#include "app/search/SearchViewModel.h"
#include "foundation/ManualMainQueue.h"
#include "foundation/UserDefaults.h"
#include "foundation/WorkerPool.h"
#include "support/TempDir.h"

using namespace velto;

namespace {

const char* const titles[] = {"晴天", "晴天 (Live)", "Ｑｉｎｇ Ｔｉａｎ", "晴天（伴奏）", "雨天的歌",
                              "Sunny Day", "Sunny Day - DJ Remix", "晴天 钢琴版", "Olive Tree",
                              "晴天 cover"};
const char* const artists[] = {"周杰伦", "周杰伦、某人", "Jay & Friends / Band", "某乐队",
                               "Céline;Ｊａｙ", "无名"};

// The first 25 repeat a few titles; the rest are all different songs.
std::vector<Track> songs(std::int64_t count = 25) {
    std::vector<Track> list;
    for (std::int64_t i = 0; i < count; ++i) {
        Track track;
        track.songmid = std::to_string(i);
        track.title = titles[i % 10];
        if (i >= 25) track.title += " " + std::to_string(i);
        track.artist = artists[i % 6];
        track.payload = "{}";
        list.push_back(track);
    }
    return list;
}

void BM_RankSongs(benchmark::State& state) {
    const auto list = songs(state.range(0));
    for (auto _ : state) {
        auto ranked = SearchResultRanker::rank(SearchResultRanker::deduplicated(list), "晴天 周杰伦");
        benchmark::DoNotOptimize(ranked);
    }
}
BENCHMARK(BM_RankSongs)->Arg(25)->Arg(100'000)->Unit(benchmark::kMicrosecond);

// The main thread's part of a song search whose one source answers with this many songs: what
// the search model does when the answer arrives (ranking, de-duplication, the list model). The
// worker's part, the request and reading the answer, is not timed.
void BM_PublishSongAnswer(benchmark::State& state) {
    TempDir dir;
    UserDefaults defaults(dir.path() / "defaults.json");
    ManualMainQueue queue;
    WorkerPool workers{1};
    searchtest::SearchTestRuntime runtime;
    const auto answer = songs(state.range(0));
    runtime.songs["晴天 周杰伦"] = [&answer] {
        SearchPage page;
        page.list = answer;
        return page;
    };
    SearchViewModel model(runtime, defaults, queue, workers);
    std::vector<std::function<void()>> jobs;
    model.setBlockingExecutor([&jobs](std::function<void()> job) { jobs.push_back(std::move(job)); });
    model.setQuery("晴天 周杰伦");
    for (auto _ : state) {
        state.PauseTiming();
        model.search();
        for (auto& job : jobs) job();
        jobs.clear();
        state.ResumeTiming();
        queue.runPending();
    }
    state.counters["results"] = double(model.results().size());
}
BENCHMARK(BM_PublishSongAnswer)->Arg(25)->Arg(100'000)->Unit(benchmark::kMicrosecond);

void BM_RankArtists(benchmark::State& state) {
    std::vector<ArtistSummary> list;
    for (int i = 0; i < 30; ++i) {
        ArtistSummary artist;
        artist.id = std::to_string(i);
        artist.name = std::string(artists[i % 6]) + (i % 2 ? " Band" : "");
        list.push_back(artist);
    }
    for (auto _ : state) benchmark::DoNotOptimize(ArtistResultRanker::rank(list, "周杰伦"));
}
BENCHMARK(BM_RankArtists);

void BM_RankPlaylists(benchmark::State& state) {
    std::vector<PlaylistSummary> list;
    for (int i = 0; i < 20; ++i) {
        PlaylistSummary playlist;
        playlist.id = std::to_string(i);
        playlist.name = std::string(titles[i % 10]) + " 精选";
        playlist.author = artists[i % 6];
        playlist.desc = "收录了很多好听的歌 " + std::to_string(i);
        list.push_back(playlist);
    }
    for (auto _ : state) benchmark::DoNotOptimize(PlaylistResultRanker::rank(list, "晴天"));
}
BENCHMARK(BM_RankPlaylists);

}  // namespace
