#include <QSignalSpy>

#include "PlaybackServiceFixture.h"

using namespace velto;

namespace {

class PlaybackServiceSettings : public PlaybackServiceTest {};

}  // namespace

TEST_F(PlaybackServiceSettings, VolumeIsClampedOrTakenFromThePlayer) {
    defaults.setDouble("macPlaybackVolume", 1.7);
    make();
    EXPECT_EQ(service->volume(), 1.0);
    EXPECT_EQ(player.volume(), 1.0);

    defaults.setDouble("macPlaybackVolume", -0.2);
    make();
    EXPECT_EQ(service->volume(), 0.0);
    EXPECT_EQ(player.volume(), 0.0);

    player.setVolume(0.6);
    defaults.setString("macPlaybackVolume", "loud");
    make();
    EXPECT_DOUBLE_EQ(service->volume(), 0.6);
}

TEST_F(PlaybackServiceSettings, RateIsClampedAndNonPositiveMeansNormal) {
    const std::vector<std::pair<double, float>> cases = {{3.0, 2.0f},   {0.5, 0.5f}, {0.3, 0.5f},
                                                         {1.25, 1.25f}, {0, 1.0f},   {-1, 1.0f}};
    for (auto [stored, expected] : cases) {
        defaults.setDouble("velto.playback.rate", stored);
        make();
        EXPECT_EQ(service->playbackRate(), expected) << stored;
    }
    defaults.remove("velto.playback.rate");
    make();
    EXPECT_EQ(service->playbackRate(), 1.0f);
    EXPECT_EQ(player.callCount("rate"), 0);  // applied only once something plays
}

TEST_F(PlaybackServiceSettings, ModeComesFromItsRawTextAndShufflesTheQueue) {
    defaults.setString("playbackMode", "shuffle");
    make();
    EXPECT_EQ(service->playbackMode(), Mode::shuffle);
    EXPECT_TRUE(service->queue().shuffleEnabled());
    EXPECT_EQ(service->queue().tracks().size(), 0u);
    EXPECT_EQ(kind(), Kind::idle);

    defaults.setString("playbackMode", "random");
    make();
    EXPECT_EQ(service->playbackMode(), Mode::sequence);
    EXPECT_FALSE(service->queue().shuffleEnabled());
    EXPECT_EQ(service->playbackModeText(), "listLoop");

    EXPECT_EQ(PlaybackService::playbackModeFromRaw("playInOrder"), Mode::playInOrder);
    EXPECT_FALSE(PlaybackService::playbackModeFromRaw("ListLoop"));
}

TEST_F(PlaybackServiceSettings, QualityPreferenceIsMovedToMasterOnce) {
    defaults.setString("preferredPlaybackQuality", "320k");
    make();
    EXPECT_EQ(service->preferredQuality(), Quality::master);
    EXPECT_EQ(defaults.stringValue("preferredPlaybackQuality"), "master");
    EXPECT_EQ(defaults.integerValue("playbackQualityPolicyVersion"), 1);

    defaults.setString("preferredPlaybackQuality", "320k");
    make();
    EXPECT_EQ(service->preferredQuality(), Quality::high);

    defaults.setString("preferredPlaybackQuality", "flac24bit");
    make();
    EXPECT_EQ(service->preferredQuality(), Quality::hiRes);
    EXPECT_EQ(service->preferredQualityText(), "flac24bit");

    defaults.setString("preferredPlaybackQuality", "ultra");
    make();
    EXPECT_EQ(service->preferredQuality(), Quality::master);
    // An unreadable value is replaced in memory only.
    EXPECT_EQ(defaults.stringValue("preferredPlaybackQuality"), "ultra");
}

TEST_F(PlaybackServiceSettings, EqualWritesStaySilentAndChangesAreStored) {
    make();
    QSignalSpy volume(service.get(), &PlaybackService::volumeChanged);
    QSignalSpy rate(service.get(), &PlaybackService::playbackRateChanged);
    QSignalSpy mode(service.get(), &PlaybackService::playbackModeChanged);
    QSignalSpy queue(service.get(), &PlaybackService::queueChanged);

    service->setVolume(1.5);
    EXPECT_EQ(volume.count(), 0);  // already 1.0
    EXPECT_EQ(defaults.doubleValue("macPlaybackVolume"), 1.0);
    service->setVolume(0.3);
    EXPECT_EQ(volume.count(), 1);
    EXPECT_DOUBLE_EQ(player.volume(), 0.3);

    int writes = player.callCount("volume");
    service->setVolume(std::nan(""));
    EXPECT_EQ(player.callCount("volume"), writes);
    EXPECT_DOUBLE_EQ(*defaults.doubleValue("macPlaybackVolume"), 0.3);
    EXPECT_EQ(volume.count(), 1);

    service->setPlaybackRate(4);
    EXPECT_EQ(service->playbackRate(), 2.0f);
    EXPECT_EQ(player.callCount("rate"), 0);  // idle: applied once playing
    service->setPlaybackRate(0.25f);
    EXPECT_EQ(service->playbackRate(), 0.5f);
    service->setPlaybackRate(std::nanf(""));
    EXPECT_EQ(service->playbackRate(), 0.5f);
    EXPECT_EQ(rate.count(), 2);
    EXPECT_DOUBLE_EQ(*defaults.doubleValue("velto.playback.rate"), 0.5);

    logLines.clear();
    service->setPlaybackMode(Mode::sequence);
    EXPECT_FALSE(defaults.contains("playbackMode"));
    EXPECT_TRUE(logLines.empty());
    EXPECT_EQ(mode.count(), 0);
    EXPECT_EQ(queue.count(), 0);

    service->setPlaybackMode(Mode::shuffle);
    EXPECT_EQ(defaults.stringValue("playbackMode"), "shuffle");
    EXPECT_TRUE(service->queue().shuffleEnabled());
    EXPECT_EQ(mode.count(), 1);
    EXPECT_EQ(queue.count(), 1);
    EXPECT_EQ(logLines, std::vector<std::string>{"mode_changed mode=shuffle"});
}
