#pragma once

#include <QMetaType>
#include <QString>
#include <QVariant>
#include <QVariantList>
#include <vector>

#include "sources/model/Track.h"

namespace velto {

// A song as QML sees it: readable fields, and the whole Track kept inside so that a row handed
// back to the model (play, collect) is the very song it was made from.
class TrackValue {
    Q_GADGET
    Q_PROPERTY(QString musicID READ musicID CONSTANT)
    Q_PROPERTY(QString source READ source CONSTANT)
    Q_PROPERTY(QString songmid READ songmid CONSTANT)
    Q_PROPERTY(QString title READ title CONSTANT)
    Q_PROPERTY(QString artist READ artist CONSTANT)
    Q_PROPERTY(QString album READ album CONSTANT)
    Q_PROPERTY(QString interval READ interval CONSTANT)
    Q_PROPERTY(bool hasInterval READ hasInterval CONSTANT)

  public:
    TrackValue() = default;
    explicit TrackValue(Track track) : track_(std::move(track)) {}

    const Track& track() const { return track_; }
    QString musicID() const;
    QString source() const;
    QString songmid() const { return QString::fromStdString(track_.songmid); }
    QString title() const { return QString::fromStdString(track_.title); }
    QString artist() const { return QString::fromStdString(track_.artist); }
    QString album() const { return QString::fromStdString(track_.album); }
    QString interval() const { return QString::fromStdString(track_.interval.value_or("")); }
    bool hasInterval() const { return track_.interval.has_value(); }

    bool operator==(const TrackValue& other) const { return track_ == other.track_; }

    static QVariantList toList(const std::vector<Track>& tracks);
    // Entries that are not TrackValues are skipped.
    static std::vector<Track> fromList(const QVariantList& values);
    static std::optional<Track> fromVariant(const QVariant& value);

  private:
    Track track_;
};

}  // namespace velto

Q_DECLARE_METATYPE(velto::TrackValue)
