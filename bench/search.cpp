#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "app/search/ArtistResultRanker.h"
#include "app/search/PlaylistResultRanker.h"
#include "app/search/SearchResultRanker.h"
#include "app/search/SearchTestRuntime.h"
#include "app/search/SearchViewModel.h"
#include "foundation/ManualMainQueue.h"
#include "foundation/files/UserDefaults.h"
#include "foundation/WorkerPool.h"
#include "sources/rovoz/ChkszAPIRequesting.h"
#include "sources/netease/NetEaseWebClient.h"
#include "sources/rovoz/ChkszNetEaseClient.h"
#include "support/ForwardingMainQueue.h"
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

// Times only the main thread's turn of each search (`queue` posts to `manual`): its worker jobs
// run untimed first. Returns how many results the last search published.
std::size_t publishSearches(benchmark::State& state, searchtest::SearchTestRuntime& runtime,
                            UserDefaults& defaults, ManualMainQueue& manual, MainQueue& queue,
                            WorkerPool& workers, SearchScope scope = SearchScope::songs) {
    SearchViewModel model(runtime, defaults, queue, workers);
    std::vector<std::function<void()>> jobs;
    model.setBlockingExecutor([&jobs](std::function<void()> job) { jobs.push_back(std::move(job)); });
    model.setQuery("晴天 周杰伦");
    for (auto _ : state) {
        state.PauseTiming();
        model.search(scope);
        for (auto& job : jobs) job();
        jobs.clear();
        state.ResumeTiming();
        manual.runPending();
    }
    if (scope == SearchScope::artists) return model.artistResults().size();
    if (scope == SearchScope::albums) return model.albumResults().size();
    return model.results().size();
}

