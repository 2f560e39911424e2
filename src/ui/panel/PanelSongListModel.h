#pragma once

#include <QAbstractListModel>
#include <QPointer>
#include <string>
#include <vector>

#include "sources/model/Track.h"
#include "ui/artwork/MacArtworkLoader.h"

namespace velto {

// The status panel's song rows, keyed by track key. A new list is applied as removals and
// insertions of the rows whose keys came or went (so the view can animate them) and as changes
// of the rows whose state moved; the rows of unchanged songs stay untouched.
class PanelSongListModel : public QAbstractListModel {
    Q_OBJECT
    Q_PROPERTY(int count READ count NOTIFY countChanged)
    Q_PROPERTY(velto::MacArtworkLoader* artworkLoader READ artworkLoader CONSTANT)

  public:
    struct Row {
        Track track;
        bool wasRemoved = false;
        bool favorite = false;
        bool current = false;
        bool libraryOpen = false;
        // Track::isPlayable, read where the row is made: the view never reads a song's record.
        bool released = true;
        bool operator==(const Row&) const = default;
    };

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
        WasRemovedRole,
        RemovedLabelRole,
    };

    explicit PanelSongListModel(MacArtworkLoader* artwork, QObject* parent = nullptr);

    void setRows(std::vector<Row> rows);
    const std::vector<Row>& rows() const { return rows_; }
    int count() const { return int(rows_.size()); }
    MacArtworkLoader* artworkLoader() const { return artwork_; }

    int rowCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QHash<int, QByteArray> roleNames() const override;

  signals:
    void countChanged();

  private:
    bool applyByKey(std::vector<Row>& rows);

    QPointer<MacArtworkLoader> artwork_;
    std::vector<Row> rows_;
};

}  // namespace velto
