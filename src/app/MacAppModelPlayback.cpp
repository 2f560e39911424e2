#include "app/MacAppModel.h"

#include <QUrl>

#include "app/NotchController.h"
#include "artwork/ArtworkService.h"
#include "foundation/Log.h"
#include "foundation/files/UserDefaults.h"
#include "library/details/TrackDetailRefreshCoordinator.h"
#include "library/store/LibraryStore.h"
#include "playback/LRCParser.h"
#include "playback/PlaybackService.h"
#include "sources/model/SourceRuntime.h"

namespace velto {

// The current song's cover-and-lyrics load: both start at once; the cover is applied first,
// then the lyrics, whichever arrives first.
struct MacAppModel::SongLoad {
    std::stop_source stop;
    Track song;
    std::string key;
    bool coverHandled = false;
    std::optional<TaskResult<LyricInfo>> lyrics;
    ArtworkRequest cover;
    TrackDetailRefreshCoordinator::Handle refresh;

    bool cancelled() const { return stop.stop_requested(); }
    void cancel() {
        stop.request_stop();
        cover.cancel();
        refresh.cancel();
    }
};

MacAppModel::~MacAppModel() {
    if (detailTask_) detailTask_->cancel();
    lifetime_.request_stop();
    // The playback service's signals reach this object; it goes before the rest of the graph.
    playback_->disconnect(this);
}

void MacAppModel::saveForEnd() {
    playback_->saveForEnd();
    if (environment_.defaults) environment_.defaults->flush();
}

void MacAppModel::observePlayback() {
    connect(playback_.get(), &PlaybackService::queueChanged, this, &MacAppModel::scheduleSynchronize);
    connect(playback_.get(), &PlaybackService::stateChanged, this, [this] {
        scheduleSynchronize();
        announcePlaybackActionTitle();
    });
    connect(playback_.get(), &PlaybackService::playbackRequestedChanged, this,
            &MacAppModel::announcePlaybackActionTitle);
    // The stored song keeps the length it was heard to have, for its lists and its next play.
    connect(playback_.get(), &PlaybackService::songLengthLearned, this, [this](const Track& track) {
        if (!library_) return;
        try {
            library_->updateTrack(track);
        } catch (const std::exception& error) {
            // Nothing is lost: the length is heard again the next time the song plays to its end.
            Log::error("app", std::string("song length not saved: ") + error.what());
            return;
        }
        reloadLibrary();
    });
}

// Several changes in one turn make one run, which reads the values as they are by then.
void MacAppModel::scheduleSynchronize() {
    if (synchronizeScheduled_) return;
    synchronizeScheduled_ = true;
    std::weak_ptr<int> alive = alive_;
    environment_.mainQueue->post([this, alive] {
        if (alive.expired()) return;
        synchronizeScheduled_ = false;
        synchronizePlayback();
    });
}

void MacAppModel::synchronizePlayback() {
    const auto& current = playback_->queue().current();
    const std::optional<Track> song = current ? std::optional<Track>(*current) : std::nullopt;
    const std::optional<std::string> key = song ? std::optional(song->musicID()) : std::nullopt;
    if (key != observedTrackID_) {
        observedTrackID_ = key;
        recordedTrackID_.reset();
        setArtwork(std::nullopt);
        setLyrics(std::nullopt);
        playback_->updateNowPlayingArtwork(std::nullopt);
        if (detailTask_) detailTask_->cancel();
        if (song) startSongLoad(*song, *key);
    }
    if (playback_->state().kind == PlaybackService::StateKind::playing && song) {
        recordRecentPlay(*song, *key);
    }
}

void MacAppModel::startSongLoad(const Track& song, const std::string& key) {
    auto load = std::make_shared<SongLoad>();
    load->song = song;
    load->key = key;
    detailTask_ = load;
    runner_.run(
        alive_, load->stop.get_token(),
        [runtime = runtime_, song](std::stop_token stop) { return runtime->lyric(song, stop); },
        [this, load](TaskResult<LyricInfo>& result) {
            load->lyrics.emplace(std::move(result));
            if (load->coverHandled) finishSongLoad(load);
        });
    if (!artworkService_) {
        coverArrived(load, std::nullopt);
        return;
    }
    askCover(load);
}

void MacAppModel::askCover(const std::shared_ptr<SongLoad>& load) {
    std::weak_ptr<int> alive = alive_;
    load->cover = artworkService_->image(
        load->song, environment_.clock(), [this, alive, load](TaskResult<ArtworkImagePtr> result) {
            if (alive.expired()) return;
            std::optional<Cover> cover;
            if (result.ok() && result.value()) {
                const auto file = artworkService_->cacheURL(load->key);
                cover = Cover{result.value(),
                              QUrl::fromLocalFile(QString::fromStdString(file.string()))
                                  .toString()
                                  .toStdString()};
            }
            coverArrived(load, std::move(cover));
        });
}

// A cover read after its deadline: the song still playing gets it in place of the placeholder.
void MacAppModel::lateCoverArrived(const std::string& key) {
    if (artwork_ || !detailTask_ || detailTask_->cancelled() || observedTrackID_ != key) return;
    if (detailTask_->key == key && detailTask_->coverHandled) askCover(detailTask_);
}

void MacAppModel::coverArrived(const std::shared_ptr<SongLoad>& load, std::optional<Cover> cover) {
    if (cover && !load->cancelled() && observedTrackID_ == load->key) {
        setArtwork(cover);
        publishCoverFile(load, *cover);
    }
    // Asked again for a cover that came late, the rest of the song's load is done already.
    if (load->coverHandled) return;
    load->coverHandled = true;
    if (load->lyrics) finishSongLoad(load);
}

// Now Playing takes the cover as the address of its cache file, which the artwork service
// writes after answering; the address is handed on once the file is there. The write goes
// through the service's own disk writer, so no trim of the folder meets it half done.
void MacAppModel::publishCoverFile(const std::shared_ptr<SongLoad>& load, const Cover& cover) {
    std::weak_ptr<int> alive = alive_;
    artworkService_->persist(
        cover.image, load->key, environment_.clock(), ArtworkService::Existing::keep,
        [this, alive, load, url = cover.fileURL](bool stored) {
            if (alive.expired() || !stored || load->cancelled()) return;
            if (observedTrackID_ != load->key) return;
            playback_->updateNowPlayingArtwork(url);
        });
}

void MacAppModel::finishSongLoad(const std::shared_ptr<SongLoad>& load) {
    auto& lyrics = *load->lyrics;
    if (lyrics.ok() && !load->cancelled() && observedTrackID_ == load->key) {
        const auto& info = lyrics.value();
        setLyrics(LRCParser::document(info.lyric, info.tlyric.value_or("")));
    }
    refreshDetails(load);
}

void MacAppModel::refreshDetails(const std::shared_ptr<SongLoad>& load) {
    if (!library_ || load->cancelled()) return;
    std::weak_ptr<int> alive = alive_;
    load->refresh = detailRefresh_->refresh(
        load->song, library_, false, environment_.clock(),
        [this, alive, load](TaskResult<TrackDetailRefreshOutcome> result) {
            if (alive.expired() || load->cancelled() || !result.ok()) return;
            const auto& outcome = result.value();
            if (outcome.kind != TrackDetailRefreshOutcome::Kind::refreshed) return;
            const auto& current = playback_->queue().current();
            if (!current || current->musicID() != load->key) return;
            playback_->updateTrackMetadata(outcome.track);
            reloadLibrary();
        });
}

}  // namespace velto
