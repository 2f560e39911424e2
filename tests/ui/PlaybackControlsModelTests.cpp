#include <gtest/gtest.h>

#include "playback/PlaybackService.h"
#include "ui/views/MacPlaybackControlsModel.h"

namespace velto {
namespace {

using Controls = MacPlaybackControlsModel;
using Mode = PlaybackService::PlaybackMode;
using Kind = PlaybackService::StateKind;

TEST(MacPlaybackControls, ModeTableAndCycle) {
    const struct {
        Mode mode;
        const char* symbol;
        const char* help;
        Mode next;
    } cases[] = {
        {Mode::sequence, "repeat", "歌单循环 · 按顺序播放，歌单结束后从头开始 · 点击切换播放模式",
         Mode::shuffle},
        {Mode::repeatOne, "repeat.1", "单曲循环 · 当前歌曲结束后重新播放 · 点击切换播放模式",
         Mode::playInOrder},
        {Mode::shuffle, "shuffle", "随机播放 · 随机播放歌单中的歌曲 · 点击切换播放模式",
         Mode::repeatOne},
        {Mode::playInOrder, "arrow.right",
         "顺序播放 · 按顺序播放，到歌单末尾停止 · 点击切换播放模式", Mode::sequence},
    };
    for (const auto& c : cases) {
        EXPECT_STREQ(Controls::info(c.mode).symbol, c.symbol);
        EXPECT_EQ(Controls::modeHelp(c.mode), c.help);
        EXPECT_EQ(Controls::nextMode(c.mode), c.next);
    }
}

TEST(MacPlaybackControls, PlayLabelAndSymbol) {
    const struct {
        Kind state;
        bool requested;
        const char* label;
        const char* symbol;
    } cases[] = {
        {Kind::loading, true, "取消加载", "pause.fill"},
        {Kind::loading, false, "播放", "play.fill"},
        {Kind::failed, false, "重试播放", "play.fill"},
        {Kind::failed, true, "重试播放", "pause.fill"},
        {Kind::paused, true, "暂停", "pause.fill"},
        {Kind::playing, true, "暂停", "pause.fill"},
        {Kind::idle, false, "播放", "play.fill"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Controls::playLabel(c.state, c.requested), c.label) << int(c.state);
        EXPECT_EQ(Controls::playSymbol(c.requested), c.symbol);
    }
}

TEST(MacPlaybackControls, SpeakerAndPercentage) {
    const struct {
        double volume;
        const char* symbol;
        long percent;
    } cases[] = {
        {0, "speaker.slash", 0},      {0.005, "speaker.wave.1", 1},
        {0.125, "speaker.wave.1", 13}, {0.49, "speaker.wave.1", 49},
        {0.5, "speaker.wave.2", 50},  {0.75, "speaker.wave.2", 75},
        {1, "speaker.wave.2", 100},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Controls::speakerSymbol(c.volume), c.symbol) << c.volume;
        EXPECT_EQ(Controls::volumePercent(c.volume), c.percent) << c.volume;
    }
}

}  // namespace
}  // namespace velto
