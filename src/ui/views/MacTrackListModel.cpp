#include "ui/views/MacTrackListModel.h"

namespace velto {

namespace {
QString text(const std::string& value) { return QString::fromStdString(value); }
}  // namespace

MacTrackListModel::MacTrackListModel(PlaybackService* playback, TrackListActions* actions,
                                     QObject* parent)
    : QAbstractListModel(parent), playback_(playback), actions_(actions) {
    if (playback_) {
        connect(playback_, &PlaybackService::queueChanged, this, &MacTrackListModel::followQueue);
        followQueue();
    }
    if (actions_) {
        auto hearts = [this] {
            if (count() > 0)
                emit dataChanged(index(0), index(count() - 1),
                                 {HeartSymbolRole, HeartTooltipRole, FavoriteEnabledRole});
        };
        connect(actions_, &TrackListActions::favoritesChanged, this, hearts);
        connect(actions_, &TrackListActions::libraryChanged, this, hearts);
    }
}

std::optional<std::string> MacTrackListModel::badge(MusicSource source, bool released) {
    if (!released) return "已下架";
    if (!isEnabled(source)) return "不可用";
    return std::nullopt;
}

void MacTrackListModel::setArtworkLoader(MacArtworkLoader* loader) {
    if (loader == artworkLoader_) return;
    artworkLoader_ = loader;
    emit artworkLoaderChanged();
}

void MacTrackListModel::setTracks(ListedTracks tracks) {
    beginResetModel();
    listed_ = std::move(tracks);
    rows_.clear();
    rowsByID_.clear();
    rows_.reserve(listed_.tracks.size());
    for (size_t i = 0; i < listed_.tracks.size(); ++i) {
        const Track& track = listed_.tracks[i];
        const bool released = listed_.released[i];
        rows_.push_back({released && isEnabled(track.source), badge(track.source, released)});
        rowsByID_[track.musicID()].push_back(int(i));
    }
    endResetModel();
    emit countChanged();
}

void MacTrackListModel::followQueue() {
    auto current = playback_->queue().current();
    std::optional<std::string> id = current ? std::optional(current->musicID()) : std::nullopt;
    if (id == currentID_) return;
    auto previous = std::exchange(currentID_, id);
    announceRows(previous, {CurrentRole});
    announceRows(currentID_, {CurrentRole});
}

void MacTrackListModel::announceRows(const std::optional<std::string>& musicID,
                                     const QList<int>& roles) {
    if (!musicID) return;
    auto found = rowsByID_.find(*musicID);
    if (found == rowsByID_.end()) return;
    for (int row : found->second) emit dataChanged(index(row), index(row), roles);
}

bool MacTrackListModel::isFavorite(const Track& track) const {
    return actions_ && actions_->isFavorite(track);
}

int MacTrackListModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : count();
}

QVariant MacTrackListModel::rowText(int role, const Track& track, bool favorite, bool playable) {
    switch (role) {
    case TitleRole:
        return text(track.title);
    case MetaRole:
        return text(track.artist + " · " + std::string(displayName(track.source)));
    case HeartSymbolRole:
        return favorite ? QStringLiteral("heart.fill") : QStringLiteral("heart");
    case HeartTooltipRole:
        return text((favorite ? "取消收藏 " : "收藏 ") + track.title);
    case AccessibleNameRole:
        return text("播放 " + track.title + "，" + track.artist);
    case AccessibleHintRole:
        return playable ? QString() : QStringLiteral("该歌曲当前不可播放");
    default:
        return {};
    }
}

QVariant MacTrackListModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= count()) return {};
    const Track& track = listed_.tracks[size_t(index.row())];
    const Row& row = rows_[size_t(index.row())];
    switch (role) {
    case TitleRole:
    case MetaRole:
    case HeartSymbolRole:
    case HeartTooltipRole:
    case AccessibleNameRole:
    case AccessibleHintRole:
        return rowText(role, track, isFavorite(track), row.playable);
    case PlayableRole:
        return row.playable;
    case BadgeRole:
        return row.badge ? text(*row.badge) : QString();
    case FavoriteEnabledRole:
        return actions_ && actions_->hasLibrary();
    case CurrentRole:
        return currentID_ && *currentID_ == track.musicID();
    case MusicIDRole:
        return text(track.musicID());
    case TrackRole:
        return QVariant::fromValue(track);
    default:
        return {};
    }
}

QHash<int, QByteArray> MacTrackListModel::roleNames() const { return songRoleNames(); }

QHash<int, QByteArray> MacTrackListModel::songRoleNames() {
    return {{TitleRole, "title"},
            {MetaRole, "meta"},
            {PlayableRole, "playable"},
            {BadgeRole, "badge"},
            {HeartSymbolRole, "heartSymbol"},
            {HeartTooltipRole, "heartTooltip"},
            {FavoriteEnabledRole, "favoriteEnabled"},
            {AccessibleNameRole, "accessibleName"},
            {AccessibleHintRole, "accessibleHint"},
            {CurrentRole, "isCurrent"},
            {MusicIDRole, "musicID"},
            {TrackRole, "track"}};
}

void MacTrackListModel::activate(int row) {
    if (row < 0 || row >= count() || !rows_[size_t(row)].playable || !actions_) return;
    // A copy: playing may reload the lists this model shows.
    const std::vector<Track> tracks = listed_.tracks;
    actions_->play(tracks, size_t(row));
}

void MacTrackListModel::toggleFavorite(int row) {
    if (row < 0 || row >= count() || !actions_ || !actions_->hasLibrary()) return;
    if (rows_[size_t(row)].badge) return;
    const Track track = listed_.tracks[size_t(row)];
    if (actions_->isFavorite(track))
        actions_->removeFavorite(track);
    else
        actions_->collect(track);
}

}  // namespace velto
