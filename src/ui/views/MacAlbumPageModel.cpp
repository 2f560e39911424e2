#include "ui/views/MacAlbumPageModel.h"

namespace velto {

MacAlbumPageModel::~MacAlbumPageModel() { firstLoad_.request_stop(); }

std::string MacAlbumPageModel::subtitle(const AlbumSummary& album) {
    std::string text = album.artist;
    if (album.releaseDate && !album.releaseDate->empty()) text += " · " + *album.releaseDate;
    if (album.trackCount && *album.trackCount >= 0) text += " · " + std::to_string(*album.trackCount) + " 首";
    return text;
}

bool MacAlbumPageModel::build(const MacCatalogDestination& destination) {
    const AlbumSummary* album = destination.albumSummary();
    if (!album) return false;
    detail_ = new AlbumDetailViewModel(*album, services()->runtime(), services()->runner(), this);
    const auto update = [this] { refresh(); };
    connect(detail_, &AlbumDetailViewModel::albumChanged, this, update);
    connect(detail_, &AlbumDetailViewModel::tracksChanged, this, update);
    connect(detail_, &AlbumDetailViewModel::isLoadingChanged, this, update);
    connect(detail_, &AlbumDetailViewModel::errorMessageChanged, this, update);
    return true;
}

void MacAlbumPageModel::appear() {
    if (!detail_ || loaded_) return;
    loaded_ = true;
    detail_->load(firstLoad_.get_token());
}

void MacAlbumPageModel::retry() {
    if (detail_) detail_->load();
}

void MacAlbumPageModel::refresh() {
    const AlbumSummary& album = detail_->album();
    setHeader(album.name, album.imageURL, subtitle(album));
    setTracks(detail_->listedTracks());
    setLoading(detail_->isLoading());
    setError(detail_->errorMessage());
    if (detail_->isLoading())
        setContent(QStringLiteral("loading"));
    else
        setContent(detail_->tracks().empty() ? QStringLiteral("empty") : QStringLiteral("tracks"));
}

}  // namespace velto
