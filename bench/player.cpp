#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <fstream>
#include <functional>
#include <sstream>
#include <thread>

#include "foundation/ManualMainQueue.h"
#include "platform/gstreamer/GStreamerQueuePlayer.h"
#include "support/FakeHttpServer.h"
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

// CPU and threads made per song change, once the player runs: half the changes are a song
// joined to the one before, half a skip to a song opened anew.
void BM_SongChange(benchmark::State& state) {
    TempDir dir;
    auto path = dir.path() / "song.wav";
    writeWavFile(path, 0.3);
    std::atomic<int> threadsMade = 0;
    ManualMainQueue queue;
    GStreamerQueuePlayer::Options options;
    options.audioSink = "fakesink sync=true";
    options.startThread = [&threadsMade](std::function<void()> work) {
        ++threadsMade;
        std::thread(std::move(work)).detach();
    };
    GStreamerQueuePlayer player(queue, options);
    int ended = 0;
    player.addPlayedToEndObserver([&](const PlayerItemPtr&) { ++ended; });
    auto song = [&] { return std::make_shared<PlayerItem>(fileUri(path)); };
    // Two songs joined, then a skip into the second of two more: three changes.
    auto round = [&] {
        player.insert(song());
        player.insert(song());
        queue.runUntil([&] { return ended >= 1; }, std::chrono::seconds(30));
        player.insert(song());
        player.advanceToNextItem();
        queue.runUntil([&] { return player.items().empty(); }, std::chrono::seconds(30));
        queue.runUntil([&] { return !player.tearingDown(); }, std::chrono::seconds(30));
        ended = 0;
    };
    player.play();
    round();  // the threads a player keeps are made here
    double cpu = 0;
    int changes = 0;
    const int madeBefore = threadsMade;
    for (auto _ : state) {
        const double before = cpuSeconds();
        round();
        cpu += cpuSeconds() - before;
        changes += 3;
    }
    state.counters["cpu_ms_per_change"] = 1000 * cpu / changes;
    state.counters["threads_per_change"] = double(threadsMade - madeBefore) / changes;
}
BENCHMARK(BM_SongChange)->Unit(benchmark::kMillisecond)->Iterations(20);

// Time from a seek asked while a network song waits for its first data to the first sound from
// where it was sought, on a server that answers every request `late` ms late (the first
// argument): the song opened directly (second argument 0) or the next one played into (1).
void BM_SeekInTheFirstWait(benchmark::State& state) {
    const auto late = std::chrono::milliseconds(state.range(0));
    const bool next = state.range(1) != 0;
    TempDir dir;
    writeWavFile(dir.path() / "song.wav", 2.0);
    writeWavFile(dir.path() / "short.wav", 0.2);
    std::ostringstream body;
    body << std::ifstream(dir.path() / "song.wav", std::ios::binary).rdbuf();
    constexpr double target = 1.0;
    double requests = 0;
    for (auto _ : state) {
        FakeHttpServer server;
        server.get("/song.wav",
                   [&, content = body.str()](const httplib::Request&, httplib::Response& response) {
                       server.pause(late);
                       response.set_content(content, "audio/wav");
                   });
        ManualMainQueue queue;
        std::atomic<bool> heard = false;
        GStreamerQueuePlayer::Options options;
        options.audioSink = "fakesink sync=true";
        options.sinkBufferProbe = [&](const GStreamerQueuePlayer::SinkBuffer& buffer) {
            if (std::abs(buffer.streamTime - target) < 1e-3 && !heard.exchange(true))
                queue.post([] {});
        };
        auto player = std::make_unique<GStreamerQueuePlayer>(queue, options);
        bool waiting = false;
        auto song = std::make_shared<PlayerItem>(server.url("/song.wav"));
        player->addCurrentItemObserver([&](const PlayerItemPtr& item) { waiting = item == song; });
        if (next) player->insert(std::make_shared<PlayerItem>(fileUri(dir.path() / "short.wav")));
        player->insert(song);
        player->play();
        queue.runUntil([&] { return waiting; }, std::chrono::seconds(30));
        const auto asked = std::chrono::steady_clock::now();
        player->seek(target, {});
        queue.runUntil([&] { return heard.load(); }, std::chrono::seconds(60));
        state.SetIterationTime(
            std::chrono::duration<double>(std::chrono::steady_clock::now() - asked).count());
        player.reset();
        requests += double(server.requestCount());
    }
    state.counters["requests"] = requests / double(state.iterations());
}
BENCHMARK(BM_SeekInTheFirstWait)
    ->Args({3000, 0})
    ->Args({3000, 1})
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3);

// Time from play() to the first sound of a network song opened directly, on a server that
// sends 16 kB every `pause` ms (the argument; 62: about 256 kB/s).
void BM_FirstSoundOnASlowServer(benchmark::State& state) {
    const auto pause = std::chrono::milliseconds(state.range(0));
    TempDir dir;
    writeWavFile(dir.path() / "song.wav", 10.0);
    std::ostringstream body;
    body << std::ifstream(dir.path() / "song.wav", std::ios::binary).rdbuf();
    const std::string content = body.str();
    for (auto _ : state) {
        FakeHttpServer server;
        server.get("/song.wav", [&](const httplib::Request&, httplib::Response& response) {
            response.set_content_provider(
                content.size(), "audio/wav",
                [&](size_t offset, size_t length, httplib::DataSink& sink) {
                    return server.pause(pause) &&
                           sink.write(content.data() + offset, std::min<size_t>(length, 16384));
                });
        });
        ManualMainQueue queue;
        std::atomic<bool> heard = false;
        GStreamerQueuePlayer::Options options;
        options.audioSink = "fakesink sync=true";
        options.sinkBufferProbe = [&](const GStreamerQueuePlayer::SinkBuffer&) {
            if (!heard.exchange(true)) queue.post([] {});
        };
        auto player = std::make_unique<GStreamerQueuePlayer>(queue, options);
        const auto asked = std::chrono::steady_clock::now();
        player->insert(std::make_shared<PlayerItem>(server.url("/song.wav")));
        player->play();
        queue.runUntil([&] { return heard.load(); }, std::chrono::seconds(60));
        state.SetIterationTime(
            std::chrono::duration<double>(std::chrono::steady_clock::now() - asked).count());
        player.reset();
    }
}
BENCHMARK(BM_FirstSoundOnASlowServer)
    ->Arg(62)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3);

}  // namespace
}  // namespace velto
