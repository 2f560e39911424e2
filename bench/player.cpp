#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <atomic>
#include <chrono>

#include "foundation/ManualMainQueue.h"
#include "platform/gstreamer/GStreamerQueuePlayer.h"
#include "support/TempDir.h"
#include "support/WavFile.h"

namespace velto {
namespace {

std::string fileUri(const std::filesystem::path& path) {
    return "file://" + path.string();
}

double cpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    auto seconds = [](const timeval& t) { return t.tv_sec + t.tv_usec / 1e6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

// Time from play() on a fresh player to the first buffer reaching the (synchronising) sink.
void BM_PlayToFirstBuffer(benchmark::State& state) {
    TempDir dir;
    auto path = dir.path() / "song.wav";
    writeWavFile(path, 2.0);
    for (auto _ : state) {
        ManualMainQueue queue;
        std::atomic<bool> first = false;
        GStreamerQueuePlayer::Options options;
        options.audioSink = "fakesink sync=true";
        options.sinkBufferProbe = [&](const GStreamerQueuePlayer::SinkBuffer&) {
            if (!first.exchange(true)) queue.post([] {});
        };
        GStreamerQueuePlayer player(queue, options);
        auto started = std::chrono::steady_clock::now();
        player.insert(std::make_shared<PlayerItem>(fileUri(path)));
        player.play();
        queue.runUntil([&] { return first.load(); });
        state.SetIterationTime(
            std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count());
    }
}
BENCHMARK(BM_PlayToFirstBuffer)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(20);

// CPU spent per second of real-time playback of a local file.
void BM_CpuPerPlaybackSecond(benchmark::State& state) {
    TempDir dir;
    auto path = dir.path() / "song.wav";
    writeWavFile(path, 3.0);
    double cpu = 0;
    double played = 0;
    for (auto _ : state) {
        ManualMainQueue queue;
        GStreamerQueuePlayer::Options options;
        options.audioSink = "fakesink sync=true";
        GStreamerQueuePlayer player(queue, options);
        bool ended = false;
        player.addPlayedToEndObserver([&](const PlayerItemPtr&) { ended = true; });
        double before = cpuSeconds();
        player.insert(std::make_shared<PlayerItem>(fileUri(path)));
        player.play();
        queue.runUntil([&] { return ended; }, std::chrono::seconds(30));
        cpu += cpuSeconds() - before;
        played += 3.0;
    }
    state.counters["cpu_ms_per_s"] = 1000 * cpu / played;
}
BENCHMARK(BM_CpuPerPlaybackSecond)->Unit(benchmark::kMillisecond)->Iterations(2);

}  // namespace
}  // namespace velto
