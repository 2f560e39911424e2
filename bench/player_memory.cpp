#include <benchmark/benchmark.h>
#include <malloc.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <functional>
#include <sstream>
#include <string>

#include "BenchMemory.h"
#include "foundation/ManualMainQueue.h"
#include "platform/StreamHeads.h"
#include "platform/gstreamer/GStreamerQueuePlayer.h"
#include "support/FakeHttpServer.h"
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

// A server in a process of its own: its threads' allocations (a copy of the body per answer, on
// each of its many threads, each with an allocator arena of its own) are not the player's.
class ServerElsewhere {
  public:
    explicit ServerElsewhere(std::string body) {
        int port[2];
        int parent[2];
        if (pipe(port) != 0 || pipe(parent) != 0) return;
        pid_ = fork();
        if (pid_ == 0) {
            close(port[0]);
            close(parent[1]);
            FakeHttpServer server;
            server.get("/song.wav", [&](const httplib::Request&, httplib::Response& response) {
                response.set_content(body, "audio/wav");
            });
            const std::string base = server.baseURL();
            if (write(port[1], base.data(), base.size()) != ssize_t(base.size())) _exit(1);
            close(port[1]);
            char end;
            while (read(parent[0], &end, 1) > 0) {
            }
            _exit(0);  // the parent has gone or let it go: nothing of its own to tidy
        }
        close(port[1]);
        close(parent[0]);
        parent_ = parent[1];
        char text[64];
        const ssize_t count = pid_ > 0 ? read(port[0], text, sizeof text) : -1;
        close(port[0]);
        if (count > 0) base_.assign(text, std::size_t(count));
    }
    ~ServerElsewhere() {
        if (parent_ >= 0) close(parent_);
        if (pid_ > 0) waitpid(pid_, nullptr, 0);
    }
    ServerElsewhere(const ServerElsewhere&) = delete;
    ServerElsewhere& operator=(const ServerElsewhere&) = delete;
    // Empty when the server could not be started.
    std::string url(const std::string& path) const { return base_.empty() ? "" : base_ + path; }

  private:
    pid_t pid_ = -1;
    int parent_ = -1;
    std::string base_;
};

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

// The bound on a network song's first data fetched ahead: songs of 8 MiB become next one after
// the other, each head fetched whole before the next; what the store holds with a current and a
// next song, and what stays once it holds none.
void BM_StreamHeadsHeld(benchmark::State& state) {
    const std::string stream(8 << 20, 'x');
    FakeHttpServer server;
    server.get("/song", [&](const httplib::Request&, httplib::Response& response) {
        response.set_content(stream, "audio/mpeg");
    });
    const std::string url = server.url("/song");
    const auto songs = state.range(0);
    double held = 0;
    double left = 0;
    for (auto _ : state) {
        malloc_trim(0);
        const double before = heapBytes();
        {
            StreamHeads heads;
            for (std::uint64_t id = 1; id <= std::uint64_t(songs); ++id) {
                heads.fetch(id, url);
                heads.keepOnly({id - 1, id});
                auto head = StreamHeads::find(heads.addressFor(id, url));
                if (!head || !head->wait({}) || !head->usable())
                    return state.SkipWithError("a head was not fetched");
            }
            malloc_trim(0);
            held += heapBytes() - before;
        }
        malloc_trim(0);
        left += heapBytes() - before;
    }
    state.counters["head_bound_bytes"] = double(StreamHeads::headBytes);
    state.counters["heap_bytes_held_current_and_next"] = held / double(state.iterations());
    state.counters["heap_bytes_left_after"] = left / double(state.iterations());
}
BENCHMARK(BM_StreamHeadsHeld)->Arg(50)->Iterations(1)->Unit(benchmark::kMillisecond);

