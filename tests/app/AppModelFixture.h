#pragma once

#include <gtest/gtest.h>

#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "AppTestSupport.h"
#include "app/FileChooser.h"
#include "app/MacAppModel.h"
#include "app/NotchController.h"
#include "app/NotchControllerFactory.h"
#include "foundation/files/UserDefaults.h"
#include "library/store/LibraryStore.h"
#include "foundation/WorkerPool.h"
#include "playback/PlaybackService.h"
#include "playback/ScriptedResolver.h"
#include "sources/credentials/InMemoryCredentialStore.h"
#include "support/FakeNowPlayingCenter.h"
#include "support/FakeQueuePlayer.h"
#include "support/InMemoryNetEaseKeychain.h"
#include "support/TempDir.h"

namespace velto {

// Records what the model asks of the notch player.
class RecordingNotch final : public NotchController {
  public:
    explicit RecordingNotch(std::vector<std::string>& calls) : calls_(calls) {}
    void setEnabled(bool enabled) override { calls_.push_back(enabled ? "on" : "off"); }
    void expand(bool keyboard) override { calls_.push_back(keyboard ? "expand keyboard" : "expand"); }

  private:
    std::vector<std::string>& calls_;
};

class RecordingNotchFactory final : public NotchControllerFactory {
  public:
    std::unique_ptr<NotchController> make(MacAppModel&) override {
        ++made;
        return std::make_unique<RecordingNotch>(calls);
    }
    void collectGarbage() override { ++collected; }
    int made = 0;
    int collected = 0;
    std::vector<std::string> calls;
};

// Answers each dialog with what the test put in, and remembers what was asked. With `shown` set,
// the dialog stands open instead: it answers when the test calls what `shown` was handed.
class ScriptedChooser final : public FileChooser {
  public:
    void chooseToOpen(const OpenRequest& request,
                      std::function<void(std::vector<std::filesystem::path>)> done) override {
        opened.push_back(request);
        answer([this, done] { done(openAnswer); });
    }
    void chooseToSave(const SaveRequest& request,
                      std::function<void(std::optional<std::filesystem::path>)> done) override {
        saved.push_back(request);
        answer([this, done] { done(saveAnswer); });
    }
    void answer(std::function<void()> answering) {
        if (shown) shown(std::move(answering));
        else answering();
    }
    std::function<void(std::function<void()> answer)> shown;
    std::vector<std::filesystem::path> openAnswer;
    std::optional<std::filesystem::path> saveAnswer;
    std::vector<OpenRequest> opened;
    std::vector<SaveRequest> saved;
};

// The model on a temporary environment: temp folders, the manual main queue, held worker
// jobs, the fake player and Now Playing, a scripted runtime and resolver.
class AppModelTest : public ::testing::Test {
  protected:
    // Covers are off unless a test gives them a folder: a cache folder below a file cannot be
    // made, so the model runs without its artwork service.
    AppModelTest() {
        player.openItemsAutomatically(true, 240);
        std::ofstream(dir.path() / "not-a-folder") << "x";
    }
    ~AppModelTest() override { model.reset(); }

    AppEnvironment environment() {
        AppEnvironment env;
        env.mainQueue = &mainQueue;
        env.workers = &workers;
        env.executor = [this](std::function<void()> job) { jobs.submit(std::move(job)); };
        env.defaults = defaults;
        env.applicationSupportDir = dir.path() / "data" / "cn.quorvanel.velto.mac";
        env.artworkCacheDir = artworkCacheDir;
        env.resourceDir = dir.path() / "resources";
        env.neteaseOrigin = "https://127.0.0.1:9";
        env.credentialFallback = std::make_shared<InMemoryCredentialStore>();
        env.neteaseKeychain = std::make_shared<InMemoryNetEaseKeychain>();
        env.variables = [](const std::string&) -> std::optional<std::string> { return std::nullopt; };
        env.player = std::shared_ptr<QueuePlayer>(&player, [](QueuePlayer*) {});
        env.nowPlaying = std::shared_ptr<NowPlayingCenter>(&nowPlaying, [](NowPlayingCenter*) {});
        env.remoteCommands = std::shared_ptr<RemoteCommandCenter>(&nowPlaying, [](RemoteCommandCenter*) {});
        env.notchFactory = notch;
        env.fileChooser = chooser;
        env.clock = [this] { return mainQueue.wallNow(); };
        env.bootClock = [this] { return mainQueue.uptime(); };
        env.perfMark = [this](std::string_view name, std::string_view) { marks.emplace_back(name); };
        env.runtime = runtime;
        env.resolver = resolver;
        return env;
    }
    void make() { model = std::make_unique<MacAppModel>(environment()); }

    // Runs held jobs and posted work until nothing is left.
    void settle() {
        do {
            mainQueue.runPending();
        } while (jobs.runOne());
        mainQueue.runPending();
    }
    void sql(const std::string& statement) {
        model->library()->container()->database().execute(statement);
    }
    std::string currentID() const {
        auto track = model->playback().queue().current();
        return track ? track->musicID() : std::string();
    }
    static LyricInfo lrc(const std::string& text) { return LyricInfo{"[00:01.00]" + text, std::nullopt, {}, {}}; }

    TempDir dir;
    std::filesystem::path artworkCacheDir = dir.path() / "not-a-folder" / "Artwork";
    std::shared_ptr<UserDefaults> defaults = std::make_shared<UserDefaults>(dir.path() / "defaults.json");
    ManualMainQueue mainQueue;
    HeldJobs jobs;
    WorkerPool workers{1};
    FakeQueuePlayer player{mainQueue};
    FakeNowPlayingCenter nowPlaying;
    std::shared_ptr<ScriptedResolver> resolver = std::make_shared<ScriptedResolver>();
    std::shared_ptr<ScriptedSourceRuntime> runtime = std::make_shared<ScriptedSourceRuntime>();
    std::shared_ptr<ScriptedChooser> chooser = std::make_shared<ScriptedChooser>();
    std::shared_ptr<RecordingNotchFactory> notch = std::make_shared<RecordingNotchFactory>();
    std::vector<std::string> marks;
    std::unique_ptr<MacAppModel> model;
};

}  // namespace velto
