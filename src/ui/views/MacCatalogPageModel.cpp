#include "ui/views/MacCatalogPageModel.h"

#include "foundation/Log.h"

namespace velto {

namespace {
QString text(const std::string& value) { return QString::fromStdString(value); }
}  // namespace

MacCatalogPageModel::MacCatalogPageModel(QObject* parent) : QObject(parent) {}

void MacCatalogPageModel::setServices(MacCatalogServices* services) {
    if (built_ || services == services_) return;  // a page keeps what it was built with
    services_ = services;
    emit servicesChanged();
}

void MacCatalogPageModel::setDestination(const QVariant& destination) {
    if (built_) return;
    destination_ = destination;
    emit destinationChanged();
}

void MacCatalogPageModel::componentComplete() {
    if (!services_ || !destination_.canConvert<MacCatalogDestination>()) {
        Log::error("catalog", "a catalog page was made without services or destination");
        return;
    }
    trackList_ = new MacTrackListModel(services_->playback(), services_->actions(), this);
    trackList_->setArtworkLoader(services_->artwork());
    connect(trackList_, &MacTrackListModel::countChanged, this,
            &MacCatalogPageModel::playEnabledChanged);
    if (!build(destination_.value<MacCatalogDestination>())) {
        Log::error("catalog", "a catalog page was given a destination of another kind");
        return;
    }
    built_ = true;
    emit builtChanged();
    refresh();
}

void MacCatalogPageModel::play() {
    if (!trackList_ || trackList_->count() == 0 || !services_ || !services_->actions()) return;
    const std::vector<Track> tracks = trackList_->tracks();
    services_->actions()->play(tracks, 0);
}

void MacCatalogPageModel::setTracks(ListedTracks tracks) {
    if (trackList_ && trackList_->listedTracks() != tracks) trackList_->setTracks(std::move(tracks));
}

void MacCatalogPageModel::setHeader(const std::string& name,
                                    const std::optional<std::string>& imageURL,
                                    const std::string& subtitle) {
    assign(name_, text(name), &MacCatalogPageModel::nameChanged);
    assign(imageURL_, text(imageURL.value_or("")), &MacCatalogPageModel::imageURLChanged);
    assign(subtitle_, text(subtitle), &MacCatalogPageModel::subtitleChanged);
}

void MacCatalogPageModel::setError(const std::optional<std::string>& error) {
    assign(error_, text(error.value_or("")), &MacCatalogPageModel::errorChanged);
}

void MacCatalogPageModel::setLoading(bool loading) {
    assign(isLoading_, loading, &MacCatalogPageModel::isLoadingChanged);
}

void MacCatalogPageModel::setContent(const QString& content) {
    assign(content_, content, &MacCatalogPageModel::contentChanged);
}

}  // namespace velto
