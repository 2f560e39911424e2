#include <benchmark/benchmark.h>
#include <gst/gst.h>
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

// A bare playbin, as few calls as GStreamer takes, with the player's sink (a volume in front of
// the one described).
GstElement* barePlaybin(const std::string& sink) {
    GstElement* playbin = gst_element_factory_make("playbin", nullptr);
    gst_object_ref_sink(playbin);
    GstElement* bin = gst_bin_new(nullptr);
    GstElement* volume = gst_element_factory_make("volume", nullptr);
    GstElement* out = gst_parse_bin_from_description(sink.c_str(), TRUE, nullptr);
    gst_bin_add_many(GST_BIN(bin), volume, out, nullptr);
    gst_element_link(volume, out);
    GstPad* target = gst_element_get_static_pad(volume, "sink");
    gst_element_add_pad(bin, gst_ghost_pad_new("sink", target));
    gst_object_unref(target);
    g_object_set(playbin, "audio-sink", bin, "flags", 1 << 1, nullptr);
    return playbin;
}

bool awaitMessage(GstElement* playbin, GstMessageType type) {
    GstBus* bus = gst_element_get_bus(playbin);
    GstMessage* message = gst_bus_timed_pop_filtered(
        bus, 30 * GST_SECOND, static_cast<GstMessageType>(type | GST_MESSAGE_ERROR));
    gst_object_unref(bus);
    const bool got = message && GST_MESSAGE_TYPE(message) == type;
    if (message) gst_message_unref(message);
    return got;
}

// What GStreamer alone spends on the song changes of a round of BM_SongChange: a playbin plays
// a song joined to another, is stopped for a fresh one that plays a third to its end, which is
// stopped.
bool bareRound(const std::string& uri, const std::string& sink) {
    GstElement* first = barePlaybin(sink);
    std::atomic<int> asked = 0;
    g_signal_connect(first, "about-to-finish", G_CALLBACK(+[](GstElement* playbin, gpointer data) {
                         auto& asks = *static_cast<std::atomic<int>*>(data);
                         if (asks++ > 0) return;
                         gchar* current = nullptr;
                         g_object_get(playbin, "current-uri", &current, nullptr);
                         g_object_set(playbin, "uri", current, nullptr);
                         g_free(current);
                     }),
                     &asked);
    g_object_set(first, "uri", uri.c_str(), nullptr);
    gst_element_set_state(first, GST_STATE_PLAYING);
    bool played = awaitMessage(first, GST_MESSAGE_STREAM_START) &&
                  awaitMessage(first, GST_MESSAGE_STREAM_START);
    gst_element_set_state(first, GST_STATE_NULL);
    gst_object_unref(first);
    GstElement* second = barePlaybin(sink);
    g_object_set(second, "uri", uri.c_str(), nullptr);
    gst_element_set_state(second, GST_STATE_PLAYING);
    played = awaitMessage(second, GST_MESSAGE_EOS) && played;
    gst_element_set_state(second, GST_STATE_NULL);
    gst_object_unref(second);
    return played;
}

// CPU and threads made per song change, once the player runs: half the changes are a song
// joined to the one before, half a skip to a song opened anew. Each round is followed by the
// same changes on bare playbins, GStreamer's own share of the figure, measured beside it:
// `floor_ms_per_change`; what the player adds is `over_floor_ms_per_change`. The round ends
// with nothing to play, where the player keeps no playbin: each song opened gets a fresh one.
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
    const std::string uri = fileUri(path);
    if (!bareRound(uri, options.audioSink)) state.SkipWithError("a bare playbin did not play");
    double cpu = 0;
    double floor = 0;
    int changes = 0;
    const int madeBefore = threadsMade;
    for (auto _ : state) {
        double before = cpuSeconds();
        round();
        cpu += cpuSeconds() - before;
        before = cpuSeconds();
        if (!bareRound(uri, options.audioSink)) state.SkipWithError("a bare playbin did not play");
        floor += cpuSeconds() - before;
        changes += 3;
    }
    state.counters["cpu_ms_per_change"] = 1000 * cpu / changes;
    state.counters["floor_ms_per_change"] = 1000 * floor / changes;
    state.counters["over_floor_ms_per_change"] = 1000 * (cpu - floor) / changes;
    state.counters["cpu_over_floor"] = cpu / floor;
    state.counters["threads_per_change"] = double(threadsMade - madeBefore) / changes;
}
BENCHMARK(BM_SongChange)->Unit(benchmark::kMillisecond)->Iterations(20);

// CPU per skip to a song opened anew, songs queued behind it, from the skip until the song
// plays and the playbin it replaced is stopped: a skip a listener makes. Each is followed by the
// same on bare playbins, a fresh one for each song: `floor_ms_per_skip`.
void BM_Skip(benchmark::State& state) {
    TempDir dir;
    auto path = dir.path() / "song.wav";
    writeWavFile(path, 2.0);
    const std::string uri = fileUri(path);
    ManualMainQueue queue;
    GStreamerQueuePlayer::Options options;
    options.audioSink = "fakesink sync=true";
    GStreamerQueuePlayer player(queue, options);
    auto skip = [&] {
        player.insert(std::make_shared<PlayerItem>(uri));
        player.advanceToNextItem();
        return queue.runUntil(
            [&] {
                return player.timeControlStatus() == QueuePlayer::TimeControlStatus::playing &&
                       !player.tearingDown();
            },
            std::chrono::seconds(30));
    };
    GstElement* bare = nullptr;
    auto bareSkip = [&] {
        if (bare) {
            gst_element_set_state(bare, GST_STATE_NULL);
            gst_object_unref(bare);
        }
        bare = barePlaybin(options.audioSink);
        g_object_set(bare, "uri", uri.c_str(), nullptr);
        gst_element_set_state(bare, GST_STATE_PLAYING);
        return gst_element_get_state(bare, nullptr, nullptr, 30 * GST_SECOND) ==
               GST_STATE_CHANGE_SUCCESS;
    };
    player.insert(std::make_shared<PlayerItem>(uri));
    player.play();
    if (!skip() || !skip() || !bareSkip()) state.SkipWithError("no song played");
    double cpu = 0;
    double floor = 0;
    int skips = 0;
    for (auto _ : state) {
        double before = cpuSeconds();
        if (!skip()) state.SkipWithError("no song played");
        cpu += cpuSeconds() - before;
        before = cpuSeconds();
        if (!bareSkip()) state.SkipWithError("a bare playbin did not play");
        floor += cpuSeconds() - before;
        ++skips;
    }
    bareSkip();
    gst_element_set_state(bare, GST_STATE_NULL);
    gst_object_unref(bare);
    state.counters["cpu_ms_per_skip"] = 1000 * cpu / skips;
    state.counters["floor_ms_per_skip"] = 1000 * floor / skips;
    state.counters["cpu_over_floor"] = cpu / floor;
}
BENCHMARK(BM_Skip)->Unit(benchmark::kMillisecond)->Iterations(60);

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
