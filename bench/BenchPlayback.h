#pragma once

#include <memory>
#include <string>
#include <vector>

#include "foundation/Log.h"
#include "foundation/ManualMainQueue.h"
#include "foundation/files/UserDefaults.h"
#include "foundation/WorkerPool.h"
#include "playback/PlaybackService.h"
#include "playback/ScriptedResolver.h"
#include "playback/StepExecutor.h"
#include "support/FakeQueuePlayer.h"
#include "support/TempDir.h"

namespace velto {

// A playback service over the fake player on a virtual clock, for the view benchmarks.
struct BenchPlayback {
    BenchPlayback() {
        Log::setSink([](Log::Level, std::string_view, std::string_view) {});
        player.openItemsAutomatically(true, 240);
        service = std::make_unique<PlaybackService>(player, resolver, defaults, mainQueue, workers);
        service->setBlockingExecutor(
            [this](std::function<void()> job) { executor.submit(std::move(job)); });
    }
    ~BenchPlayback() { Log::setSink({}); }
    void settle() {
        do {
            executor.runAll();
            mainQueue.runPending();
        } while (executor.pending() > 0);
    }
    static std::vector<Track> songs(int count) {
        std::vector<Track> tracks{size_t(count)};
        for (int i = 0; i < count; ++i) {
            tracks[size_t(i)].songmid = std::to_string(i);
            tracks[size_t(i)].title = "title " + std::to_string(i);
            tracks[size_t(i)].artist = "artist";
            tracks[size_t(i)].payload = "{}";
        }
        return tracks;
    }

    TempDir dir;
    UserDefaults defaults{dir.path() / "defaults.json"};
    ManualMainQueue mainQueue;
    FakeQueuePlayer player{mainQueue};
    ScriptedResolver resolver;
    StepExecutor executor;
    WorkerPool workers{1};
    std::unique_ptr<PlaybackService> service;
};

}  // namespace velto
