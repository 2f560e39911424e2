#include "app/AlbumValue.h"

#include <QVariant>

namespace velto {

QVariantList AlbumValue::toList(const std::vector<AlbumSummary>& albums) {
    QVariantList list;
    list.reserve(qsizetype(albums.size()));
    for (const auto& album : albums) list.push_back(QVariant::fromValue(AlbumValue(album)));
    return list;
}

std::optional<AlbumSummary> AlbumValue::fromVariant(const QVariant& value) {
    if (value.metaType() != QMetaType::fromType<AlbumValue>()) return std::nullopt;
    return value.value<AlbumValue>().album();
}

}  // namespace velto
