#include "foundation/Cancellation.h"
#include "platform/QueuePlayer.h"
#include "playback/PlaybackFailureDiagnostics.h"
#include "playback/PlaybackService.h"
#include "playback/PlaybackServiceCommon.h"

// The preferred quality, the quality a source reports it delivered, and the reload of the
// playing song in place when the preference changes.

namespace velto {

using namespace playback_service;

void PlaybackService::setPreferredQuality(Quality quality,
                                          std::function<void(QualityChange)> done) {
    auto report = [done](QualityChange change) {
        if (done) done(std::move(change));
    };
    if (quality == preferredQuality_) return report(QualityChange::unchanged());
    assignPreferredQuality(quality);
    discardUpcoming(true, true);
    activeURLResolutionTask_.cancel();
    activeURLResolutionTask_ = {};
    auto track = queue_.current();
    if (!track) return report(QualityChange::deferred());

    recoveryGate_ = {recoveryGate_.generation + 1, false};
    const auto generation = recoveryGate_.generation;
    cancelBufferingTimeout();
    catchUpElapsed();
    const double rememberedElapsed = elapsed_;
    const State rememberedState = state_;
    const auto rememberedRevision = intentRevision_;
    setState({StateKind::loading, {}});

    activeURLResolutionTask_ = resolve(
        *track, quality, false,
        [this, generation, quality, rememberedElapsed, rememberedState, rememberedRevision,
         musicID = track->musicID(), report](TaskResult<Resolved>& result) {
            auto current = queue_.current();
            bool stale =
                generation != recoveryGate_.generation || !current || current->musicID() != musicID;
            if (stale) return report(QualityChange::deferred());
            activeURLResolutionTask_ = {};

            if (result.ok()) {
                const Resolved& resolved = result.value();
                recordActualQuality(resolved.reportedQuality);
                currentMediaHost_ = hostOf(resolved.url);
                mark("url_ready", musicID);
                auto item = std::make_shared<PlayerItem>(resolved.url, preferredForwardBuffer);
                player_.removeAllItems();
                player_.insert(item);
                installItem(item, generation);
                if (rememberedElapsed > 0) {
                    player_.seek(rememberedElapsed, [](bool) {});
                    setElapsed(rememberedElapsed);
                } else {
                    setElapsed(0);
                }
                if (playbackRequested_) {
                    player_.play();
                    synchronizePlaybackState();
                } else {
                    player_.pause();
                    setState({StateKind::paused, {}});
                }
                prefetchUpcomingTrackIfNeeded();
                updateNowPlaying();
                return report(QualityChange::reloaded(quality));
            }

            // The old item keeps playing at the old quality; put the state back.
            bool cancelled = isCancellation(result.error());
            std::string message =
                cancelled ? std::string()
                          : PlaybackFailureDiagnostics::message(result.error(), qualityFallback);
            if (intentRevision_ == rememberedRevision)
                setState(rememberedState);
            else
                setState({playbackRequested_ ? StateKind::loading : StateKind::paused, {}});
            if (auto item = player_.currentItem()) {
                installItem(item, generation);
                // Its failure during the reload belonged to the old generation and was dropped.
                if (item->status() == PlayerItem::Status::failed) {
                    failedItem_.reset();
                    handlePlaybackFailure(
                        item, generation,
                        item->errorMessage().empty() ? playbackFallback : item->errorMessage(),
                        true);
                }
            }
            if (state_.kind == StateKind::loading) {
                // Nothing may stay "loading" without something under way to end it.
                auto item = player_.currentItem();
                if (!item) {
                    if (cancelled) {
                        setPlaybackRequested(false);
                        setState({StateKind::paused, {}});
                    } else {
                        setState(State::failed(message));
                    }
                } else if (playbackRequested_ &&
                           player_.timeControlStatus() == QueuePlayer::TimeControlStatus::paused) {
                    player_.play();
                }
            }
            synchronizePlaybackState();
            updateNowPlaying();
            if (cancelled) return report(QualityChange::deferred());
            return report(QualityChange::failed(message));
        });
}

void PlaybackService::assignPreferredQuality(Quality quality) {
    bool changed = quality != preferredQuality_;
    preferredQuality_ = quality;
    defaults_.setString(qualityKey, std::string(velto::rawValue(quality)));
    if (changed) emit preferredQualityChanged();
}

void PlaybackService::recordActualQuality(const std::optional<Quality>& quality) {
    if (!quality) return;
    setLastActualQuality(*quality);
    defaults_.setString(lastQualityKey, std::string(velto::rawValue(*quality)));
}

}  // namespace velto
