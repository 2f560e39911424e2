#pragma once

#include <QMetaType>
#include <QString>
#include <QVariantList>
#include <optional>
#include <vector>

#include "sources/model/SourceRecords.h"

namespace velto {

// An album as QML sees it, keeping the whole record for the page it opens.
class AlbumValue {
    Q_GADGET
    Q_PROPERTY(QString stableID READ stableID CONSTANT)
    Q_PROPERTY(QString id READ id CONSTANT)
    Q_PROPERTY(QString name READ name CONSTANT)
    Q_PROPERTY(QString artist READ artist CONSTANT)
    Q_PROPERTY(QString imageURL READ imageURL CONSTANT)
    Q_PROPERTY(QString releaseDate READ releaseDate CONSTANT)
    Q_PROPERTY(int trackCount READ trackCount CONSTANT)

  public:
    AlbumValue() = default;
    explicit AlbumValue(AlbumSummary album) : album_(std::move(album)) {}

    const AlbumSummary& album() const { return album_; }
    QString stableID() const { return QString::fromStdString(album_.stableID()); }
    QString id() const { return QString::fromStdString(album_.id); }
    QString name() const { return QString::fromStdString(album_.name); }
    QString artist() const { return QString::fromStdString(album_.artist); }
    QString imageURL() const { return QString::fromStdString(album_.imageURL.value_or("")); }
    QString releaseDate() const { return QString::fromStdString(album_.releaseDate.value_or("")); }
    // -1 when unknown.
    int trackCount() const { return album_.trackCount ? int(*album_.trackCount) : -1; }

    bool operator==(const AlbumValue& other) const { return album_ == other.album_; }

    static QVariantList toList(const std::vector<AlbumSummary>& albums);
    static std::optional<AlbumSummary> fromVariant(const QVariant& value);

  private:
    AlbumSummary album_;
};

}  // namespace velto

Q_DECLARE_METATYPE(velto::AlbumValue)
