#include <future>

#include <QSignalSpy>

#include "AppModelFixture.h"

namespace velto {
namespace {

std::vector<std::string> lyricTexts(const MacAppModel& model) {
    std::vector<std::string> texts;
    if (model.lyrics()) {
        for (const auto& line : model.lyrics()->lines()) texts.push_back(line.text);
    }
    return texts;
}

TEST_F(AppModelTest, NotchSettingCountsAsOnUnlessStoredFalse) {
    struct Case {
        std::function<void(UserDefaults&)> store;
        bool expected;
    };
    const std::vector<Case> cases = {
        {[](UserDefaults&) {}, true},
        {[](UserDefaults& d) { d.setString(MacAppModel::notchEnabledKey, "false"); }, true},
        {[](UserDefaults& d) { d.setBool(MacAppModel::notchEnabledKey, false); }, false},
    };
    for (const auto& c : cases) {
        defaults->remove(MacAppModel::notchEnabledKey);
        c.store(*defaults);
        make();
        EXPECT_EQ(model->notchEnabled(), c.expected);
    }
}

TEST_F(AppModelTest, EveryNotchWriteIsStoredAndReachesTheController) {
    make();
    model->start();
    ASSERT_EQ(notch->calls, std::vector<std::string>{"on"});
    QSignalSpy changed(model.get(), &MacAppModel::notchEnabledChanged);
    defaults->remove(MacAppModel::notchEnabledKey);
    model->setNotchEnabled(true);
    EXPECT_EQ(defaults->boolValue(MacAppModel::notchEnabledKey), true);
    EXPECT_EQ(changed.count(), 0);
    model->setNotchEnabled(false);
    EXPECT_EQ(defaults->boolValue(MacAppModel::notchEnabledKey), false);
    EXPECT_EQ(notch->calls, (std::vector<std::string>{"on", "on", "off"}));
    EXPECT_EQ(changed.count(), 1);
}

TEST_F(AppModelTest, StartRunsOnceAndShowNotchSwitchesTheNotchOn) {
    defaults->setBool(MacAppModel::notchEnabledKey, false);
    make();
    model->setNotchEnabled(false);  // before start only the setting is written
    EXPECT_EQ(notch->made, 0);
    model->showNotch();
    model->start();
    model->showNotch();
    EXPECT_EQ(notch->made, 1);
    EXPECT_EQ(marks, std::vector<std::string>{"mac_launch"});
    EXPECT_TRUE(model->notchEnabled());
    EXPECT_EQ(defaults->boolValue(MacAppModel::notchEnabledKey), true);
    EXPECT_EQ(notch->calls, (std::vector<std::string>{"on", "expand keyboard", "on", "expand keyboard"}));
}

TEST_F(AppModelTest, PlaybackActionTitleFollowsStateAndRequest) {
    make();
    QSignalSpy changed(model.get(), &MacAppModel::playbackActionTitleChanged);
    EXPECT_EQ(model->playbackActionTitle(), "播放");
    model->play({song("1")}, 0);
    EXPECT_EQ(model->playbackActionTitle(), "取消加载");
    settle();
    EXPECT_EQ(model->playback().state().kind, PlaybackService::StateKind::playing);
    EXPECT_EQ(model->playbackActionTitle(), "暂停");
    model->playback().pause();
    EXPECT_EQ(model->playbackActionTitle(), "播放");
    const int announced = changed.count();
    resolver->failAlways("wy_2", std::make_exception_ptr(SourceError::source("无法播放")));
    model->play({song("2")}, 0);
    settle();
    EXPECT_EQ(model->playback().state().kind, PlaybackService::StateKind::failed);
    EXPECT_EQ(model->playbackActionTitle(), "重试播放");
    EXPECT_EQ(model->playbackActionTitleText(), QStringLiteral("重试播放"));
    EXPECT_GT(changed.count(), announced);
}

TEST_F(AppModelTest, PlayIgnoresIndexesOutOfRangeAndUnplayableLists) {
    make();
    model->play({song("1")}, 0);
    settle();
    auto disabled = song("9");
    disabled.source = MusicSource::tx;
    model->play({}, 0);
    model->play({song("2")}, 1);
    model->play({song("2")}, -1);
    model->play({disabled}, 0);
    settle();
    EXPECT_EQ(currentID(), "wy_1");
    EXPECT_EQ(model->playback().state().kind, PlaybackService::StateKind::playing);
    EXPECT_FALSE(model->playback().activePlaylistID());
}

TEST_F(AppModelTest, EachNewSongGetsItsOwnLyricsAndStaleOnesAreDropped) {
    runtime->onLyric = [](const Track& t) { return lrc("词" + t.songmid); };
    make();
    model->play({song("1"), song("2")}, 0);
    mainQueue.runPending();      // the synchronisation starts the load of song 1
    model->playback().next();    // and song 2 replaces it before any answer
    settle();
    EXPECT_EQ(currentID(), "wy_2");
    EXPECT_EQ(lyricTexts(*model), std::vector<std::string>{"词2"});
    EXPECT_FALSE(model->playback().nowPlayingArtwork());

    // The same song again: nothing is cleared, nothing loads again.
    const auto lyricCalls = runtime->count("lyric");
    QSignalSpy lyricsChanged(model.get(), &MacAppModel::lyricsChanged);
    model->play({song("2")}, 0);
    settle();
    EXPECT_EQ(runtime->count("lyric"), lyricCalls);
    EXPECT_EQ(lyricsChanged.count(), 0);

    // Failed lyrics stay absent and playback goes on.
    runtime->onLyric = [](const Track&) -> LyricInfo { throw SourceError::source("暂无歌词"); };
    model->play({song("3")}, 0);
    settle();
    EXPECT_FALSE(model->lyrics());
    EXPECT_EQ(model->playback().state().kind, PlaybackService::StateKind::playing);
}

TEST_F(AppModelTest, PlaybackSyncRunsOnceForABurstAndDropsAStaleDetail) {
    runtime->onLyric = [](const Track& t) { return lrc("词" + t.songmid); };
    runtime->onTrackDetail = [](Track t) {
        t.title = "新" + t.title;
        return t;
    };
    make();
    // A burst of changes in one turn: one run, a turn later, reading the song as it is by then.
    model->play({song("1", "曲1"), song("2", "曲2")}, 0);
    model->playback().next();
    settle();
    EXPECT_EQ(runtime->count("lyric"), 1u);
    EXPECT_EQ(runtime->count("lyric wy_2"), 1u);
    // The current song's refreshed detail is applied; it comes from a worker thread, so it is
    // waited for before the burst below counts the main queue's tasks.
    ASSERT_TRUE(mainQueue.runUntil([&] { return model->playback().queue().current()->title == "新曲2"; }));
    for (int i = 0; i < 3; ++i) {
        emit model->playback().queueChanged();
        emit model->playback().stateChanged();
    }
    EXPECT_EQ(mainQueue.runPending(), 1u);
    EXPECT_EQ(runtime->count("lyric"), 1u);

    // Song 1's detail arrives after the song changed but before the model noticed.
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    auto asked = std::make_shared<std::promise<void>>();
    auto askedForSong1 = asked->get_future();
    runtime->onTrackDetail = [released, asked](Track t) {
        if (t.musicID() == "wy_1") asked->set_value();
        released.wait();
        t.title = "新" + t.title;
        return t;
    };
    model->play({song("1", "曲1"), song("2", "曲2")}, 0);
    settle();
    ASSERT_EQ(askedForSong1.wait_for(std::chrono::seconds(10)), std::future_status::ready);
    release.set_value();
    ASSERT_TRUE(mainQueue.waitForPosted());  // the answer waits on the main queue
    model->playback().next();
    settle();
    EXPECT_EQ(currentID(), "wy_2");
    EXPECT_EQ(model->playback().queue().tracks().at(0).title, "曲1");
}

// Lets the test end the model while an address is being resolved.
class InterruptedResolver final : public PlaybackURLResolving {
  public:
    explicit InterruptedResolver(std::function<void()> during) : during_(std::move(during)) {}
    std::string musicURL(const Track& track, Quality, std::stop_token) override {
        during_();
        return address_ + track.songmid;
    }
    bool supportsPlayback(MusicSource) const override { return true; }

  private:
    std::function<void()> during_;
    std::string address_ = "https://cdn.test/";
};

TEST_F(AppModelTest, ModelDestroyedWhileLoadsRunTouchesNothing) {
    runtime->onLyric = [](const Track& t) { return lrc("词" + t.songmid); };
    auto env = environment();
    env.resolver = std::make_shared<InterruptedResolver>([this] { model.reset(); });
    env.runtime = std::exchange(runtime, nullptr);  // the model is their only owner
    model = std::make_unique<MacAppModel>(std::move(env));
    model->start();
    model->play({song("1")}, 0);
    mainQueue.runPending();
    EXPECT_GT(jobs.pending(), 0u);
    settle();
    EXPECT_FALSE(model);
    EXPECT_EQ(jobs.pending(), 0u);
}

}  // namespace
}  // namespace velto
