#include <benchmark/benchmark.h>
#include <pthread.h>
#include <sys/resource.h>
#include <time.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <limits>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <zlib.h>

#include "artwork/ArtworkDecoder.h"
#include "artwork/ArtworkDiskCache.h"
#include "artwork/ArtworkJPEG.h"
#include "artwork/ArtworkPNGStrips.h"
#include "artwork/ArtworkService.h"
#include "foundation/ManualMainQueue.h"
#include "support/HostileCovers.h"
#include "support/TempDir.h"

using namespace velto;

namespace {

// A 3000 × 3000 cover with detail in it (gradients and stripes), as photographs have.
const std::string& largeCover() {
    static const std::string data = [] {
        const int side = 3000;
        std::vector<std::uint8_t> pixels(static_cast<std::size_t>(side) * side * 4);
        for (int y = 0; y < side; ++y)
            for (int x = 0; x < side; ++x) {
                auto* p = pixels.data() + (static_cast<std::size_t>(y) * side + x) * 4;
                p[0] = static_cast<std::uint8_t>(x * 255 / side);
                p[1] = static_cast<std::uint8_t>(y * 255 / side);
                p[2] = static_cast<std::uint8_t>((x / 7 + y / 5) % 2 ? 200 : 40);
                p[3] = 255;
            }
        return *ArtworkJPEG::encode(*ArtworkImage::make(side, side, std::move(pixels)), 0.9);
    }();
    return data;
}

void BM_ScaledDecode3000To1200(benchmark::State& state) {
    for (auto _ : state) benchmark::DoNotOptimize(ArtworkDecoder::downsample(largeCover(), 1200));
    state.counters["jpeg_bytes"] = static_cast<double>(largeCover().size());
}
BENCHMARK(BM_ScaledDecode3000To1200)->Unit(benchmark::kMillisecond);

// The scaled decode alone (1/2 gives 1500 px, no resize): what the resize adds on top.
void BM_ScaledDecodeOnly3000To1500(benchmark::State& state) {
    for (auto _ : state) benchmark::DoNotOptimize(ArtworkDecoder::downsample(largeCover(), 1500));
}
BENCHMARK(BM_ScaledDecodeOnly3000To1500)->Unit(benchmark::kMillisecond);

void BM_FullDecodeAndResize3000To1200(benchmark::State& state) {
    for (auto _ : state)
        benchmark::DoNotOptimize(
            ArtworkDecoder::downsample(largeCover(), 1200, {.scaledDecode = false}));
}
BENCHMARK(BM_FullDecodeAndResize3000To1200)->Unit(benchmark::kMillisecond);

// A list row whose cover is only on disk: read the 1200 px cache file, decode it, date it.
void BM_DiskHit1200(benchmark::State& state) {
    TempDir dir;
    const auto file = dir.path() / "cover.img";
    const auto image = ArtworkDecoder::downsample(largeCover(), 1200);
    const auto date = ArtworkDate(std::chrono::seconds(1'700'000'000));
    ArtworkDiskCache::write(file, *ArtworkJPEG::encode(*image, 0.9), date);
    for (auto _ : state) {
        auto hit = ArtworkDiskCache::read(file, date, [](std::string_view data) {
            return ArtworkDecoder::downsample(data, 1200);
        });
        if (!hit) state.SkipWithError("the cache file did not read");
        benchmark::DoNotOptimize(hit);
    }
}
BENCHMARK(BM_DiskHit1200)->Unit(benchmark::kMillisecond);

// A cover already in memory: the service's lookup and the answer through the main queue.
void BM_MemoryHit(benchmark::State& state) {
    class NoRuntime final : public SourceRuntime {
    public:
        SearchPage search(const std::string&, MusicSource, int, std::stop_token) override { return {}; }
        LyricInfo lyric(const Track&, std::stop_token) override { return {}; }
        std::vector<std::string> tipSearch(const std::string&, std::stop_token) override { return {}; }
        std::string picURL(const Track&, std::stop_token) override { return "https://covers.test/a"; }
    };
    class OneCover final : public ArtworkHTTPClient {
    public:
        std::string data(const std::string&, std::stop_token) override { return largeCover(); }
    };
    TempDir dir;
    ManualMainQueue queue;
    WorkerPool pool(1);
    ArtworkService service(std::make_shared<NoRuntime>(), std::make_shared<OneCover>(),
                           dir.path(), 3600, {32 << 20, 128 << 20, 1200},
                           ArtworkService::Environment{pool, queue});
    Track track;
    track.songmid = "1";
    const auto now = ArtworkDate(std::chrono::seconds(1'700'000'000));
    ArtworkImagePtr first;
    service.image(track, now, [&](TaskResult<ArtworkImagePtr> r) { first = r.value(); });
    if (!queue.runUntil([&] { return first != nullptr; })) state.SkipWithError("no cover");
    for (auto _ : state) {
        ArtworkImagePtr image;
        service.image(track, now, [&](TaskResult<ArtworkImagePtr> r) { image = r.value(); });
        queue.runPending();
        if (image != first) state.SkipWithError("not a memory hit");
    }
}
BENCHMARK(BM_MemoryHit)->Unit(benchmark::kMicrosecond);

// Hostile covers: peak memory of the whole process (run each alone with --benchmark_filter, as
// the peak only ever grows). The budget holds when the peak stays near the program's own size
// however large the claimed picture or however many arrive at once.
double peakMegabytes() {
    struct rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_maxrss) / 1024;
}

void BM_HostileProgressiveJpeg50000(benchmark::State& state) {
    const std::string data = HostileCovers::progressiveJpeg(50000, 50000);
    for (auto _ : state) benchmark::DoNotOptimize(ArtworkDecoder::downsample(data, 1200));
    state.counters["file_bytes"] = static_cast<double>(data.size());
    state.counters["peak_mb"] = peakMegabytes();
}
BENCHMARK(BM_HostileProgressiveJpeg50000)->Unit(benchmark::kMillisecond)->Iterations(1);

// A 16-bit RGBA PNG of zeros, side × side.
const std::string& sixteenBitPng(int side = 6324) {
    static std::map<int, std::string> made;
    auto [found, added] = made.try_emplace(side);
    if (added) found->second = HostileCovers::zeroPng(side, side, 16, 6);
    return found->second;
}

void BM_Hostile16BitPng6324(benchmark::State& state) {
    for (auto _ : state)
        benchmark::DoNotOptimize(ArtworkDecoder::downsample(sixteenBitPng(), 1200));
    state.counters["file_bytes"] = static_cast<double>(sixteenBitPng().size());
    state.counters["peak_mb"] = peakMegabytes();
}
BENCHMARK(BM_Hostile16BitPng6324)->Unit(benchmark::kMillisecond)->Iterations(1);

// Names "https://covers.test/<songmid>" for every song.
class Addresses final : public SourceRuntime {
public:
    SearchPage search(const std::string&, MusicSource, int, std::stop_token) override { return {}; }
    LyricInfo lyric(const Track&, std::stop_token) override { return {}; }
    std::vector<std::string> tipSearch(const std::string&, std::stop_token) override { return {}; }
    std::string picURL(const Track& track, std::stop_token) override {
        return "https://covers.test/" + track.songmid;
    }
};

// Eight different covers at once through one service on sixteen workers: 6324 px is refused
// alone; 2600 px (243 MB by its header) fits the budget once, so the eight take turns. The peak
// depends on the allocator's policy, which the program sets in its main: run with
// MALLOC_MMAP_THRESHOLD_=33554432 to measure as the program runs (146 MB against 433 MB).
void BM_EightSixteenBitPngsAtOnce(benchmark::State& state) {
    const int side = static_cast<int>(state.range(0));
    class SamePng final : public ArtworkHTTPClient {
    public:
        explicit SamePng(int side) : side_(side) {}
        std::string data(const std::string&, std::stop_token) override {
            return sixteenBitPng(side_);
        }

    private:
        int side_;
    };
    sixteenBitPng(side);
    int decoded = 0;
    for (auto _ : state) {
        int answered = 0;
        TempDir dir;
        ManualMainQueue queue;
        WorkerPool pool(16);
        ArtworkService service(std::make_shared<Addresses>(), std::make_shared<SamePng>(side),
                               dir.path(), 3600, {32 << 20, 128 << 20, 1200},
                               ArtworkService::Environment{pool, queue});
        for (int i = 0; i < 8; ++i) {
            Track track;
            track.songmid = std::to_string(i);
            service.image(track, ArtworkDate(std::chrono::seconds(1'700'000'000)),
                          [&](TaskResult<ArtworkImagePtr> r) { ++answered, decoded += r.ok(); });
        }
        if (!queue.runUntil([&] { return answered == 8; }, std::chrono::minutes(5)))
            state.SkipWithError("not every cover was answered");
    }
    state.counters["decoded"] = decoded;
    state.counters["peak_mb"] = peakMegabytes();
}
BENCHMARK(BM_EightSixteenBitPngsAtOnce)
    ->Arg(6324)
    ->Arg(2600)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1);

// Work without data: a progressive picture whose scans send the decoder over every coefficient
// of every block again and again (HostileCovers::refinementJpeg: a DC scan and 499 refinements
// of the whole band, all end-of-band runs). The CPU column is one decode's CPU, whatever came
// of it.
void BM_RefinementBomb(benchmark::State& state) {
    const int side = static_cast<int>(state.range(0));
    const std::string data = HostileCovers::refinementJpeg(side, side);
    int decoded = 0;
    for (auto _ : state) decoded += ArtworkDecoder::downsample(data, 1200) != nullptr;
    state.counters["file_bytes"] = static_cast<double>(data.size());
    state.counters["decoded"] = decoded;
}
BENCHMARK(BM_RefinementBomb)->Arg(4000)->Arg(10000)->Unit(benchmark::kMillisecond)->Iterations(1);

// The costliest JPEGs the work bound lets through, decoded whole: refinements of the whole band
// (the costliest kind of scan) up to the bound's 12 M blocks. Their CPU is the most a JPEG's scans
// can cost.
void BM_WorkBoundWorstCase(benchmark::State& state) {
    const int side = static_cast<int>(state.range(0));
    const std::int64_t blocks = static_cast<std::int64_t>((side + 7) / 8) * ((side + 7) / 8);
    const int scans = static_cast<int>(ArtworkDecoder::defaultWorkLimit / blocks);
    const std::string data = HostileCovers::refinementJpeg(side, side, scans - 1);
    int decoded = 0;
    for (auto _ : state) decoded += ArtworkDecoder::downsample(data, 1200) != nullptr;
    state.counters["scans"] = scans;
    state.counters["decoded"] = decoded;
}
BENCHMARK(BM_WorkBoundWorstCase)
    ->Arg(4000)
    ->Arg(10000)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1);

// Work without pixels in the other formats, each file ending as a 1×1 or 64² picture. The GIF
// (HostileCovers::chainGif) makes a decoder that walks each LZW code's string walk some 4090
// symbols for every 12 bits of the file; the PNG (64² RGBA) puts 1.38 M empty dynamic-Huffman
// blocks, 15.7 MB, ahead of its image data, each one three code tables to build.
const std::string& chainGif(std::int64_t bytes) {
    static std::map<std::int64_t, std::string> made;
    auto [found, added] = made.try_emplace(bytes);
    if (added) found->second = HostileCovers::chainGif(static_cast<std::size_t>(bytes));
    return found->second;
}

const std::string& emptyBlocksPng() {
    static const std::string data = HostileCovers::zeroPng(64, 64, 8, 6, -1, 1'380'000);
    return data;
}

// Decodes `data` for each iteration; the CPU column is one decode's CPU, whatever came of it.
void decodeEach(benchmark::State& state, const std::string& data) {
    int decoded = 0;
    for (auto _ : state) decoded += ArtworkDecoder::downsample(data, 1200) != nullptr;
    state.counters["file_bytes"] = static_cast<double>(data.size());
    state.counters["decoded"] = decoded;
}

void BM_ChainGif(benchmark::State& state) { decodeEach(state, chainGif(state.range(0))); }
BENCHMARK(BM_ChainGif)
    ->Arg(71'000)
    ->Arg(1'060'000)
    ->Arg(15'800'000)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1);

void BM_EmptyBlocksPng(benchmark::State& state) { decodeEach(state, emptyBlocksPng()); }
BENCHMARK(BM_EmptyBlocksPng)->Unit(benchmark::kMillisecond)->Iterations(1);

// The costliest GIF and PNG the work bounds let through, within the memory budget: a 3000² GIF
// whose codes stand for as many symbols as its frame may, a symbol each (kind 0), and a 3000²
// RGBA PNG whose image data takes as many blocks with tables as it may, all but one empty
// dynamic ones (kind 1). Kind 2 is the PNG whose rows allow the most blocks for their bytes, a grey one a
// pixel wide, with as many empty dynamic blocks as may be; kind 3 the largest PNG the budget
// takes, 2700² of 16-bit RGBA, with as many as its rows allow. Kind 4 is the thin grey one again
// as tall as a cover's 16 MiB allow, 13.4 M rows, with as many empty dynamic blocks as may be,
// then as many empty fixed-code ones (10 bits each) as blocks that make next to nothing may be.
// Kind 5 is kind 4 interlaced: the same rows and bytes, each row put in its place after.
const std::string& atWorkBound(std::int64_t kind) {
    static const std::string gif = [] {
        const std::int64_t symbols = ArtworkDecoder::gifSymbolLimit(3000 * 3000);
        return HostileCovers::gif(3000, 3000, HostileCovers::rootCodes(symbols, 1));
    }();
    // As many empty dynamic blocks as a picture's rows allow, and its blocks with tables.
    auto mostEmpty = [](int side, int depth) {
        const std::string plain = HostileCovers::zeroPng(side, side, depth, 6);
        const auto header = ArtworkPNGStrips::header(
            reinterpret_cast<const std::uint8_t*>(plain.data()), plain.size());
        const std::int64_t blocks = std::min(header->blockLimit - 1, header->tableBlockLimit);
        return HostileCovers::zeroPng(side, side, depth, 6, -1, blocks);
    };
    static const std::string png = mostEmpty(3000, 8);
    static const std::string thinPng = [] {
        const std::int64_t blocks = ArtworkDecoder::pngTableBlockLimit;
        const std::int64_t rows = blocks / ArtworkDecoder::pngRowBlocks(2) + 1;
        return HostileCovers::zeroPng(1, static_cast<int>(rows), 8, 0, -1, blocks);
    }();
    static const std::string largestPng = mostEmpty(2700, 16);
    auto thinFixed = [](bool interlaced) {
        const std::string plain = HostileCovers::zeroPng(1, 13'400'000, 8, 0, -1, 0, 0, interlaced);
        const std::int64_t tables = ArtworkPNGStrips::header(
            reinterpret_cast<const std::uint8_t*>(plain.data()), plain.size())->tableBlockLimit;
        return HostileCovers::zeroPng(1, 13'400'000, 8, 0, -1, tables,
                                      ArtworkDecoder::pngShortBlockLimit - tables, interlaced);
    };
    static const std::string thinFixedPng = thinFixed(false);
    static const std::string thinFixedInterlacedPng = thinFixed(true);
    return kind == 0   ? gif
           : kind == 1 ? png
           : kind == 2 ? thinPng
           : kind == 3 ? largestPng
           : kind == 4 ? thinFixedPng
                       : thinFixedInterlacedPng;
}

void BM_WorkBoundWorstCaseOtherFormats(benchmark::State& state) {
    decodeEach(state, atWorkBound(state.range(0)));
}
BENCHMARK(BM_WorkBoundWorstCaseOtherFormats)
    ->DenseRange(0, 5)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1);

// A valid 3300² RGBA PNG written by zlib with literals only at its smallest memory level: a block
// every 127 bytes, 343,000 of them, nearly all with code tables (0). And (1) the largest picture
// the budget takes, 2700² of 16-bit RGBA, noise in every sample, alpha too, written so: 459,000
// blocks with tables, every byte a literal, a fifth of the rows under the costliest filter; (2)
// that one interlaced, each pass's pixels then put in place.
void BM_HuffmanOnlyPng(benchmark::State& state) {
    static const std::string eightBit = [] {
        HostileCovers::PngPicture picture;
        picture.width = picture.height = 3300;
        picture.samples.resize(std::size_t{3300} * 3300 * 4);
        std::uint32_t seed = 11;
        for (std::size_t i = 0; i < picture.samples.size(); ++i) {
            seed = seed * 1103515245 + 12345;
            const std::size_t pixel = i / 4, x = pixel % 3300, y = pixel / 3300;
            picture.samples[i] = i % 4 == 3 ? 255 : static_cast<std::uint16_t>((x + 2 * y + (seed >> 30)) % 256);
        }
        return HostileCovers::png(picture, {.memoryLevel = 1, .strategy = Z_HUFFMAN_ONLY});
    }();
    auto sixteenBit = [](bool interlaced) {
        HostileCovers::PngPicture picture{2700, 2700, 6, 16, interlaced};
        picture.samples.resize(std::size_t{2700} * 2700 * 4);
        // Noise of a few values on a gradient: literals take fewer bits than stored bytes.
        std::uint32_t seed = 7;
        for (std::size_t i = 0; i < picture.samples.size(); ++i) {
            seed = seed * 1103515245 + 12345;
            const std::size_t pixel = i / 4, x = pixel % 2700, y = pixel / 2700;
            picture.samples[i] = static_cast<std::uint16_t>((x + 2 * y + (seed >> 30)) % 256 * 257);
        }
        return HostileCovers::png(picture, {.memoryLevel = 1, .strategy = Z_HUFFMAN_ONLY});
    };
    static const std::string largest = sixteenBit(false), largestInterlaced = sixteenBit(true);
    const std::int64_t kind = state.range(0);
    decodeEach(state, kind == 0 ? eightBit : kind == 1 ? largest : largestInterlaced);
}
BENCHMARK(BM_HuffmanOnlyPng)->DenseRange(0, 2)->Unit(benchmark::kMillisecond)->Iterations(1);

// A stop in the middle of a long decode: how long the decode runs on after the stop is asked
// (0 when it returned before). Kinds: 0, the 10000² JPEG bomb let through by a raised work limit,
// stopped after 500 ms; 1, the 1 MB chain GIF, and 2, the 15.7 MB PNG of empty blocks, each
// stopped after 200 ms; 3 and 4, the GIF and the PNG at their work bounds, stopped after 50 ms.
void BM_StopEndsADecode(benchmark::State& state) {
    const auto kind = state.range(0);
    const std::string data = kind == 0   ? HostileCovers::refinementJpeg(10000, 10000)
                             : kind == 1 ? chainGif(1'060'000)
                             : kind == 2 ? emptyBlocksPng()
                                         : atWorkBound(kind - 3);
    const auto stopAfter = std::chrono::milliseconds(kind == 0 ? 500 : kind < 3 ? 200 : 50);
    double afterStop = 0, returnedAfter = 0;
    int decoded = 0;
    for (auto _ : state) {
        std::stop_source stop;
        const auto started = std::chrono::steady_clock::now();
        std::chrono::steady_clock::time_point asked;
        std::jthread stopper([&] {
            std::this_thread::sleep_for(stopAfter);
            asked = std::chrono::steady_clock::now();
            stop.request_stop();
        });
        decoded +=
            ArtworkDecoder::downsample(data, 1200,
                                       {.workLimit = std::numeric_limits<std::int64_t>::max(),
                                        .stop = stop.get_token()}) != nullptr;
        const auto returned = std::chrono::steady_clock::now();
        stopper.join();
        afterStop = std::max(0.0, std::chrono::duration<double, std::milli>(returned - asked).count());
        returnedAfter = std::chrono::duration<double, std::milli>(returned - started).count();
    }
    state.counters["after_stop_ms"] = afterStop;
    state.counters["returned_ms"] = returnedAfter;
    state.counters["decoded"] = decoded;
}
BENCHMARK(BM_StopEndsADecode)
    ->Arg(0)
    ->Arg(1)
    ->Arg(2)
    ->Arg(3)
    ->Arg(4)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(3);

// A 3000² RGBA PNG with detail (gradients and noise), deflated by zlib as ordinary writers do;
// interlaced or not.
const std::string& detailedPng(bool interlaced = false) {
    static const std::array<std::string, 2> data = [] {
        const int side = 3000;
        HostileCovers::PngPicture picture{side, side, 6, 8};
        picture.samples.resize(static_cast<std::size_t>(side) * side * 4);
        std::uint32_t seed = 1;
        for (std::size_t i = 0; i < picture.samples.size(); ++i) {
            seed = seed * 1103515245 + 12345;
            const auto x = static_cast<int>(i / 4 % side);
            picture.samples[i] = static_cast<std::uint16_t>((x * 255 / side + (seed >> 29)) & 255);
        }
        std::string plain = HostileCovers::png(picture);
        picture.interlaced = true;
        return std::array<std::string, 2>{std::move(plain), HostileCovers::png(picture)};
    }();
    return data[interlaced ? 1 : 0];
}

// A 10,000,000 × 1 RGBA PNG with detail: its one row is 40 MB.
const std::string& rowPng() {
    static const std::string data = [] {
        const int width = 10'000'000;
        HostileCovers::PngPicture picture{width, 1, 6, 8};
        picture.samples.resize(static_cast<std::size_t>(width) * 4);
        for (std::size_t i = 0; i < picture.samples.size(); ++i)
            picture.samples[i] = static_cast<std::uint16_t>((i * 7 + i / 4099) & 255);
        return HostileCovers::png(picture);
    }();
    return data;
}

// CPU time of a thread, by its clock.
double cpuMilliseconds(clockid_t clock) {
    timespec now{};
    ::clock_gettime(clock, &now);
    return static_cast<double>(now.tv_sec) * 1e3 + static_cast<double>(now.tv_nsec) / 1e6;
}

// A stop asked at any point of a decode: how long the decode runs on after it, in real time and
// in the decoding thread's CPU (which a loaded machine does not stretch). Each iteration asks at
// another point, spread over the time the whole decode takes; the worst is kept. Kinds: 0, the
// 3000² RGBA PNG with detail; 1, the 2600² 16-bit RGBA PNG; 2, the 3000² GIF at its work bound;
// 3, the same GIF asked to stop as the library has read it whole (from where the library decodes
// alone); 4, the PNG of kind 0 interlaced; 5, the PNG of one 40 MB row.
void BM_StopAtAnyPointOfADecode(benchmark::State& state) {
    const auto kind = state.range(0);
    const std::string& data = kind == 0   ? detailedPng()
                              : kind == 1 ? sixteenBitPng(2600)
                              : kind == 4 ? detailedPng(true)
                              : kind == 5 ? rowPng()
                                          : atWorkBound(0);
    const auto started = std::chrono::steady_clock::now();
    ArtworkDecoder::downsample(data, 1200);
    const auto whole = std::chrono::steady_clock::now() - started;
    clockid_t decoding{};
    ::pthread_getcpuclockid(::pthread_self(), &decoding);
    double worst = 0, worstCpu = 0;
    int decoded = 0, asked = 0;
    for (auto _ : state) {
        std::stop_source stop;
        std::atomic<std::int64_t> askedAt{0};
        std::atomic<double> cpuAtAsk{0};
        auto ask = [&] {
            cpuAtAsk = cpuMilliseconds(decoding);
            askedAt = std::chrono::steady_clock::now().time_since_epoch().count();
            stop.request_stop();
        };
        std::jthread stopper;
        if (kind != 3) {
            stopper = std::jthread([&, after = whole * (asked + 1) / 41] {
                std::this_thread::sleep_for(after);
                ask();
            });
        }
        const bool made =
            ArtworkDecoder::downsample(data, 1200, {.stop = stop.get_token(), .onRead = [&] {
                                                        if (kind == 3) ask();
                                                    }}) != nullptr;
        const double cpuAtReturn = cpuMilliseconds(decoding);
        const auto returned = std::chrono::steady_clock::now().time_since_epoch().count();
        if (stopper.joinable()) stopper.join();
        decoded += made;
        ++asked;
        if (!made) {
            worst = std::max(worst, static_cast<double>(returned - askedAt) / 1e6);
            worstCpu = std::max(worstCpu, cpuAtReturn - cpuAtAsk);
        }
    }
    state.counters["worst_after_stop_ms"] = worst;
    state.counters["worst_cpu_after_stop_ms"] = worstCpu;
    state.counters["decoded"] = decoded;
}
BENCHMARK(BM_StopAtAnyPointOfADecode)
    ->DenseRange(0, 5)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(40);

double processCpuSeconds() {
    struct rusage usage {};
    ::getrusage(RUSAGE_SELF, &usage);
    auto seconds = [](const timeval& t) { return static_cast<double>(t.tv_sec) + t.tv_usec / 1e6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

// The hostile picture for every address but ".../small", which is a plain 64² cover.
class HostileOrSmall final : public ArtworkHTTPClient {
public:
    explicit HostileOrSmall(std::string hostile) : hostile_(std::move(hostile)) {}
    std::string data(const std::string& url, std::stop_token) override {
        if (url.ends_with("/small")) return small_;
        return hostile_;
    }

private:
    std::string hostile_;
    std::string small_ = *ArtworkJPEG::encode(
        *ArtworkImage::make(64, 64, std::vector<std::uint8_t>(64 * 64 * 4, 200)), 0.9);
};

// Hostile covers asked for at once through one service on eight workers (four artwork slots),
// every request cancelled after a while; then a plain 64² cover is asked for.
//   slot_wait_ms: from the cancel to the plain cover's answer, that is until a slot was free;
//   cpu_after_cancel_s: CPU the process spent from the cancel until every worker was idle.
// Kinds: 0, eight 4000² refinement bombs cancelled after 2 s; 1, eight 4000² pictures of 48
// scans (12 M blocks, at the work bound), cancelled after 200 ms; 2, forty 10000² pictures of
// 7 scans (11 M blocks; 212 MB of budget each, so one decodes while the others wait for the
// budget), cancelled after 1 s; 3, eight 1 MB chain GIFs cancelled after 2 s.
void BM_CancelledCoversFreeTheirSlots(benchmark::State& state) {
    const auto kind = state.range(0);
    const std::string hostile = kind == 0   ? HostileCovers::refinementJpeg(4000, 4000)
                                : kind == 1 ? HostileCovers::refinementJpeg(4000, 4000, 47)
                                : kind == 2 ? HostileCovers::refinementJpeg(10000, 10000, 6)
                                            : chainGif(1'060'000);
    const int count = kind == 2 ? 40 : 8;
    const auto cancelAfter =
        std::chrono::milliseconds(kind == 1 ? 200 : kind == 2 ? 1000 : 2000);
    const auto now = ArtworkDate(std::chrono::seconds(1'700'000'000));
    double slotWait = 0, cpuAfter = 0;
    bool plainDecoded = false;
    for (auto _ : state) {
        TempDir dir;
        ManualMainQueue queue;
        double cpuAtCancel = 0;
        {
            WorkerPool pool(8);
            ArtworkService service(std::make_shared<Addresses>(),
                                   std::make_shared<HostileOrSmall>(hostile), dir.path(), 3600,
                                   {32 << 20, 128 << 20, 1200},
                                   ArtworkService::Environment{pool, queue});
            std::vector<ArtworkRequest> requests;
            for (int i = 0; i < count; ++i) {
                Track track;
                track.songmid = std::to_string(i);
                requests.push_back(service.image(track, now, [](TaskResult<ArtworkImagePtr>) {}));
            }
            queue.runUntil([] { return false; }, cancelAfter);
            cpuAtCancel = processCpuSeconds();
            const auto cancelled = std::chrono::steady_clock::now();
            for (auto& request : requests) request.cancel();
            bool answered = false;
            Track plain;
            plain.songmid = "small";
            service.image(plain, now, [&](TaskResult<ArtworkImagePtr> r) {
                answered = true, plainDecoded = r.ok();
            });
            if (!queue.runUntil([&] { return answered; }, std::chrono::minutes(5)))
                state.SkipWithError("the plain cover was not answered");
            slotWait = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() -
                                                                 cancelled)
                           .count();
        }  // the pool waits for every job still running
        cpuAfter = processCpuSeconds() - cpuAtCancel;
    }
    state.counters["slot_wait_ms"] = slotWait;
    state.counters["cpu_after_cancel_s"] = cpuAfter;
    state.counters["plain_decoded"] = plainDecoded;
}
BENCHMARK(BM_CancelledCoversFreeTheirSlots)
    ->Arg(0)
    ->Arg(1)
    ->Arg(2)
    ->Arg(3)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(1);

}  // namespace
