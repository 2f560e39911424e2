#include <benchmark/benchmark.h>
#include <malloc.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "library/store/LibraryStore.h"
#include "library/exchange/PlaylistBackup.h"
#include "library/exchange/StoreRecoveryArchive.h"
#include "support/TempDir.h"

using namespace velto;

namespace {

constexpr int backupSongs = 50'000;

// A catalogue song with its numeric id but no cover: with cover addresses, 50,000 entries do
// not fit the format's 10 MB.
Track song(int number) {
    Track track;
    track.songmid = std::to_string(1000000 + number);
    track.title = "第" + std::to_string(number) + "首歌";
    track.artist = "唱者";
    track.album = "专辑";
    track.interval = "04:12";
    track.payload = R"({"albumName":"专辑","name":"歌","singer":"唱者","songmid":")" +
                    track.songmid + R"(","songId":)" + track.songmid + "}";
    return track;
}

const std::vector<Track>& songs() {
    static const std::vector<Track> list = [] {
        std::vector<Track> result;
        for (int i = 0; i < backupSongs; ++i) result.push_back(song(i));
        return result;
    }();
    return list;
}

const std::string& backupBytes() {
    static const std::string bytes = PlaylistBackup::encode("五万首", songs());
    return bytes;
}

void resetPeakMemory() { std::ofstream("/proc/self/clear_refs") << "5"; }

double statusMiB(const char* field) {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind(field, 0) == 0) return std::stod(line.substr(std::string(field).size())) / 1024.0;
    return 0;
}

// Peak resident memory of the measured work above what was resident before it.
// Freed heap is handed back first, so earlier benchmarks' leftovers do not hide the peak.
struct PeakAbove {
    double base = (malloc_trim(0), statusMiB("VmRSS:"));
    PeakAbove() { resetPeakMemory(); }
    double extraMiB() const { return statusMiB("VmHWM:") - base; }
};

void BM_EncodeBackup(benchmark::State& state) {
    const auto& list = songs();
    PeakAbove peak;
    std::size_t size = 0;
    for (auto _ : state) {
        auto bytes = PlaylistBackup::encode("五万首", list);
        size = bytes.size();
        benchmark::DoNotOptimize(bytes);
    }
    state.counters["file_MiB"] = double(size) / (1 << 20);
    state.counters["peak_extra_MiB"] = peak.extraMiB();
}
BENCHMARK(BM_EncodeBackup)->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_DecodeBackup(benchmark::State& state) {
    const auto& bytes = backupBytes();
    PeakAbove peak;
    for (auto _ : state) {
        auto contents = PlaylistBackup::decode(bytes);
        if (contents.tracks.size() != std::size_t(backupSongs)) state.SkipWithError("songs missing");
        benchmark::DoNotOptimize(contents);
    }
    state.counters["peak_extra_MiB"] = peak.extraMiB();
}
BENCHMARK(BM_DecodeBackup)->Unit(benchmark::kMillisecond)->Iterations(3);

// Into an empty favourites list of a fresh store: one transaction for all 50,000 songs.
void BM_ImportBackupIntoEmptyFavourites(benchmark::State& state) {
    const auto& bytes = backupBytes();
    PeakAbove peak;
    for (auto _ : state) {
        state.PauseTiming();
        auto dir = std::make_unique<TempDir>();
        auto store = std::make_unique<LibraryStore>(
            VeltoModelContainer::make(false, dir->path() / "Velto.store"), 100,
            std::make_shared<UserDefaults>(dir->path() / "defaults.json"));
        state.ResumeTiming();
        const auto result = store->importPersonalPlaylist(bytes);
        if (result.insertedCount != backupSongs) state.SkipWithError("songs missing");
        state.PauseTiming();
        store.reset();
        dir.reset();
        state.ResumeTiming();
    }
    state.counters["peak_extra_MiB"] = peak.extraMiB();
}
BENCHMARK(BM_ImportBackupIntoEmptyFavourites)->Unit(benchmark::kMillisecond)->Iterations(2);

// A store of the given MiB with a 4 MB log, archived into a file as the program does: the peak
// must not follow the store's size.
void BM_CaptureStore(benchmark::State& state) {
    TempDir dir;
    const auto store = dir.path() / "Velto.store";
    const std::size_t storeBytes = std::size_t(state.range(0)) << 20;
    {
        std::string block(1 << 20, '\0');
        for (std::size_t i = 0; i < block.size(); ++i) block[i] = static_cast<char>(i * 131);
        std::ofstream file(store, std::ios::binary);
        for (std::size_t written = 0; written < storeBytes; written += block.size()) file << block;
        std::ofstream(store.string() + "-wal", std::ios::binary) << block << block << block << block;
    }
    PeakAbove peak;
    std::size_t size = 0;
    const auto archive = dir.path() / "recovery.json";
    for (auto _ : state) {
        StoreRecoveryArchive::captureTo(store, archive);
        size = std::filesystem::file_size(archive);
    }
    const double files = double(storeBytes + (4 << 20)) / (1 << 20);
    state.counters["archive_MiB"] = double(size) / (1 << 20);
    state.counters["peak_extra_MiB"] = peak.extraMiB();
    state.counters["peak_per_store_byte"] = peak.extraMiB() / files;
    state.SetBytesProcessed(std::int64_t(state.iterations()) * std::int64_t(storeBytes));
}
BENCHMARK(BM_CaptureStore)->Arg(100)->Arg(400)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace
