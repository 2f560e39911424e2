#include "ui/notch/NotchPlayerViewModel.h"

#include <algorithm>

#include "app/notch/NotchWindowController.h"
#include "playback/PlaybackService.h"
#include "ui/views/MacPlaybackControlsModel.h"
#include "ui/views/MacSeekSliderModel.h"
#include "ui/notch/NotchMeterModel.h"
#include "ui/style/MacTime.h"
#include "ui/views/TrackListActions.h"

namespace velto {

namespace {

using Kind = PlaybackService::StateKind;

QString text(const char* utf8) {
    return QString::fromUtf8(utf8);
}

}  // namespace

NotchPlayerViewModel::NotchPlayerViewModel(NotchWindowController& controller, PlaybackService& playback,
                                           TrackListActions* actions, MainQueue& mainQueue, QObject* parent)
    : QObject(parent),
      controller_(&controller),
      service_(&playback),
      actions_(actions),
      seek_(new MacSeekSliderModel(&playback, mainQueue, this)),
      meter_(new NotchMeterModel(mainQueue, this)) {
    seek_->setTitle(text("刘海播放进度"));

    connect(&controller, &NotchWindowController::expandedChanged, this, &NotchPlayerViewModel::refreshLayout);
    connect(&controller, &NotchWindowController::pinnedChanged, this, &NotchPlayerViewModel::refreshLayout);
    connect(&controller, &NotchWindowController::geometryChanged, this, &NotchPlayerViewModel::refreshLayout);
    connect(&controller, &NotchWindowController::obscuredChanged, meter_,
            [this] { meter_->setObscured(controller_->obscured()); });
    meter_->setObscured(controller.obscured());
    connect(&playback, &PlaybackService::queueChanged, this, [this] {
        current_ = service_ ? service_->queue().current() : std::nullopt;
        refreshTrack();
        refreshLayout();
    });
    connect(&playback, &PlaybackService::stateChanged, this, &NotchPlayerViewModel::refreshPlayback);
    connect(&playback, &PlaybackService::playbackRequestedChanged, this, &NotchPlayerViewModel::refreshPlayback);
    connect(&playback, &PlaybackService::elapsedChanged, this, [this] {
        // The elapsed text shows only in the expanded player; collapsed, it would make the
        // window draw once a second for nothing seen. Expanding brings it up to date.
        if (layout_.expanded) refreshTime();
        refreshFooter();
    });
    connect(&playback, &PlaybackService::durationChanged, this, &NotchPlayerViewModel::refreshTime);
    connect(&playback, &PlaybackService::volumeChanged, this, &NotchPlayerViewModel::refreshVolume);
    if (actions) {
        connect(actions, &TrackListActions::favoritesChanged, this, &NotchPlayerViewModel::refreshTrack);
        connect(actions, &TrackListActions::libraryChanged, this, &NotchPlayerViewModel::refreshTrack);
    }

    current_ = playback.queue().current();
    refreshLayout();
    refreshTrack();
    refreshPlayback();
    refreshTime();
    refreshVolume();
}

NotchPlayerViewModel::~NotchPlayerViewModel() = default;

QString NotchPlayerViewModel::time(double seconds) {
    return QString::fromStdString(macTime(seconds));
}

void NotchPlayerViewModel::setLyrics(std::optional<LyricsDocument> lyrics) {
    lyrics_ = std::move(lyrics);
    refreshFooter();
}

void NotchPlayerViewModel::setCover(const ArtworkImagePtr& image) {
    if (image == coverSource_) return;
    coverSource_ = image;
    cover_ = image ? QImage(image->pixels().data(), image->width(), image->height(),
                            static_cast<qsizetype>(image->stride()), QImage::Format_RGBA8888_Premultiplied)
                         .copy()
                   : QImage();
    emit coverChanged();
}

QString NotchPlayerViewModel::headerActionName() const {
    return layout_.expanded ? text("收起播放器") : text("展开播放器");
}

QString NotchPlayerViewModel::pinSymbol() const {
    return layout_.pinned ? QStringLiteral("pin.fill") : QStringLiteral("pin");
}

QString NotchPlayerViewModel::pinHelp() const {
    return layout_.pinned ? text("取消固定，移开指针后收起") : text("固定展开");
}

QString NotchPlayerViewModel::pinLabel() const {
    return layout_.pinned ? text("取消固定播放器") : text("固定播放器");
}

QString NotchPlayerViewModel::favoriteSymbol() const {
    return track_.favorite ? QStringLiteral("heart.fill") : QStringLiteral("heart");
}

QString NotchPlayerViewModel::favoriteHelp() const {
    return track_.favorite ? text("取消收藏当前歌曲") : text("收藏到个人歌单");
}

QString NotchPlayerViewModel::favoriteLabel() const {
    return track_.favorite ? text("取消收藏当前歌曲") : text("收藏当前歌曲");
}

QString NotchPlayerViewModel::playSymbol() const {
    return QString::fromStdString(MacPlaybackControlsModel::playSymbol(playback_.requested));
}

void NotchPlayerViewModel::hover(bool inside) {
    if (controller_) controller_->hover(inside);
}

void NotchPlayerViewModel::headerTapped() {
    if (controller_) controller_->toggleFromHeader();
}

void NotchPlayerViewModel::togglePin() {
    if (controller_) controller_->setPinned(!controller_->pinned());
}

void NotchPlayerViewModel::toggleFavorite() {
    if (!current_ || !actions_ || !track_.favoriteEnabled) return;
    if (actions_->isFavorite(*current_)) {
        actions_->removeFavorite(*current_);
    } else {
        actions_->collect(*current_);
    }
}

void NotchPlayerViewModel::previous() {
    if (service_ && current_) service_->previous();
}

void NotchPlayerViewModel::togglePlayback() {
    if (service_ && current_) service_->togglePlayback();
}

void NotchPlayerViewModel::next() {
    if (service_ && current_) service_->next();
}

void NotchPlayerViewModel::retry() {
    if (service_) service_->retryCurrent();
}

void NotchPlayerViewModel::setVolume(double volume) {
    if (service_) service_->setVolume(volume);
}

void NotchPlayerViewModel::openPanel() {
    if (controller_) controller_->openStatusPanel();
}

void NotchPlayerViewModel::sliderEditingChanged(bool editing) {
    if (controller_) controller_->sliderEditingChanged(editing);
}

void NotchPlayerViewModel::refreshLayout() {
    if (!controller_) return;
    const auto& geometry = controller_->geometry();
    Layout next;
    next.expanded = controller_->expanded();
    next.pinned = controller_->pinned();
    next.hasNotch = geometry.hasNotch();
    next.notchWidth = next.hasNotch ? geometry.hardwareWidth : 0;
    next.headerHeight = next.hasNotch ? std::max(geometry.safeTop, 32.0) : 36;
    next.topRadius = next.hasNotch ? 8 : 18;
    next.bottomRadius = next.expanded ? 28 : 18;
    const bool showsTitle = !next.expanded && current_ && !next.hasNotch;
    next.headerText = showsTitle ? QString::fromStdString(current_->title) : QStringLiteral("VELTO");
    next.headerTracking = showsTitle ? 0 : 3;
    const bool expanding = next.expanded && !layout_.expanded;
    assign(layout_, std::move(next), &NotchPlayerViewModel::layoutChanged);
    if (layout_.expanded != bool(timeWatch_))
        timeWatch_ = layout_.expanded && service_ ? service_->watchTime() : nullptr;
    if (expanding) refreshTime();
}

void NotchPlayerViewModel::refreshTrack() {
    TrackState next;
    next.hasTrack = current_.has_value();
    next.title = current_ ? QString::fromStdString(current_->title) : text("让音乐浮在手边");
    next.artist = current_ ? QString::fromStdString(current_->artist) : text("点击状态栏 Velto 搜索或选择歌曲");
    next.favorite = current_ && actions_ && actions_->isFavorite(*current_);
    next.favoriteEnabled = current_ && actions_ && actions_->hasLibrary();
    assign(track_, std::move(next), &NotchPlayerViewModel::trackChanged);
}

void NotchPlayerViewModel::refreshPlayback() {
    if (!service_) return;
    const Kind kind = service_->state().kind;
    PlaybackState next;
    next.loading = kind == Kind::loading;
    next.playing = kind == Kind::playing;
    next.failed = kind == Kind::failed;
    next.requested = service_->playbackRequested();
    next.label = QString::fromStdString(MacPlaybackControlsModel::playLabel(kind, next.requested));
    assign(playback_, std::move(next), &NotchPlayerViewModel::playbackChanged);
    refreshFooter();
}

void NotchPlayerViewModel::refreshTime() {
    if (!service_) return;
    assign(time_, TimeState{time(service_->elapsed()), time(service_->duration())}, &NotchPlayerViewModel::timeChanged);
}

void NotchPlayerViewModel::refreshFooter() {
    FooterState next;
    if (playback_.failed) {
        next.kind = QStringLiteral("retry");
    } else if (const auto index = lyrics_ && service_ ? lyrics_->currentIndex(service_->elapsed()) : std::nullopt;
               index && *index < lyrics_->lines().size()) {
        next.kind = QStringLiteral("lyric");
        next.line = QString::fromStdString(lyrics_->lines()[*index].text);
    } else {
        next.kind = QStringLiteral("volume");
    }
    assign(footer_, std::move(next), &NotchPlayerViewModel::footerChanged);
}

void NotchPlayerViewModel::refreshVolume() {
    if (service_) assign(volume_, service_->volume(), &NotchPlayerViewModel::volumeChanged);
}

}  // namespace velto
