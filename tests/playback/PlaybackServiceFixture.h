#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "ScriptedResolver.h"
#include "StepExecutor.h"
#include "foundation/Log.h"
#include "foundation/ManualMainQueue.h"
#include "foundation/files/UserDefaults.h"
#include "foundation/WorkerPool.h"
#include "playback/PlaybackService.h"
#include "sources/model/SourceError.h"
#include "support/FakeNowPlayingCenter.h"
#include "support/FakeQueuePlayer.h"
#include "support/TempDir.h"

namespace velto {

inline Track makeSong(const std::string& songmid, std::optional<std::string> interval = "4:00",
                      MusicSource source = MusicSource::wy, std::string payload = "{}") {
    Track track;
    track.source = source;
    track.songmid = songmid;
    track.title = "title " + songmid;
    track.artist = "artist " + songmid;
    track.album = "album " + songmid;
    track.interval = std::move(interval);
    track.payload = std::move(payload);
    return track;
}

inline std::vector<Track> makeSongs(int count) {
    std::vector<Track> songs;
    for (int i = 1; i <= count; ++i) songs.push_back(makeSong("s" + std::to_string(i)));
    return songs;
}

class PlaybackServiceTest : public ::testing::Test {
  protected:
    using Kind = PlaybackService::StateKind;
    using Mode = PlaybackService::PlaybackMode;

    PlaybackServiceTest() {
        player.openItemsAutomatically(true, 240);
        Log::setSink([this](Log::Level, std::string_view category, std::string_view message) {
            if (category == "PlaybackTransition") logLines.emplace_back(message);
        });
    }
    ~PlaybackServiceTest() override {
        service.reset();
        Log::setSink({});
    }

    // The service publishes to the recording fake unless given real desktop centers.
    void make(NowPlayingCenter* center = nullptr, RemoteCommandCenter* commands = nullptr) {
        service = std::make_unique<PlaybackService>(
            player, resolver, defaults, mainQueue, workers, center ? center : &nowPlaying,
            commands ? commands : &nowPlaying,
            [this](std::ptrdiff_t lower, std::ptrdiff_t upper) {
                randomCalls.emplace_back(lower, upper);
                return randomAnswer;
            },
            std::chrono::milliseconds(150), std::chrono::milliseconds(400),
            std::chrono::seconds(20));
        service->setBlockingExecutor(
            [this](std::function<void()> job) { executor.submit(std::move(job)); });
        service->setPerfMarker([this](std::string_view name, std::string_view detail) {
            marks.emplace_back(std::string(name) + ":" + std::string(detail));
        });
    }

    // Lets every resolution finish and every posted callback run.
    void settle() {
        do {
            executor.runAll();
            mainQueue.runPending();
        } while (executor.pending() > 0);
    }

    // Loads `songs` (starting at `start`) and lets the first one start playing.
    void startPlaying(const std::vector<Track>& songs, std::optional<std::ptrdiff_t> start = 0) {
        service->replaceQueue(songs, start, true);
        settle();
    }

    std::string currentID() const {
        auto track = service->queue().current();
        return track ? track->musicID() : std::string();
    }
    Kind kind() const { return service->state().kind; }
    std::string currentURL() const {
        auto item = player.currentItem();
        return item ? item->uri() : std::string();
    }
    static std::string url(const std::string& songmid, Quality quality = Quality::master) {
        return ScriptedResolver::urlFor("wy_" + songmid, quality);
    }
    static std::exception_ptr sourceFailure(const std::string& message) {
        return std::make_exception_ptr(SourceError::source(message));
    }

    TempDir dir;
    // How far each write of the defaults was forced.
    std::vector<Durability> defaultsWrites;
    UserDefaults defaults{dir.path() / "defaults.json",
                          [this](const std::filesystem::path& file, std::string_view contents,
                                 Durability durability) {
                              defaultsWrites.push_back(durability);
                              writeFileAtomically(file, contents, 0600, durability);
                          }};
    ManualMainQueue mainQueue;
    FakeQueuePlayer player{mainQueue};
    FakeNowPlayingCenter nowPlaying;
    ScriptedResolver resolver;
    StepExecutor executor;
    WorkerPool workers{1};
    std::vector<std::pair<std::ptrdiff_t, std::ptrdiff_t>> randomCalls;
    std::ptrdiff_t randomAnswer = 0;
    std::vector<std::string> marks;
    std::vector<std::string> logLines;
    std::unique_ptr<PlaybackService> service;
};

}  // namespace velto
