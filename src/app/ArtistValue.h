#pragma once

#include <QMetaType>
#include <QString>
#include <QVariant>
#include <optional>

#include "sources/model/SourceRecords.h"

namespace velto {

// An artist as QML sees it.
class ArtistValue {
    Q_GADGET
    Q_PROPERTY(QString stableID READ stableID CONSTANT)
    Q_PROPERTY(QString id READ id CONSTANT)
    Q_PROPERTY(QString name READ name CONSTANT)
    Q_PROPERTY(QString imageURL READ imageURL CONSTANT)
    Q_PROPERTY(int songCount READ songCount CONSTANT)
    Q_PROPERTY(int albumCount READ albumCount CONSTANT)

  public:
    ArtistValue() = default;
    explicit ArtistValue(ArtistSummary artist) : artist_(std::move(artist)) {}

    const ArtistSummary& artist() const { return artist_; }
    QString stableID() const { return QString::fromStdString(artist_.stableID()); }
    QString id() const { return QString::fromStdString(artist_.id); }
    QString name() const { return QString::fromStdString(artist_.name); }
    QString imageURL() const { return QString::fromStdString(artist_.imageURL.value_or("")); }
    int songCount() const { return artist_.songCount ? int(*artist_.songCount) : -1; }
    int albumCount() const { return artist_.albumCount ? int(*artist_.albumCount) : -1; }

    bool operator==(const ArtistValue& other) const { return artist_ == other.artist_; }

    static std::optional<ArtistSummary> fromVariant(const QVariant& value);

  private:
    ArtistSummary artist_;
};

}  // namespace velto

Q_DECLARE_METATYPE(velto::ArtistValue)
