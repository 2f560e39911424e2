#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "app/search/ArtistResultRanker.h"
#include "app/search/PlaylistResultRanker.h"
#include "app/search/SearchResultRanker.h"

using namespace velto;

namespace {

const char* const titles[] = {"晴天", "晴天 (Live)", "Ｑｉｎｇ Ｔｉａｎ", "晴天（伴奏）", "雨天的歌",
                              "Sunny Day", "Sunny Day - DJ Remix", "晴天 钢琴版", "Olive Tree",
                              "晴天 cover"};
const char* const artists[] = {"周杰伦", "周杰伦、某人", "Jay & Friends / Band", "某乐队",
                               "Céline;Ｊａｙ", "无名"};

std::vector<Track> songs() {
    std::vector<Track> list;
    for (int i = 0; i < 25; ++i) {
        Track track;
        track.songmid = std::to_string(i);
        track.title = titles[i % 10];
        track.artist = artists[i % 6];
        track.payload = "{}";
        list.push_back(track);
    }
    return list;
}

void BM_RankSongs(benchmark::State& state) {
    const auto list = songs();
    for (auto _ : state) {
        auto ranked = SearchResultRanker::rank(SearchResultRanker::deduplicated(list), "晴天 周杰伦");
        benchmark::DoNotOptimize(ranked);
    }
}
BENCHMARK(BM_RankSongs);

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
