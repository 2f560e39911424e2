#include "ui/views/MacCatalogFrameModel.h"

#include "app/MacCatalogDestination.h"

namespace velto {

void MacCatalogFrameModel::setDestination(const QVariant& destination) {
    // Places are never compared: each one given is a new place.
    destination_ = destination;
    ++generation_;
    emit destinationChanged();
}

QString MacCatalogFrameModel::title() const {
    if (!destination_.canConvert<MacCatalogDestination>()) return {};
    return QString::fromStdString(destination_.value<MacCatalogDestination>().name());
}

QString MacCatalogFrameModel::kind() const {
    if (!destination_.canConvert<MacCatalogDestination>()) return {};
    switch (destination_.value<MacCatalogDestination>().kind()) {
        case MacCatalogKind::artist: return QStringLiteral("artist");
        case MacCatalogKind::album: return QStringLiteral("album");
        case MacCatalogKind::playlist: return QStringLiteral("playlist");
    }
    return {};
}

}  // namespace velto

namespace velto {

QVariantList MacCatalogFrameModel::pageKeys() const {
    if (kind().isEmpty()) return {};
    return {generation_};
}

}  // namespace velto
