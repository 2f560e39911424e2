#include "app/ArtistValue.h"

namespace velto {

std::optional<ArtistSummary> ArtistValue::fromVariant(const QVariant& value) {
    if (value.metaType() != QMetaType::fromType<ArtistValue>()) return std::nullopt;
    return value.value<ArtistValue>().artist();
}

}  // namespace velto
