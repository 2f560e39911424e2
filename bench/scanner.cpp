#include <benchmark/benchmark.h>

#include <string>

#include "playback/LocalAudioScanner.h"
#include "support/TempDir.h"
#include "support/WavFile.h"

using namespace velto;

namespace {

constexpr int fileCount = 2000;

// 2,000 one-second WAV files in 20 folders, made once for the whole run.
const TempDir& library() {
    static const TempDir dir;
    static const bool filled = [] {
        for (int folder = 0; folder < 20; ++folder) {
            const auto path = dir.path() / ("Album " + std::to_string(folder));
            std::filesystem::create_directory(path);
            for (int i = 0; i < fileCount / 20; ++i)
                writeWav(path / ("Track " + std::to_string(i) + ".wav"), 1);
        }
        return true;
    }();
    (void)filled;
    return dir;
}

void BM_ScanFolderOfWavFiles(benchmark::State& state) {
    const auto root = library().path();
    std::size_t found = 0;
    for (auto _ : state) {
        auto songs = LocalAudioScanner::scan({root});
        found = songs.size();
        benchmark::DoNotOptimize(songs);
    }
    if (found != fileCount) state.SkipWithError("scan missed files");
    state.SetItemsProcessed(state.iterations() * fileCount);
    state.counters["per_file"] = benchmark::Counter(
        fileCount, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_ScanFolderOfWavFiles)->Unit(benchmark::kMillisecond);

void BM_ReadOneFile(benchmark::State& state) {
    const auto file = library().path() / "Album 0" / "Track 0.wav";
    for (auto _ : state) benchmark::DoNotOptimize(LocalAudioScanner::track(file));
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_ReadOneFile);

}  // namespace