// Memory kept per round of `round` on an engine fed by a server in a process of its own (so that
// only the player's memory is counted), over the bench's count of rounds after `warmUp` rounds.
// `round` gives the song's address and one the server refuses, and says why it went wrong, if it
// did.
void measureNetworkRounds(benchmark::State& state, double songSeconds, int warmUp,
                          const std::string& perWhat,
                          const std::function<std::string(Engine&, const std::string& song,
                                                          const std::string& refused)>& round) {
    TempDir dir;
    auto path = dir.path() / "song.wav";
    writeWavFile(path, songSeconds);
    std::ostringstream body;
    body << std::ifstream(path, std::ios::binary).rdbuf();
    ServerElsewhere server(body.str());
    const std::string song = server.url("/song.wav");
    const std::string refused = server.url("/missing.wav");
    if (song.empty()) return state.SkipWithError("the server did not start");
    const auto rounds = state.range(0);
    double heap = 0;
    double anonymous = 0;
    for (auto _ : state) {
        Engine engine("fakesink sync=false");
        auto run = [&](int count) {
            for (int i = 0; i < count; ++i) {
                if (auto wrong = round(engine, song, refused); !wrong.empty()) return wrong;
            }
            return engine.settle() ? std::string() : std::string("a playbin was not stopped");
        };
        if (auto wrong = run(warmUp); !wrong.empty()) return state.SkipWithError(wrong.c_str());
        malloc_trim(0);
        double heapBefore = heapBytes();
        double anonymousBefore = anonymousResidentBytes();
        if (auto wrong = run(int(rounds)); !wrong.empty())
            return state.SkipWithError(wrong.c_str());
        malloc_trim(0);
        heap += heapBytes() - heapBefore;
        anonymous += anonymousResidentBytes() - anonymousBefore;
    }
    const double counted = double(rounds) * double(state.iterations());
    state.counters["heap_bytes_per_" + perWhat] = heap / counted;
    state.counters["anon_rss_bytes_per_" + perWhat] = anonymous / counted;
}

// Memory kept per network song played through its head fetched ahead: each song is queued
// behind the one playing, as the program queues the next song.
void BM_NetworkMemoryPerSong(benchmark::State& state) {
    measureNetworkRounds(state, 0.5, 20, "song",
                         [](Engine& engine, const std::string& song, const std::string&) {
                             if (!engine.player.currentItem())
                                 engine.player.insert(std::make_shared<PlayerItem>(song));
                             return engine.playOne(song) ? std::string()
                                                         : std::string("a song did not play");
                         });
}
BENCHMARK(BM_NetworkMemoryPerSong)
    ->Arg(200)
    ->Arg(600)
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);

// Memory kept per network song that cannot play (its server answers 404), as the program meets
// one in a queue: queued behind the song playing it fails while handed over and is dropped; then
// opened on its own it fails again, and is opened once more before the queue moves on. A song
// that plays comes between, so the failures meet a playbin kept, as they do in the program.
void BM_NetworkMemoryPerFailedSong(benchmark::State& state) {
    measureNetworkRounds(
        state, 0.3, 10, "failed_song",
        [](Engine& engine, const std::string& song, const std::string& refused) {
            bool stuck = false;
            auto failOne = [&](bool behindPlaying) {
                const int failedBefore = engine.failed;
                const int endedBefore = engine.ended;
                if (behindPlaying) engine.player.insert(std::make_shared<PlayerItem>(song));
                auto item = std::make_shared<PlayerItem>(refused);
                engine.player.insert(item);
                if (!engine.queue.runUntil([&] { return engine.failed > failedBefore; })) {
                    // Still the song before, ready, with the one that cannot play behind it.
                    auto current = engine.player.currentItem();
                    stuck = behindPlaying && current && current != item &&
                            current->status() == PlayerItem::Status::readyToPlay;
                    return false;
                }
                engine.player.remove(item);
                if (behindPlaying &&
                    !engine.queue.runUntil([&] { return engine.ended > endedBefore; }))
                    return false;
                return engine.queue.runUntil([&] { return !engine.player.currentItem(); });
            };
            // Handed over behind a song, then twice on its own.
            if (failOne(true) && failOne(false) && failOne(false)) return std::string();
            return std::string(stuck ? "the song before one that cannot play neither ended nor "
                                       "failed: the hand-over's failure was never taken up"
                                     : "a song did not end as expected");
        });
}
BENCHMARK(BM_NetworkMemoryPerFailedSong)
    ->Arg(100)
    ->Arg(300)
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace velto