// The main thread's part of a song search whose one source answers with this many songs: what
// the search model does when the answer arrives (de-duplication, ordering, the list model). The
// worker's part, the request, reading the answer and scoring its songs, is not timed.
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
    state.counters["results"] =
        double(publishSearches(state, runtime, defaults, queue, queue, workers));
}
BENCHMARK(BM_PublishSongAnswer)->Arg(25)->Arg(100'000)->Unit(benchmark::kMicrosecond);

// Times every turn the main thread takes, to report the longest.
class TimedMainQueue final : public ForwardingMainQueue {
  public:
    using ForwardingMainQueue::ForwardingMainQueue;
    void post(std::function<void()> work) override {
        inner_.post([this, work = std::move(work)] {
            const auto start = std::chrono::steady_clock::now();
            work();
            longest = std::max(longest, std::chrono::steady_clock::now() - start);
        });
    }

    std::chrono::steady_clock::duration longest{};
};

// A search model's surroundings with its main-thread turns timed.
struct TimedSearch {
    TempDir dir;
    UserDefaults defaults{dir.path() / "defaults.json"};
    ManualMainQueue manual;
    TimedMainQueue queue{manual};
    WorkerPool workers{1};
    searchtest::SearchTestRuntime runtime;

    // publishSearches, reporting the results and "longest_ms", the longest main-thread turn.
    void publish(benchmark::State& state, SearchScope scope = SearchScope::songs) {
        state.counters["results"] =
            double(publishSearches(state, runtime, defaults, manual, queue, workers, scope));
        state.counters["longest_ms"] =
            std::chrono::duration<double, std::milli>(queue.longest).count();
    }
};

// A RoVOz service that answers every request with one body.
struct FixedAnswer final : ChkszAPIRequesting {
    std::string body;
    std::string request(const std::string&, const std::map<std::string, std::string>&,
                        std::stop_token) override {
        return body;
    }
};

// One base letter and then combining acute accents (2 bytes each) up to `bytes`: one character.
std::string markedLetter(std::size_t bytes) {
    std::string text = "a";
    while (text.size() + 2 <= bytes) text += "\xCC\x81";
    return text;
}

// Hostile RoVOz song answers under the body cap: 15 songs whose names are 1 MB each (arg 0),
// 25 songs of 20,000 artists each (arg 1), a full page of 100 songs whose title, album and
// artists all reach the song model's bounds (arg 2), and 15 songs whose names are 1 MB of one
// character (arg 3) or of 500 characters of 2 KB each (arg 4). The names mix CJK, accented and
// full-width letters, so that every fold takes the slow path.
std::string heavyAnswer(std::int64_t kind) {
    auto songs = nlohmann::json::array();
    const std::string piece = "晴天é Ｊａｙ ";  // 16 bytes, 7 characters
    auto longText = [&piece](int i, std::size_t bytes) {
        std::string text = std::to_string(i) + " ";
        while (text.size() < bytes) text += piece;
        return text;
    };
    for (int i = 0; i < (kind == 1 ? 25 : kind == 2 ? 100 : 15); ++i) {
        nlohmann::json song = {{"id", i + 1}, {"album", "叶惠美"}};
        auto artists = nlohmann::json::array();
        if (kind == 0) {
            song["name"] = longText(i, std::size_t{1} << 20);
            artists.push_back({{"name", "周杰伦"}});
        } else if (kind == 3 || kind == 4) {
            std::string name = "晴天 " + std::to_string(i) + " ";
            if (kind == 3) {
                name += markedLetter(std::size_t{1} << 20);
            } else {
                const std::string character = markedLetter(2048);
                for (int c = 0; c < 500; ++c) name += character;
            }
            song["name"] = std::move(name);
            artists.push_back({{"name", "周杰伦"}});
        } else if (kind == 1) {
            song["name"] = "晴天 " + std::to_string(i);
            for (int a = 0; a < 20'000; ++a) artists.push_back({{"name", "歌手é" + std::to_string(a)}});
        } else {
            song["name"] = longText(i, 4 * Track::longestName);
            song["album"] = longText(i, 4 * Track::longestName);
            for (std::size_t a = 0; a < Track::mostArtists; ++a)
                artists.push_back({{"name", longText(int(a), 48)}});
        }
        song["artists"] = artists;
        songs.push_back(song);
    }
    return nlohmann::json{{"code", 200}, {"data", {{"songs", songs}, {"total", songs.size()}}}}.dump();
}

// The main thread's part of a search whose RoVOz answer is hostile: the answer is read and
// scored on the worker (not timed), then published. "longest_ms" is the longest main-thread turn.
void BM_PublishHeavySongAnswer(benchmark::State& state) {
    TimedSearch search;
    auto api = std::make_shared<FixedAnswer>();
    api->body = heavyAnswer(state.range(0));
    ChkszNetEaseClient client(api);
    search.runtime.songs["晴天 周杰伦"] = [&client] { return client.search("晴天 周杰伦", 1, 100, {}); };
    search.publish(state);
    state.counters["answer_MB"] = double(api->body.size()) / double(1 << 20);
}
BENCHMARK(BM_PublishHeavySongAnswer)->Arg(0)->Arg(1)->Arg(2)->Arg(3)->Arg(4)->Unit(benchmark::kMillisecond)->Iterations(3);

// The main thread's part of an artist (second arg 0) or album (1) search whose NetEase answer
// holds 15 records named with 1 MB of one character (first arg 0) or of 500 characters of 2 KB
// each (1), an album's artist too, read by the web client's parser on the worker (not timed).
// Artists show three a source. "longest_ms" is the longest main-thread turn.
void BM_PublishHeavyCatalogAnswer(benchmark::State& state) {
    TimedSearch search;
    auto answer = nlohmann::json::array();
    for (int i = 0; i < 15; ++i) {
        std::string name = "周杰伦 " + std::to_string(i) + " ";
        if (state.range(0) == 0) {
            name += markedLetter(std::size_t{1} << 20);
        } else {
            const std::string character = markedLetter(2048);
            for (int c = 0; c < 500; ++c) name += character;
        }
        answer.push_back({{"id", i + 1}, {"name", name}, {"artist", {{"name", name}}}});
    }
    const bool albums = state.range(1) == 1;
    if (albums) {
        search.runtime.albums["晴天 周杰伦"] = [&answer] {
            AlbumPage page;
            for (const auto& object : answer) page.list.push_back(*NetEaseWebClient::albumFrom(object));
            page.total = 15;
            return page;
        };
    } else {
        search.runtime.artists["晴天 周杰伦:1"] = [&answer] {
            std::vector<ArtistSummary> list;
            for (const auto& object : answer) list.push_back(*NetEaseWebClient::artistFrom(object));
            return ArtistSearchPage(std::move(list), 15, MusicSource::wy, 1, 30);
        };
    }
    search.publish(state, albums ? SearchScope::albums : SearchScope::artists);
}
BENCHMARK(BM_PublishHeavyCatalogAnswer)
    ->ArgsProduct({{0, 1}, {0, 1}})
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3);

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
