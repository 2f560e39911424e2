#include "app/AlbumDetailViewModel.h"

#include "app/AlbumValue.h"
#include "app/ErrorText.h"
#include "app/TrackListUtilities.h"
#include "app/TrackValue.h"

namespace velto {

AlbumDetailViewModel::AlbumDetailViewModel(AlbumSummary album,
                                           std::shared_ptr<SourceRuntime> runtime,
                                           AppTaskRunner runner, QObject* parent)
    : QObject(parent),
      requestedAlbum_(album),
      album_(std::move(album)),
      runtime_(std::move(runtime)),
      runner_(std::move(runner)) {}

AlbumDetailViewModel::~AlbumDetailViewModel() { lifetime_.request_stop(); }

void AlbumDetailViewModel::load(std::stop_token stop) {
    const auto g = ++generation_;
    emit generationChanged();
    setIsLoading(true);
    setErrorMessage(std::nullopt);
    runner_.run(
        alive_, stop,
        [runtime = runtime_, album = requestedAlbum_](std::stop_token token) {
            auto detail = runtime->albumTracks(album, token);
            return std::pair(std::move(detail.album),
                             ListedTracks(TrackListUtilities::deduplicated(detail.tracks)));
        },
        [this, g](TaskResult<std::pair<AlbumSummary, ListedTracks>>& result) {
            if (generation_ != g) return;
            if (!result.ok()) {
                setIsLoading(false);
                if (!isCancellation(result.error())) {
                    setErrorMessage(ErrorText::describe(result.error(), "album"));
                }
                return;
            }
            auto& [album, tracks] = result.value();
            setAlbum(std::move(album));
            setTracks(std::move(tracks));
            setIsLoading(false);
        });
}

QVariant AlbumDetailViewModel::albumValue() const { return QVariant::fromValue(AlbumValue(album_)); }

QVariantList AlbumDetailViewModel::trackValues() const { return TrackValue::toList(tracks_.tracks); }

QString AlbumDetailViewModel::errorMessageText() const {
    return errorMessage_ ? QString::fromStdString(*errorMessage_) : QString();
}

void AlbumDetailViewModel::setAlbum(AlbumSummary album) {
    if (album == album_) return;
    album_ = std::move(album);
    emit albumChanged();
}

void AlbumDetailViewModel::setTracks(ListedTracks tracks) {
    if (tracks == tracks_) return;
    tracks_ = std::move(tracks);
    emit tracksChanged();
}

void AlbumDetailViewModel::setIsLoading(bool value) {
    if (value == isLoading_) return;
    isLoading_ = value;
    emit isLoadingChanged();
}

void AlbumDetailViewModel::setErrorMessage(std::optional<std::string> message) {
    if (message == errorMessage_) return;
    errorMessage_ = std::move(message);
    emit errorMessageChanged();
}

}  // namespace velto
