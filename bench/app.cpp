#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <fstream>

#include "app/AppTestSupport.h"
#include "app/FileChooser.h"
#include "app/MacAppModel.h"
#include "foundation/files/UserDefaults.h"
#include "foundation/WorkerPool.h"
#include "library/store/LibraryStore.h"
#include "playback/ScriptedResolver.h"
#include "sources/credentials/InMemoryCredentialStore.h"
#include "support/FakeNowPlayingCenter.h"
#include "support/FakeQueuePlayer.h"
#include "support/InMemoryNetEaseKeychain.h"
#include "support/TempDir.h"
#include "support/WavFile.h"

using namespace velto;

namespace {

constexpr int favouriteCount = 10000;
constexpr int importedFileCount = 2000;

Track favourite(int number) {
    Track track;
    track.songmid = std::to_string(1000000 + number);
    track.title = "第" + std::to_string(number) + "首歌";
    track.artist = "唱者";
    track.album = "专辑";
    track.interval = "04:12";
    track.payload = R"({"albumName":"专辑","name":"歌","singer":"唱者","songmid":")" + track.songmid + "\"}";
    return track;
}

using Clock = std::chrono::steady_clock;
double millisecondsSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// The manual main queue, timing every piece of posted work: one piece is one turn of the main
// thread, during which the views could not redraw.
class TimedMainQueue final : public MainQueue {
  public:
    void post(std::function<void()> work) override { inner.post(timed(std::move(work))); }
    TimerId schedule(Duration delay, std::function<void()> work) override {
        return inner.schedule(delay, timed(std::move(work)));
    }
    TimerId scheduleRepeating(Duration interval, std::function<void()> work) override {
        return inner.scheduleRepeating(interval, timed(std::move(work)));
    }
    void cancel(TimerId id) override { inner.cancel(id); }
    Duration uptime() const override { return inner.uptime(); }
    std::chrono::system_clock::time_point wallNow() const override { return inner.wallNow(); }

    ManualMainQueue inner;
    double longestTurn = 0;

  private:
    std::function<void()> timed(std::function<void()> work) {
        return [this, work = std::move(work)] {
            const auto start = Clock::now();
            work();
            longestTurn = std::max(longestTurn, millisecondsSince(start));
        };
    }
};

class FolderChooser final : public FileChooser {
  public:
    void chooseToOpen(const OpenRequest&, std::function<void(std::vector<std::filesystem::path>)> done) override {
        done({folder});
    }
    void chooseToSave(const SaveRequest&, std::function<void(std::optional<std::filesystem::path>)> done) override {
        done(std::nullopt);
    }
    std::filesystem::path folder;
};

// A store file with the favourites, made once; each model works on its own copy.
const std::filesystem::path& filledStore() {
    static TempDir dir;
    static const auto path = [] {
        auto file = dir.path() / "Velto.store";
        LibraryStore store(VeltoModelContainer::make(false, file), 100,
                           std::make_shared<UserDefaults>(dir.path() / "defaults.json"));
        for (int i = 0; i < favouriteCount; ++i) store.collect(favourite(i));
        return file;
    }();
    return path;
}

const std::filesystem::path& audioFolder() {
    static TempDir dir;
    static const auto folder = [] {
        for (int i = 0; i < importedFileCount; ++i) {
            writeWav(dir.path() / ("曲" + std::to_string(i) + ".wav"), 0.01);
        }
        return dir.path();
    }();
    return folder;
}

// The application model on a temporary environment whose store holds the favourites.
struct Harness {
    Harness() {
        const auto support = dir.path() / "support";
        std::filesystem::create_directories(support);
        std::filesystem::copy_file(filledStore(), support / MacAppModel::storeFileName);
        chooser->folder = audioFolder();
        AppEnvironment env;
        env.mainQueue = &mainQueue;
        env.workers = &workers;
        env.executor = [this](std::function<void()> job) { jobs.submit(std::move(job)); };
        env.defaults = std::make_shared<UserDefaults>(dir.path() / "defaults.json");
        env.applicationSupportDir = support;
        env.artworkCacheDir = dir.path() / "artwork";
        env.resourceDir = dir.path() / "resources";
        env.neteaseOrigin = "https://127.0.0.1:9";
        env.credentialFallback = std::make_shared<InMemoryCredentialStore>();
        env.neteaseKeychain = std::make_shared<InMemoryNetEaseKeychain>();
        env.variables = [](const std::string&) -> std::optional<std::string> { return std::nullopt; };
        env.player = std::shared_ptr<QueuePlayer>(&player, [](QueuePlayer*) {});
        env.nowPlaying = std::shared_ptr<NowPlayingCenter>(&nowPlaying, [](NowPlayingCenter*) {});
        env.remoteCommands = std::shared_ptr<RemoteCommandCenter>(&nowPlaying, [](RemoteCommandCenter*) {});
        env.fileChooser = chooser;
        env.clock = [this] { return mainQueue.wallNow(); };
        env.runtime = std::make_shared<ScriptedSourceRuntime>();
        env.resolver = std::make_shared<ScriptedResolver>();
        model = std::make_unique<MacAppModel>(std::move(env));
    }
    ~Harness() { model.reset(); }

    TempDir dir;
    TimedMainQueue mainQueue;
    HeldJobs jobs;
    WorkerPool workers{1};
    FakeQueuePlayer player{mainQueue};
    FakeNowPlayingCenter nowPlaying;
    std::shared_ptr<FolderChooser> chooser = std::make_shared<FolderChooser>();
    std::unique_ptr<MacAppModel> model;
};

// Runs after every change of the library, on the main thread.
void BM_ReloadLibrary(benchmark::State& state) {
    Harness harness;
    if (harness.model->libraryTracks().size() != favouriteCount) state.SkipWithError("favourites missing");
    for (auto _ : state) harness.model->reloadLibrary();
}
BENCHMARK(BM_ReloadLibrary)->Unit(benchmark::kMillisecond);

// The whole import (scan on a worker, storing on the main thread) and the longest single turn
// of the main thread it takes.
void BM_ImportLocalMusic(benchmark::State& state) {
    double longestStall = 0;
    for (auto _ : state) {
        state.PauseTiming();
        auto harness = std::make_unique<Harness>();
        state.ResumeTiming();
        harness->mainQueue.longestTurn = 0;
        const auto call = Clock::now();
        harness->model->importLocalMusic();
        longestStall = std::max(longestStall, millisecondsSince(call));
        do {
            harness->mainQueue.inner.runPending();
        } while (harness->jobs.runOne());
        longestStall = std::max(longestStall, harness->mainQueue.longestTurn);
        state.PauseTiming();
        if (harness->model->libraryTracks().size() != favouriteCount + importedFileCount) {
            state.SkipWithError("import incomplete");
        }
        harness.reset();
        state.ResumeTiming();
    }
    state.counters["longest_main_stall_ms"] = longestStall;
}
BENCHMARK(BM_ImportLocalMusic)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace
