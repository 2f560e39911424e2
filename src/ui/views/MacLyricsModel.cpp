#include "ui/views/MacLyricsModel.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <utility>

#include "ui/style/MacTime.h"

namespace velto {

MacLyricsModel::MacLyricsModel(PlaybackService* playback, MainQueue& mainQueue, QObject* parent)
    : QAbstractListModel(parent), playback_(playback), mainQueue_(mainQueue) {
    if (playback_)
        connect(playback_, &PlaybackService::elapsedChanged, this,
                &MacLyricsModel::followPlayback);
}

MacLyricsModel::~MacLyricsModel() { *alive_ = false; }

void MacLyricsModel::setDocument(LyricsDocument document) {
    beginResetModel();
    document_ = std::move(document);
    // Paired once here, not per row drawn.
    translations_.clear();
    translations_.reserve(document_.lines().size());
    for (const auto& line : document_.lines())
        translations_.push_back(document_.translation(line, translationTolerance));
    endResetModel();
    emit documentChanged();

    std::optional<std::string> firstID;
    if (!document_.lines().empty()) firstID = document_.lines().front().id;
    const bool newFirstLine = !hasDocument_ || firstID != firstLineID_;
    const bool firstAppearance = !hasDocument_;
    hasDocument_ = true;
    firstLineID_ = firstID;
    updateCurrent(!firstAppearance);
    if (!newFirstLine || !firstID) return;
    jumpToCurrentSoon();
}

void MacLyricsModel::jumpToCurrentSoon() {
    mainQueue_.post([this, alive = alive_] {
        if (!*alive || !follows_ || !current_) return;
        scrollTo(*current_, false);
    });
}

void MacLyricsModel::viewAppeared() {
    // Not through setFollows: switching on there scrolls at once, with animation.
    if (!std::exchange(follows_, true)) emit followsChanged();
    jumpToCurrentSoon();
}

QString MacLyricsModel::lineCountText() const {
    return QStringLiteral("%1 行歌词").arg(qulonglong(document_.lines().size()));
}

void MacLyricsModel::setFollows(bool follows) {
    if (follows == follows_) return;
    follows_ = follows;
    emit followsChanged();
    if (follows_ && current_) scrollTo(*current_, !reduceMotion_);
}

void MacLyricsModel::setReduceMotion(bool value) {
    if (value == reduceMotion_) return;
    reduceMotion_ = value;
    emit reduceMotionChanged();
}

void MacLyricsModel::followPlayback() { updateCurrent(true); }

void MacLyricsModel::updateCurrent(bool allowScroll) {
    auto index = playback_ ? document_.currentIndex(playback_->elapsed()) : std::nullopt;
    if (index == current_) return;
    auto previous = std::exchange(current_, index);
    if (previous && *previous < document_.lines().size())
        emit dataChanged(this->index(int(*previous)), this->index(int(*previous)), {CurrentRole});
    if (current_)
        emit dataChanged(this->index(int(*current_)), this->index(int(*current_)), {CurrentRole});
    emit currentIndexChanged();
    if (allowScroll && follows_ && current_) scrollTo(*current_, !reduceMotion_);
}

double MacLyricsModel::nextLineTime(double elapsed) const {
    const auto& lines = document_.lines();
    const double t = std::isnan(elapsed) || elapsed < 0 ? 0 : elapsed;
    auto after = std::upper_bound(lines.begin(), lines.end(), t,
                                  [](double value, const LyricLine& line) { return value < line.time; });
    return after == lines.end() ? std::numeric_limits<double>::infinity() : after->time;
}

void MacLyricsModel::scrollTo(std::size_t index, bool animated) {
    emit scrollRequested(int(index), animated);
}

int MacLyricsModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : int(document_.lines().size());
}

QVariant MacLyricsModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || size_t(index.row()) >= document_.lines().size()) return {};
    const auto row = size_t(index.row());
    const LyricLine& line = document_.lines()[row];
    switch (role) {
    case TextRole:
        return QString::fromStdString(line.text);
    case TranslationRole:
        return translations_[row] ? QString::fromStdString(*translations_[row]) : QString();
    case HasTranslationRole:
        return translations_[row] && !translations_[row]->empty();
    case TooltipRole:
        return QString::fromStdString("跳转到 " + macTime(line.time));
    case TimeRole:
        return line.time;
    case CurrentRole:
        return current_ == row;
    default:
        return {};
    }
}

QHash<int, QByteArray> MacLyricsModel::roleNames() const {
    return {{TextRole, "lineText"},
            {TranslationRole, "translation"},
            {TooltipRole, "tooltip"},
            {TimeRole, "time"},
            {CurrentRole, "isCurrent"},
            {HasTranslationRole, "hasTranslation"}};
}

void MacLyricsModel::seekTo(int row) {
    if (!playback_ || row < 0 || size_t(row) >= document_.lines().size()) return;
    playback_->seek(document_.lines()[size_t(row)].time);
}

}  // namespace velto
