#pragma once

#include <QAbstractListModel>
#include <QPointer>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "app/ListedTracks.h"
#include "playback/PlaybackService.h"
#include "sources/model/Track.h"
#include "ui/artwork/MacArtworkModel.h"
#include "ui/views/TrackListActions.h"

namespace velto {

// The rows of a compact track list: texts, badge, heart and the current-song emphasis, which
// follows the playback queue (only the rows whose state changed are announced).
class MacTrackListModel : public QAbstractListModel {
    Q_OBJECT
    Q_PROPERTY(int count READ count NOTIFY countChanged)
    Q_PROPERTY(velto::MacArtworkLoader* artworkLoader READ artworkLoader WRITE setArtworkLoader
                   NOTIFY artworkLoaderChanged)

public:
    enum Role {
        TitleRole = Qt::UserRole + 1,
        MetaRole,
        PlayableRole,
        BadgeRole,
        HeartSymbolRole,
        HeartTooltipRole,
        FavoriteEnabledRole,
        AccessibleNameRole,
        AccessibleHintRole,
        CurrentRole,
        MusicIDRole,
        TrackRole,
    };

    // Either may be null: no playback gives no current row, no actions a list that only shows.
    MacTrackListModel(PlaybackService* playback, TrackListActions* actions,
                      QObject* parent = nullptr);

    // The rows use what was read of each song where the list was made: drawing them reads no
    // song's payload.
    void setTracks(ListedTracks tracks);
    const ListedTracks& listedTracks() const { return listed_; }
    const std::vector<Track>& tracks() const { return listed_.tracks; }
    int count() const { return int(listed_.tracks.size()); }
    // Where the rows' covers come from; none shows placeholders.
    MacArtworkLoader* artworkLoader() const { return artworkLoader_; }
    void setArtworkLoader(MacArtworkLoader* loader);

    // "已下架" for a withdrawn song (before a disabled source), "不可用" for a disabled source;
    // `released` is the song's Track::isPlayable, read where its list was made.
    static std::optional<std::string> badge(MusicSource source, bool released);
    // A song row's texts, shared by every list that draws song rows.
    static QVariant rowText(int role, const Track& track, bool favorite, bool playable);
    static QHash<int, QByteArray> songRoleNames();

    int rowCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QHash<int, QByteArray> roleNames() const override;

    // A tap on a row: the whole list plays from that row.
    Q_INVOKABLE void activate(int row);
    // The heart: asks the application again at the tap whether the song is a favourite.
    Q_INVOKABLE void toggleFavorite(int row);

signals:
    void countChanged();
    void artworkLoaderChanged();

private:
    struct Row {
        bool playable = false;
        std::optional<std::string> badge;
    };

    void followQueue();
    void announceRows(const std::optional<std::string>& musicID, const QList<int>& roles);
    bool isFavorite(const Track& track) const;

    QPointer<PlaybackService> playback_;
    QPointer<TrackListActions> actions_;
    QPointer<MacArtworkLoader> artworkLoader_;
    ListedTracks listed_;
    std::vector<Row> rows_;
    std::unordered_map<std::string, std::vector<int>> rowsByID_;
    std::optional<std::string> currentID_;
};

}  // namespace velto
