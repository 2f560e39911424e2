#include <benchmark/benchmark.h>
#include <malloc.h>

#include <fstream>
#include <string>

#include "BenchMemory.h"
#include "foundation/ManualMainQueue.h"
#include "platform/gstreamer/GStreamerQueuePlayer.h"
#include "support/TempDir.h"
#include "support/WavFile.h"

// Memory the real engine keeps per song: a few hundred short songs in fast succession, each a
// new item on one player, as the program plays them. Whatever grows is divided by the count
// played after a warm-up, so a leak shows as bytes per song. Both the allocator's bytes in use
// and the anonymous resident memory are reported: the first is exact, the second is what the
// system sees.

namespace velto {
namespace {

double heapBytes() {
    struct mallinfo2 info = mallinfo2();
    return double(info.uordblks + info.hblkhd);
}

struct Engine {
    explicit Engine(const std::string& sink) : player(queue, options(sink)) {
        player.addPlayedToEndObserver([this](const PlayerItemPtr&) { ++ended; });
        player.addItemStatusObserver([this](const PlayerItemPtr& item) {
            if (item->status() == PlayerItem::Status::failed) ++failed;
        });
        player.play();
    }
    static GStreamerQueuePlayer::Options options(const std::string& sink) {
        GStreamerQueuePlayer::Options result;
        result.audioSink = sink;
        return result;
    }
    // One song from insertion to its end; false if it failed or hung.
    bool playOne(const std::string& uri) {
        int before = ended;
        player.insert(std::make_shared<PlayerItem>(uri));
        return queue.runUntil([&] { return ended > before || failed > 0; }) && failed == 0;
    }
    // Lets the playbins replaced finish stopping, so only what is kept is counted.
    bool settle() {
        return queue.runUntil([&] { return !player.tearingDown(); });
    }

    ManualMainQueue queue;
    GStreamerQueuePlayer player;
    int ended = 0;
    int failed = 0;
};

void BM_MemoryPerSong(benchmark::State& state) {
    TempDir dir;
    auto path = dir.path() / "song.wav";
    writeWavFile(path, 0.5);
    const std::string uri = "file://" + path.string();
    const int warmUp = 20;
    const auto songs = state.range(0);
    double heap = 0;
    double anonymous = 0;
    for (auto _ : state) {
        Engine engine("fakesink sync=false");
        for (int i = 0; i < warmUp; ++i) {
            if (!engine.playOne(uri)) return state.SkipWithError("a song did not play");
        }
        if (!engine.settle()) return state.SkipWithError("a playbin was not stopped");
        malloc_trim(0);
        double heapBefore = heapBytes();
        double anonymousBefore = anonymousResidentBytes();
        for (int i = 0; i < songs; ++i) {
            if (!engine.playOne(uri)) return state.SkipWithError("a song did not play");
        }
        if (!engine.settle()) return state.SkipWithError("a playbin was not stopped");
        malloc_trim(0);
        heap += heapBytes() - heapBefore;
        anonymous += anonymousResidentBytes() - anonymousBefore;
    }
    const double played = double(songs) * double(state.iterations());
    state.counters["heap_bytes_per_song"] = heap / played;
    state.counters["anon_rss_bytes_per_song"] = anonymous / played;
}
BENCHMARK(BM_MemoryPerSong)->Arg(300)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace velto
