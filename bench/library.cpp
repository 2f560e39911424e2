#include <benchmark/benchmark.h>

#include <fstream>
#include <map>
#include <string>

#include "library/store/LibraryStore.h"
#include "support/TempDir.h"

using namespace velto;

namespace {

// A payload of the size a catalogue search returns for one song.
Track song(int number) {
    Track track;
    track.songmid = std::to_string(1000000 + number);
    track.title = "第" + std::to_string(number) + "首歌";
    track.artist = "唱者";
    track.album = "专辑";
    track.interval = "04:12";
    track.payload =
        R"({"albumName":"专辑","interval":"04:12","name":"歌","picUrl":"https://p1.example.invalid/image/)" +
        std::string(40, 'a') + R"(.jpg","singer":"唱者","songmid":")" + track.songmid +
        R"(","types":[{"size":"3.8M","type":"128k"},{"size":"9.6M","type":"320k"},)"
        R"({"size":"28.1M","type":"flac"}]})";
    return track;
}

std::shared_ptr<UserDefaults> defaultsIn(const TempDir& dir) {
    return std::make_shared<UserDefaults>(dir.path() / "defaults.json");
}

// One store per favourite count, filled once for the whole run.
const TempDir& storeWith(int favourites) {
    static std::map<int, std::unique_ptr<TempDir>> dirs;
    auto& dir = dirs[favourites];
    if (!dir) {
        dir = std::make_unique<TempDir>();
        LibraryStore store(VeltoModelContainer::make(false, dir->path() / "Velto.store"), 100,
                           defaultsIn(*dir));
        for (int i = 0; i < favourites; ++i) store.collect(song(i));
        for (int i = 0; i < 100; ++i) store.recordRecent(song(i));
    }
    return *dir;
}

// The process's peak resident size, reset before the measured work.
void resetPeakMemory() {
    std::ofstream("/proc/self/clear_refs") << "5";
}

double peakMemoryMiB() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmHWM:", 0) == 0) return std::stod(line.substr(6)) / 1024.0;
    return 0;
}

void BM_OpenEnsureAndRebuildFavourites(benchmark::State& state) {
    const int favourites = static_cast<int>(state.range(0));
    const auto& dir = storeWith(favourites);
    resetPeakMemory();
    std::size_t rebuilt = 0;
    for (auto _ : state) {
        LibraryStore store(VeltoModelContainer::make(false, dir.path() / "Velto.store"), 100,
                           defaultsIn(dir));
        Playlist personal = store.ensurePersonalPlaylist();
        std::vector<Track> tracks;
        tracks.reserve(personal.items.size());
        for (const auto& item : personal.orderedItems())
            if (auto track = item.track.track()) tracks.push_back(std::move(*track));
        rebuilt = tracks.size();
        benchmark::DoNotOptimize(tracks);
    }
    if (rebuilt != static_cast<std::size_t>(favourites)) state.SkipWithError("songs missing");
    state.counters["peak_MiB"] = peakMemoryMiB();
}
BENCHMARK(BM_OpenEnsureAndRebuildFavourites)->Arg(1000)->Arg(50000)->Unit(benchmark::kMillisecond);

// Each round favourites a new song; compare the two sizes: the cost must not follow the length.
void BM_CollectNewSong(benchmark::State& state) {
    const int favourites = static_cast<int>(state.range(0));
    const auto& dir = storeWith(favourites);
    LibraryStore store(VeltoModelContainer::make(false, dir.path() / "Velto.store"), 100,
                       defaultsIn(dir));
    static int next = 10000000;
    for (auto _ : state) benchmark::DoNotOptimize(store.collect(song(next++)));
}
BENCHMARK(BM_CollectNewSong)->Arg(1000)->Arg(50000)->Unit(benchmark::kMicrosecond);

void BM_CollectSongAlreadyThere(benchmark::State& state) {
    const int favourites = static_cast<int>(state.range(0));
    const auto& dir = storeWith(favourites);
    LibraryStore store(VeltoModelContainer::make(false, dir.path() / "Velto.store"), 100,
                       defaultsIn(dir));
    int i = 0;
    for (auto _ : state) benchmark::DoNotOptimize(store.collect(song(i++ % favourites)));
}
BENCHMARK(BM_CollectSongAlreadyThere)->Arg(1000)->Arg(50000)->Unit(benchmark::kMicrosecond);

void BM_RecordRecent(benchmark::State& state) {
    const int favourites = static_cast<int>(state.range(0));
    const auto& dir = storeWith(favourites);
    LibraryStore store(VeltoModelContainer::make(false, dir.path() / "Velto.store"), 100,
                       defaultsIn(dir));
    int i = 0;
    for (auto _ : state) benchmark::DoNotOptimize(store.recordRecent(song(i++ % 300)));
}
BENCHMARK(BM_RecordRecent)->Arg(1000)->Arg(50000)->Unit(benchmark::kMicrosecond);

}  // namespace
