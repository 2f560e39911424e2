#include "ui/artwork/MacArtworkModel.h"

#include <QUrl>

namespace velto {

MacArtworkModel::MacArtworkModel(QObject* parent) : QObject(parent) {}

MacArtworkModel::~MacArtworkModel() {
    stop(cover_);
    stop(picture_);
}

void MacArtworkModel::setLoader(MacArtworkLoader* loader) {
    if (loader == loader_) return;
    disconnect(lateCovers_);
    loader_ = loader;
    if (loader_)
        lateCovers_ = connect(loader_, &MacArtworkLoader::coverCameLate, this,
                              &MacArtworkModel::coverCameLate);
    emit loaderChanged();
    restartTrack();
    restartAddress();
}

QVariant MacArtworkModel::trackValue() const {
    return track_ ? QVariant::fromValue(*track_) : QVariant();
}

void MacArtworkModel::setTrackValue(const QVariant& value) {
    setTrack(value.canConvert<Track>() ? std::optional(value.value<Track>()) : std::nullopt);
}

void MacArtworkModel::setTrack(std::optional<Track> track) {
    if (track == track_) return;
    std::optional<std::string> key;
    if (track) key = track->musicID();
    track_ = std::move(track);
    emit trackChanged();
    // The key alone decides: new details of the same song keep its picture.
    if (key == key_) return;
    key_ = std::move(key);
    restartTrack();
}

void MacArtworkModel::setURL(const QString& url) {
    if (url == url_) return;
    url_ = url;
    emit urlChanged();
    restartAddress();
}

QImage MacArtworkModel::image() const {
    return cover_.image.isNull() ? picture_.image : cover_.image;
}

void MacArtworkModel::componentComplete() {
    creating_ = false;
    restartTrack();
    restartAddress();
}

void MacArtworkModel::stop(Load& load) {
    ++load.generation;
    if (auto cancel = std::exchange(load.cancel, nullptr)) cancel();
}

void MacArtworkModel::answer(Load& load, std::uint64_t generation, std::optional<QImage> image) {
    if (generation != load.generation) return;
    load.cancel = nullptr;
    QImage next = image ? *image : QImage();
    if (next.isNull() && load.image.isNull()) return;
    load.image = std::move(next);
    emit imageChanged();
}

void MacArtworkModel::coverCameLate(const QString& key) {
    if (cover_.image.isNull() && key_ && *key_ == key.toStdString()) restartTrack();
}

void MacArtworkModel::restartTrack() {
    stop(cover_);
    const bool had = !cover_.image.isNull();
    cover_.image = QImage();
    if (had) emit imageChanged();
    if (creating_ || !track_ || !loader_ || !loader_->loadsTracks()) return;
    const auto generation = cover_.generation;
    cover_.cancel = loader_->loadTrack(
        *track_, [this, generation](std::optional<QImage> image) {
            answer(cover_, generation, std::move(image));
        });
}

void MacArtworkModel::restartAddress() {
    stop(picture_);
    const bool had = !picture_.image.isNull();
    picture_.image = QImage();
    if (had) emit imageChanged();
    const QUrl parsed(url_, QUrl::StrictMode);
    if (creating_ || url_.isEmpty() || !parsed.isValid() || parsed.scheme().isEmpty() ||
        !loader_ || !loader_->loadsAddresses())
        return;
    const auto generation = picture_.generation;
    picture_.cancel = loader_->loadAddress(
        url_.toStdString(), [this, generation](std::optional<QImage> image) {
            answer(picture_, generation, std::move(image));
        });
}

}  // namespace velto
