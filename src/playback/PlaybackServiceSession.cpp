#include <algorithm>
#include <chrono>

#include "playback/PersistedSession.h"
#include "playback/PlaybackService.h"
#include "playback/PlaybackServiceCommon.h"
#include "sources/model/MusicSource.h"

// Filling and editing the queue, and the saved session: written while playing, on pause, at each
// song change and when the service ends, restored at start.

namespace velto {

using namespace playback_service;

void PlaybackService::replaceQueue(const std::vector<Track>& tracks,
                                   std::optional<std::ptrdiff_t> startingAt, bool autoplay,
                                   std::optional<std::string> activePlaylistID,
                                   const std::set<std::string>& preservingPlayedMusicIDs,
                                   std::function<void()> done) {
    auto selection = PlaybackQueue::playableSelection(tracks, startingAt);
    if (!selection) {
        if (done) done();
        return;
    }
    activePlaylistID_ = std::move(activePlaylistID);
    consecutiveAutoplayFailures_ = 0;
    discardUpcoming(true, true);
    std::ptrdiff_t start = 0;
    if (startingAt && selection->index) {
        start = std::ptrdiff_t(*selection->index);
    } else if (playbackMode_ == PlaybackMode::shuffle && selection->tracks.size() >= 2) {
        std::ptrdiff_t count = std::ptrdiff_t(selection->tracks.size());
        start = randomIndex_(0, count);
        if (start < 0 || start >= count) start = 0;
    }
    queue_.replace(selection->tracks, start, preservingPlayedMusicIDs);
    announceQueue();
    loadCurrent(autoplay, false, std::move(done));
}

void PlaybackService::restoreLastSessionIfNeeded(std::function<void()> done) {
    auto finish = [done] {
        if (done) done();
    };
    if (queue_.current()) return finish();
    auto data = defaults_.dataValue(sessionKey);
    if (!data) return finish();
    auto session = PersistedSession::decode(*data);
    if (!session) return finish();
    if (!isEnabled(session->track.source) || !session->track.isPlayable()) return finish();
    double age = std::chrono::duration<double>(mainQueue_.wallNow() - session->savedAt).count();
    if (age >= sessionMaxAgeSeconds) return finish();

    // Whatever the user does while the song loads wins over the restore.
    auto revision = std::make_shared<std::int64_t>(-1);
    auto generation = std::make_shared<std::int64_t>(-1);
    auto overtaken = [this, revision, generation] {
        return *revision != intentRevision_ || *generation != recoveryGate_.generation;
    };
    // A place within the song's last second, or in a song of unknown length, is not kept.
    const double savedElapsed = session->elapsed;
    auto restoredPlace = [savedElapsed](double duration) {
        return savedElapsed > 1.0 && duration > 0
                   ? std::min(std::max(duration - 1.0, 0.0), savedElapsed)
                   : 0.0;
    };
    loadStartsAt_ = restoredPlace(session->track.durationSeconds().value_or(0));
    restoring_ = true;
    replaceQueue({session->track}, std::nullopt, false, std::nullopt, {},
                 [this, overtaken, restoredPlace, finish] {
                     if (overtaken() || state_.kind == StateKind::failed) return finish();
                     auto settle = [this, overtaken, finish] {
                         // The stream may have failed for good while the seek ran.
                         if (!overtaken() && state_.kind != StateKind::failed)
                             setState({StateKind::paused, {}});
                         finish();
                     };
                     if (const double place = restoredPlace(duration_); place > 0)
                         seek(place, settle);
                     else
                         settle();
                 });
    loadStartsAt_ = 0;
    restoring_ = false;
    // The load began inside replaceQueue; its counters are the restore's own.
    *revision = intentRevision_;
    *generation = recoveryGate_.generation;
}

void PlaybackService::persistSession(bool force) {
    auto track = queue_.current();
    if (!track) return;
    const auto at = mainQueue_.uptime();
    if (!force && lastSessionSaveAt_ &&
        std::chrono::duration<double>(at - *lastSessionSaveAt_).count() < sessionSaveInterval)
        return;
    // The saves along a song are not forced to the disk: a power cut may take the last of them
    // back, a few seconds of position, and never another setting. A pause and a new song, whose
    // loss would bring back another place or another song, go to the disk.
    auto song = track->musicID();
    auto durability =
        force || song != lastSessionSong_ ? Durability::forced : Durability::deferred;
    // A save that cannot be made is not tried again before its next turn either.
    lastSessionSaveAt_ = at;
    try {
        defaults_.setData(sessionKey,
                          PersistedSession{*track, elapsed_, mainQueue_.wallNow()}.encode(),
                          durability);
        lastSessionSong_ = std::move(song);
    } catch (const std::exception&) {
        // A song that cannot be coded is simply not saved.
    }
}

void PlaybackService::onTrackAddedToPlaylist(const Track& track, const std::string& playlistID) {
    if (!isEnabled(track.source)) return;
    if (!activePlaylistID_ || *activePlaylistID_ != playlistID) return;
    auto tracks = queue_.tracks();
    auto id = track.musicID();
    if (std::any_of(tracks.begin(), tracks.end(),
                    [&](const Track& t) { return t.musicID() == id; }))
        return;
    auto index = queue_.currentIndex();
    if (playbackMode_ == PlaybackMode::shuffle && index)
        queue_.insert(track, std::ptrdiff_t(*index) + 1, true);
    else
        queue_.insert(track, std::ptrdiff_t(tracks.size()), false);
    announceQueue();
    prefetchUpcomingTrackIfNeeded();
}

void PlaybackService::onTrackRemovedFromPlaylist(const Track& track,
                                                 const std::string& playlistID) {
    if (!activePlaylistID_ || *activePlaylistID_ != playlistID) return;
    auto tracks = queue_.tracks();
    auto id = track.musicID();
    auto it = std::find_if(tracks.begin(), tracks.end(),
                           [&](const Track& t) { return t.musicID() == id; });
    if (it == tracks.end()) return;
    auto position = std::size_t(it - tracks.begin());
    if (queue_.currentIndex() == position) return;
    queue_.remove(std::ptrdiff_t(position));
    announceQueue();
    prefetchUpcomingTrackIfNeeded();
}

void PlaybackService::updateTrackMetadata(const Track& track) {
    queue_.updateTrack(track);
    announceQueue();
    updateNowPlaying();
}

}  // namespace velto
