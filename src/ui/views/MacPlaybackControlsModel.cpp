#include "ui/views/MacPlaybackControlsModel.h"

#include <array>
#include <cmath>

namespace velto {

namespace {

// Indexed by the mode's case index.
constexpr std::array<MacPlaybackControlsModel::ModeInfo, 4> modes{{
    {"repeat", "歌单循环", "按顺序播放，歌单结束后从头开始"},
    {"repeat.1", "单曲循环", "当前歌曲结束后重新播放"},
    {"shuffle", "随机播放", "随机播放歌单中的歌曲"},
    {"arrow.right", "顺序播放", "按顺序播放，到歌单末尾停止"},
}};
constexpr std::array<int, 4> nextModeIndex{2, 3, 1, 0};

QString text(const std::string& value) { return QString::fromStdString(value); }

}  // namespace

MacPlaybackControlsModel::MacPlaybackControlsModel(PlaybackService* playback, QObject* parent)
    : QObject(parent), playback_(playback) {
    if (!playback_) return;
    transportEnabled_ = playback_->queue().current().has_value();
    connect(playback_, &PlaybackService::playbackModeChanged, this,
            &MacPlaybackControlsModel::modeChanged);
    connect(playback_, &PlaybackService::stateChanged, this, &MacPlaybackControlsModel::playChanged);
    connect(playback_, &PlaybackService::playbackRequestedChanged, this,
            &MacPlaybackControlsModel::playChanged);
    connect(playback_, &PlaybackService::volumeChanged, this,
            &MacPlaybackControlsModel::volumeChanged);
    connect(playback_, &PlaybackService::queueChanged, this, [this] {
        const bool enabled = playback_->queue().current().has_value();
        if (enabled == transportEnabled_) return;
        transportEnabled_ = enabled;
        emit transportEnabledChanged();
    });
}

MacPlaybackControlsModel::Mode MacPlaybackControlsModel::nextMode(Mode mode) {
    return Mode(nextModeIndex[size_t(mode)]);
}

const MacPlaybackControlsModel::ModeInfo& MacPlaybackControlsModel::info(Mode mode) {
    return modes[size_t(mode)];
}

std::string MacPlaybackControlsModel::modeHelp(Mode mode) {
    const auto& m = info(mode);
    return std::string(m.name) + " · " + m.description + " · 点击切换播放模式";
}

std::string MacPlaybackControlsModel::playLabel(Kind state, bool playbackRequested) {
    if (state == Kind::failed) return "重试播放";
    if (state == Kind::loading && playbackRequested) return "取消加载";
    return playbackRequested ? "暂停" : "播放";
}

std::string MacPlaybackControlsModel::playSymbol(bool playbackRequested) {
    return playbackRequested ? "pause.fill" : "play.fill";
}

std::string MacPlaybackControlsModel::speakerSymbol(double volume) {
    if (volume == 0) return "speaker.slash";
    return volume < 0.5 ? "speaker.wave.1" : "speaker.wave.2";
}

long MacPlaybackControlsModel::volumePercent(double volume) {
    return std::lround(volume * 100);
}

QString MacPlaybackControlsModel::modeSymbol() const {
    return playback_ ? info(playback_->playbackMode()).symbol : QString();
}
QString MacPlaybackControlsModel::modeName() const {
    return playback_ ? QString::fromUtf8(info(playback_->playbackMode()).name) : QString();
}
QString MacPlaybackControlsModel::modeHelp() const {
    return playback_ ? text(modeHelp(playback_->playbackMode())) : QString();
}
QString MacPlaybackControlsModel::playSymbol() const {
    return text(playSymbol(playback_ && playback_->playbackRequested()));
}
QString MacPlaybackControlsModel::playLabel() const {
    if (!playback_) return text(playLabel(Kind::idle, false));
    return text(playLabel(playback_->state().kind, playback_->playbackRequested()));
}
bool MacPlaybackControlsModel::transportEnabled() const { return transportEnabled_; }
double MacPlaybackControlsModel::volume() const { return playback_ ? playback_->volume() : 0; }
QString MacPlaybackControlsModel::speakerSymbol() const { return text(speakerSymbol(volume())); }
QString MacPlaybackControlsModel::volumeHelp() const {
    return QStringLiteral("音量：%1%").arg(volumePercent(volume()));
}

void MacPlaybackControlsModel::cycleMode() {
    if (playback_) playback_->setPlaybackMode(nextMode(playback_->playbackMode()));
}
void MacPlaybackControlsModel::previous() {
    if (playback_ && transportEnabled_) playback_->previous();
}
void MacPlaybackControlsModel::togglePlayback() {
    if (playback_ && transportEnabled_) playback_->togglePlayback();
}
void MacPlaybackControlsModel::next() {
    if (playback_ && transportEnabled_) playback_->next();
}
void MacPlaybackControlsModel::setVolume(double volume) {
    if (playback_) playback_->setVolume(volume);
}

}  // namespace velto
