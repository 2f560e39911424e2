#include <benchmark/benchmark.h>

#include <cmath>
#include <string>
#include <vector>

#include "playback/LocalAudioScanner.h"
#include "support/Mp3File.h"
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

// An MP3 of `range(0)` minutes without a VBR header: with `range(1)`, a loud frame among quiet
// ones, whose length is counted from its frames up to a cap; else a steady 128 kbit/s.
void BM_ReadMP3WithoutVBRHeader(benchmark::State& state) {
    static const TempDir dir;
    const auto file = dir.path() / (std::to_string(state.range(0)) + "-" +
                                    std::to_string(state.range(1)) + ".mp3");
    std::vector<int> kbps;
    const long frames = state.range(0) * 60 * 44100 / 1152;
    for (long i = 0; i < frames; ++i) kbps.push_back(!state.range(1) ? 128 : i % 3 == 0 ? 320 : 48);
    const double seconds = writeMp3Frames(file, kbps);
    for (auto _ : state) {
        auto song = LocalAudioScanner::track(file);
        // Past the cap the length is estimated: a second either way is right.
        const auto counted = song && song->interval ? song->durationSeconds() : std::nullopt;
        if (!counted || std::abs(*counted - seconds) > 1.5) state.SkipWithError("wrong length");
        benchmark::DoNotOptimize(song);
    }
    state.counters["MiB"] = double(std::filesystem::file_size(file)) / (1 << 20);
}
BENCHMARK(BM_ReadMP3WithoutVBRHeader)
    ->ArgsProduct({{4, 30, 120}, {0, 1}})
    ->Unit(benchmark::kMillisecond);

}  // namespace
