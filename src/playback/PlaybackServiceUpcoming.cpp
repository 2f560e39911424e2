#include <algorithm>
#include <limits>

#include "platform/QueuePlayer.h"
#include "playback/PlaybackService.h"
#include "playback/PlaybackServiceCommon.h"

// The next song: its address resolved ahead of time, its item queued behind the current one,
// and the hand-over to it when its turn comes.

namespace velto {

using namespace playback_service;

bool PlaybackService::handOverToPreparedItem(const Track& track, bool autoplay) {
    if (!preparedNext_ || !upcomingResolution_ || upcomingResolution_->id != preparedNext_->id)
        return false;
    if (upcomingResolution_->musicID != track.musicID() ||
        upcomingResolution_->quality != preferredQuality_)
        return false;
    auto item = preparedNext_->item;
    auto queued = player_.items();
    if (item->status() == PlayerItem::Status::failed ||
        std::find(queued.begin(), queued.end(), item) == queued.end())
        return false;

    auto reported =
        upcomingResolution_->result ? upcomingResolution_->result->reportedQuality : std::nullopt;
    auto url = upcomingResolution_->result ? upcomingResolution_->result->url : item->uri();
    // The prepared item is becoming the current one: it is no longer "next".
    preparedNext_.reset();
    upcomingResolution_.reset();

    // Whatever still plays before it (the ended or skipped song) goes; the player then continues
    // with the prepared item, without a gap when the previous one ended by itself.
    while (player_.currentItem() && player_.currentItem() != item)
        player_.remove(player_.currentItem());

    if (lastTransitionTiming_) lastTransitionTiming_->reusedPreparedItem = true;
    markStage("resolved", &TransitionTiming::resolutionMilliseconds);
    recordActualQuality(reported);
    currentMediaHost_ = hostOf(url);
    mark("url_ready", track.musicID());
    installItem(item, recoveryGate_.generation);
    if (autoplay)
        player_.play();
    else
        player_.pause();
    setState({StateKind::loading, {}});
    if (item->status() == PlayerItem::Status::readyToPlay) {
        // Opened while it waited behind the song before; ready the moment it takes over.
        noteItemReady();
    }
    synchronizePlaybackState();
    prefetchUpcomingTrackIfNeeded();
    updateNowPlaying();
    return true;
}

void PlaybackService::discardUpcoming(bool cancelResolution, bool removePreparedItem) {
    if (cancelResolution && upcomingResolution_) {
        upcomingResolution_->task.cancel();
        upcomingResolution_.reset();
    }
    if (removePreparedItem && preparedNext_) {
        if (player_.currentItem() != preparedNext_->item) player_.remove(preparedNext_->item);
        preparedNext_.reset();
    }
}

bool PlaybackService::playsReadyItem() const {
    return currentItem_ && player_.currentItem() == currentItem_ &&
           currentItem_->status() == PlayerItem::Status::readyToPlay &&
           !activeURLResolutionTask_.valid();
}

double PlaybackService::nextPrefetchAt(double position) const {
    const double at = duration_ - prefetchLeadSeconds;
    if (duration_ > 0 && position < at) return at;
    // Past the moment (a seek into the song's last stretch) with the next song not yet asked
    // for: due at once.
    const bool pending = !upcomingResolution_ && playbackMode_ != PlaybackMode::repeatOne &&
                         playsReadyItem() && queue_.peekNext(wraps());
    return pending ? position : std::numeric_limits<double>::infinity();
}

void PlaybackService::prefetchUpcomingTrackIfNeeded() {
    auto next = playbackMode_ == PlaybackMode::repeatOne ? std::nullopt : queue_.peekNext(wraps());
    if (!next) {
        discardUpcoming(true, true);
        return;
    }
    const auto musicID = next->musicID();
    if (upcomingResolution_) {
        if (upcomingResolution_->musicID == musicID &&
            upcomingResolution_->quality == preferredQuality_) {
            if (upcomingResolution_->result && !preparedNext_) prepareUpcomingItem();
            return;
        }
        discardUpcoming(true, true);
    }
    // Due only once the current song plays from a ready item, near enough to its end.
    if (!playsReadyItem()) return;
    if (duration_ > 0 && duration_ - elapsed_ > prefetchLeadSeconds) return;

    UpcomingResolution upcoming;
    upcoming.id = nextUpcomingID_++;
    upcoming.musicID = musicID;
    upcoming.quality = preferredQuality_;
    auto id = upcoming.id;
    upcomingResolution_ = std::move(upcoming);
    upcomingResolution_->task =
        resolve(*next, preferredQuality_, false,
                [this, id](TaskResult<Resolved>& result) { finishPrefetch(id, result); });
}

void PlaybackService::finishPrefetch(std::uint64_t id, TaskResult<Resolved>& result) {
    if (adoptedPrefetch_ && adoptedPrefetch_->id == id) {
        auto load = std::move(adoptedPrefetch_->finish);
        adoptedPrefetch_.reset();
        load(result);
        return;
    }
    if (!upcomingResolution_ || upcomingResolution_->id != id) return;
    if (!result.ok()) {
        // Not tried again for this song: its own load will report the failure.
        upcomingResolution_->failed = true;
        return;
    }
    upcomingResolution_->result = result.value();
    prepareUpcomingItem();
}

void PlaybackService::prepareUpcomingItem() {
    if (!upcomingResolution_ || !upcomingResolution_->result || preparedNext_) return;
    if (!currentItem_ || player_.currentItem() != currentItem_) return;
    auto item =
        std::make_shared<PlayerItem>(upcomingResolution_->result->url, preferredForwardBuffer);
    // Behind the current item, so the player moves on to it without a gap; a next song changed
    // in the last seconds, after the player handed over, follows after a short gap instead.
    if (!player_.insert(item, currentItem_)) return;
    preparedNext_ = PreparedNext{upcomingResolution_->id, item};
}

}  // namespace velto
