#include "ui/panel/PanelSongListModel.h"

#include <algorithm>
#include <unordered_map>
#include <unordered_set>

#include "ui/views/MacTrackListModel.h"

namespace velto {

namespace {

QString text(const std::string& value) { return QString::fromStdString(value); }

bool uniqueKeys(const std::vector<PanelSongListModel::Row>& rows,
                std::unordered_set<std::string>& keys) {
    keys.reserve(rows.size());
    for (const auto& row : rows)
        if (!keys.insert(row.track.musicID()).second) return false;
    return true;
}

}  // namespace

PanelSongListModel::PanelSongListModel(MacArtworkLoader* artwork, QObject* parent)
    : QAbstractListModel(parent), artwork_(artwork) {}

void PanelSongListModel::setRows(std::vector<Row> rows) {
    const int before = count();
    if (!applyByKey(rows)) {
        beginResetModel();
        rows_ = std::move(rows);
        endResetModel();
    }
    if (count() != before) emit countChanged();
}

// False when the change is not a matter of removals and insertions of a few rows (a new list, a
// reordering, or keys that repeat): the caller then resets.
bool PanelSongListModel::applyByKey(std::vector<Row>& rows) {
    std::unordered_set<std::string> oldKeys, newKeys;
    if (!uniqueKeys(rows_, oldKeys) || !uniqueKeys(rows, newKeys)) return false;
    // The songs both lists keep must keep their order.
    std::unordered_map<std::string, std::size_t> newPosition;
    for (std::size_t i = 0; i < rows.size(); ++i) newPosition[rows[i].track.musicID()] = i;
    // A list that keeps none of the old songs is a new list, not a row-by-row change.
    if (std::none_of(rows_.begin(), rows_.end(),
                     [&](const Row& row) { return newKeys.count(row.track.musicID()) > 0; }))
        return false;
    std::size_t last = 0;
    bool first = true;
    for (const auto& row : rows_) {
        auto found = newPosition.find(row.track.musicID());
        if (found == newPosition.end()) continue;
        if (!first && found->second < last) return false;
        last = found->second;
        first = false;
    }
    for (int i = count() - 1; i >= 0; --i) {
        if (newKeys.count(rows_[std::size_t(i)].track.musicID())) continue;
        beginRemoveRows({}, i, i);
        rows_.erase(rows_.begin() + i);
        endRemoveRows();
    }
    for (std::size_t i = 0; i < rows.size(); ++i) {
        if (i < rows_.size() && rows_[i].track.musicID() == rows[i].track.musicID()) {
            if (!(rows_[i] == rows[i])) {
                rows_[i] = std::move(rows[i]);
                emit dataChanged(index(int(i)), index(int(i)));
            }
            continue;
        }
        beginInsertRows({}, int(i), int(i));
        rows_.insert(rows_.begin() + std::ptrdiff_t(i), std::move(rows[i]));
        endInsertRows();
    }
    return true;
}

// The song roles share their numbers, names and texts with the plain track list's.
static_assert(int(PanelSongListModel::TitleRole) == int(MacTrackListModel::TitleRole));
static_assert(int(PanelSongListModel::MetaRole) == int(MacTrackListModel::MetaRole));
static_assert(int(PanelSongListModel::PlayableRole) == int(MacTrackListModel::PlayableRole));
static_assert(int(PanelSongListModel::BadgeRole) == int(MacTrackListModel::BadgeRole));
static_assert(int(PanelSongListModel::HeartSymbolRole) == int(MacTrackListModel::HeartSymbolRole));
static_assert(int(PanelSongListModel::HeartTooltipRole) == int(MacTrackListModel::HeartTooltipRole));
static_assert(int(PanelSongListModel::FavoriteEnabledRole) == int(MacTrackListModel::FavoriteEnabledRole));
static_assert(int(PanelSongListModel::AccessibleNameRole) == int(MacTrackListModel::AccessibleNameRole));
static_assert(int(PanelSongListModel::AccessibleHintRole) == int(MacTrackListModel::AccessibleHintRole));
static_assert(int(PanelSongListModel::CurrentRole) == int(MacTrackListModel::CurrentRole));
static_assert(int(PanelSongListModel::MusicIDRole) == int(MacTrackListModel::MusicIDRole));
static_assert(int(PanelSongListModel::TrackRole) == int(MacTrackListModel::TrackRole));

int PanelSongListModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : count();
}

QVariant PanelSongListModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= count()) return {};
    const Row& row = rows_[std::size_t(index.row())];
    const Track& track = row.track;
    const bool playable = row.released && isEnabled(track.source);
    switch (role) {
    case TitleRole:
    case MetaRole:
    case HeartSymbolRole:
    case HeartTooltipRole:
    case AccessibleNameRole:
    case AccessibleHintRole:
        return MacTrackListModel::rowText(role, track, row.favorite, playable);
    case PlayableRole:
        return playable && !row.wasRemoved;
    case BadgeRole:
        return text(MacTrackListModel::badge(track.source, row.released).value_or(""));
    case FavoriteEnabledRole:
        return row.libraryOpen;
    case CurrentRole:
        return row.current;
    case MusicIDRole:
        return text(track.musicID());
    case TrackRole:
        return QVariant::fromValue(track);
    case WasRemovedRole:
        return row.wasRemoved;
    case RemovedLabelRole:
        return text(track.title + "已移出个人歌单");
    default:
        return {};
    }
}

QHash<int, QByteArray> PanelSongListModel::roleNames() const {
    auto names = MacTrackListModel::songRoleNames();
    names.insert(WasRemovedRole, "wasRemoved");
    names.insert(RemovedLabelRole, "removedLabel");
    return names;
}

}  // namespace velto
