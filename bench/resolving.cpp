// Resolving a stream address: a repeat served by the cache, and a whole quality ladder walked
// against the loopback server (service answer, probe, cache per rung).
#include <benchmark/benchmark.h>

#include <memory>

#include "platform/HttpClient.h"
#include "sources/resolving/HighestAvailableQualityPlaybackURLResolver.h"
#include "sources/resolving/PlaybackURLCache.h"
#include "sources/resolving/PlaybackURLResolver.h"
#include "support/FakeHttpServer.h"
#include "support/LoopbackPlaybackHTTPClient.h"
#include "support/ScriptedChkszNetEase.h"

namespace velto {
namespace {

struct Fixture {
    FakeHttpServer server;
    HttpSession session;
    std::shared_ptr<ScriptedChkszNetEase> netease = std::make_shared<ScriptedChkszNetEase>();
    std::shared_ptr<PlaybackURLCache> cache = std::make_shared<PlaybackURLCache>(1200);
    std::shared_ptr<PlaybackURLResolver> rovoz =
        std::make_shared<PlaybackURLResolver>(std::make_shared<LoopbackPlaybackHTTPClient>(session),
                                              nullptr, nullptr, cache, nullptr, netease);
    HighestAvailableQualityPlaybackURLResolver ladder{rovoz};
    Track track;

    Fixture() {
        server.get("/s.mp3", [](const httplib::Request&, httplib::Response& response) {
            response.status = 206;
            response.set_content("ID", "audio/mpeg");
        });
        track.source = MusicSource::wy;
        track.songmid = "1001";
        track.title = "歌";
        track.artist = "人";
    }
};

void BM_CachedResolution(benchmark::State& state) {
    Fixture fixture;
    fixture.netease->answer(fixture.server.url("/s.mp3"));
    fixture.ladder.musicURL(fixture.track, Quality::high, {});
    for (auto _ : state) {
        benchmark::DoNotOptimize(fixture.ladder.musicURL(fixture.track, Quality::high, {}));
    }
    if (fixture.server.requestCount() != 1) state.SkipWithError("the cache went to the network");
}
BENCHMARK(BM_CachedResolution);

void BM_FullLadderWalk(benchmark::State& state) {
    Fixture fixture;
    // Every rung delivers standard: four refused rungs with a probe each, then the cached one.
    fixture.netease->answer(fixture.server.url("/s.mp3"), Quality::standard);
    for (auto _ : state) {
        fixture.cache->removeAll();
        benchmark::DoNotOptimize(fixture.ladder.musicURL(fixture.track, Quality::master, {}));
    }
    state.counters["probes/walk"] =
        benchmark::Counter(static_cast<double>(fixture.server.requestCount()) /
                           static_cast<double>(state.iterations()));
}
BENCHMARK(BM_FullLadderWalk)->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace velto
