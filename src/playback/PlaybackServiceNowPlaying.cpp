#include <cctype>

#include "platform/NowPlayingCenter.h"
#include "platform/PlayerItem.h"
#include "platform/QueuePlayer.h"
#include "playback/PlaybackService.h"

// What the desktop shows of the playing song.

namespace velto {

namespace {

// Desktops load covers by URL; a bare path becomes a file URL.
std::string artworkURL(const std::string& text) {
    if (text.find("://") != std::string::npos) return text;
    static constexpr char digits[] = "0123456789ABCDEF";
    std::string url = "file://";
    for (unsigned char c : text) {
        if (std::isalnum(c) || std::string_view("/-._~").find(char(c)) != std::string_view::npos) {
            url += char(c);
        } else {
            url += '%';
            url += digits[c >> 4];
            url += digits[c & 0x0F];
        }
    }
    return url;
}

std::optional<std::string> payloadPicture(const Track& track) {
    auto payload = track.rawPayload();
    auto found = payload->find("picUrl");
    if (found == payload->end() || !found->is_string()) return std::nullopt;
    auto text = found->get<std::string>();
    if (text.empty()) return std::nullopt;
    return text;
}

}  // namespace

void PlaybackService::updateNowPlayingArtwork(std::optional<std::string> artwork) {
    if (artwork && artwork->empty()) artwork.reset();
    nowPlayingArtwork_ = std::move(artwork);
    updateNowPlaying();
}

void PlaybackService::updateNowPlaying() {
    if (!nowPlaying_) return;
    catchUpElapsed();
    publishNowPlaying();
}

// The clock's ticks may be seconds apart: what goes out or is saved between them takes the
// position as it is now, so that the desktop does not take the lag for a seek, and a pause or a
// wait for data keeps the place where the song stopped. An item still opening knows no place.
void PlaybackService::catchUpElapsed() {
    const auto item = player_.currentItem();
    if (!item || item != currentItem_) return;
    const auto status = player_.timeControlStatus();
    if (status == QueuePlayer::TimeControlStatus::playing ||
        (status == QueuePlayer::TimeControlStatus::waitingToPlayAtSpecifiedRate &&
         item->status() == PlayerItem::Status::readyToPlay))
        setElapsed(player_.currentTime());
}

void PlaybackService::publishNowPlaying() {
    if (!nowPlaying_) return;
    using PlaybackState = NowPlayingCenter::PlaybackState;
    PlaybackState playbackState = PlaybackState::stopped;
    switch (state_.kind) {
        case StateKind::playing:
            playbackState = PlaybackState::playing;
            break;
        case StateKind::loading:
            // A song on its way counts as playing only when the user asked for it.
            playbackState = playbackRequested_ ? PlaybackState::playing : PlaybackState::paused;
            break;
        case StateKind::paused:
            playbackState = PlaybackState::paused;
            break;
        case StateKind::failed:
            // Left for the next song in a moment: a wait, as in a load.
            if (movesOnByItself()) playbackState = PlaybackState::playing;
            break;
        case StateKind::idle:
            break;
    }
    nowPlaying_->setPlaybackState(playbackState);

    auto track = queue_.current();
    if (!track) {
        nowPlaying_->clearInfo();
        return;
    }
    NowPlayingCenter::Info info;
    info.trackId = track->musicID();
    info.title = track->title;
    info.artist = track->artist;
    info.album = track->album;
    if (duration_ > 0) info.duration = duration_;
    info.elapsed = elapsed_;
    info.rate = playbackRate_;
    info.waiting = (state_.kind == StateKind::loading && playbackRequested_) || movesOnByItself();
    if (nowPlayingArtwork_)
        info.artUrl = artworkURL(*nowPlayingArtwork_);
    else
        info.artUrl = payloadPicture(*track);
    nowPlaying_->setInfo(info);
}

}  // namespace velto
