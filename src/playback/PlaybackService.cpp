#include "playback/PlaybackService.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>
#include <utility>

#include "foundation/Cancellation.h"
#include "foundation/Log.h"
#include "platform/NowPlayingCenter.h"
#include "platform/QueuePlayer.h"
#include "platform/RemoteCommandCenter.h"
#include "playback/LocalAudioScanner.h"
#include "playback/PerfLog.h"
#include "playback/PlaybackFailureDiagnostics.h"
#include "playback/PlaybackServiceCommon.h"
#include "sources/model/MusicSource.h"

namespace velto {

using namespace playback_service;

namespace {

constexpr const char* volumeKey = "macPlaybackVolume";
constexpr const char* modeKey = "playbackMode";
constexpr const char* qualityPolicyKey = "playbackQualityPolicyVersion";
constexpr const char* rateKey = "velto.playback.rate";

const char* const bufferingFallback = "缓冲超时，请检查网络后重试";

// Positions are kept at the player's time scale of 1/600 s.
double atTimeScale(double seconds) {
    return std::round(seconds * 600.0) / 600.0;
}

}  // namespace

const std::vector<PlaybackService::PlaybackMode> PlaybackService::allPlaybackModes = {
    PlaybackMode::sequence, PlaybackMode::repeatOne, PlaybackMode::shuffle,
    PlaybackMode::playInOrder};

std::string_view PlaybackService::rawValue(PlaybackMode mode) {
    switch (mode) {
        case PlaybackMode::sequence:
            return "listLoop";
        case PlaybackMode::repeatOne:
            return "repeatOne";
        case PlaybackMode::shuffle:
            return "shuffle";
        case PlaybackMode::playInOrder:
            return "playInOrder";
    }
    return "listLoop";
}

std::optional<PlaybackService::PlaybackMode> PlaybackService::playbackModeFromRaw(
    std::string_view raw) {
    for (auto mode : allPlaybackModes)
        if (rawValue(mode) == raw) return mode;
    return std::nullopt;
}

// --- Construction ------------------------------------------------------------------------------

PlaybackService::PlaybackService(QueuePlayer& player, PlaybackURLResolving& resolver,
                                 UserDefaults& defaults, MainQueue& mainQueue, WorkerPool& workers,
                                 NowPlayingCenter* nowPlaying, RemoteCommandCenter* remoteCommands,
                                 PlaybackQueue::RandomIndex randomIndex,
                                 MainQueue::Duration autoplaySkipDelay,
                                 MainQueue::Duration recoveryDelay,
                                 MainQueue::Duration bufferingTimeout, QObject* parent)
    : QObject(parent),
      player_(player),
      nowPlaying_(nowPlaying),
      remoteCommands_(remoteCommands),
      resolver_(resolver),
      defaults_(defaults),
      mainQueue_(mainQueue),
      executor_([&workers](std::function<void()> job) { workers.submit(std::move(job)); }),
      perfMarker_(
          [](std::string_view name, std::string_view detail) { PerfLog::mark(name, detail); }),
      autoplaySkipDelay_(autoplaySkipDelay),
      recoveryDelay_(recoveryDelay),
      bufferingTimeout_(bufferingTimeout),
      randomIndex_(randomIndex),
      queue_({}, std::nullopt, randomIndex) {
    // Volume: a stored number, else the player's own; never outside 0...1.
    double volume = defaults_.doubleValue(volumeKey).value_or(player_.volume());
    volume_ = std::isfinite(volume) ? std::clamp(volume, 0.0, 1.0) : 1.0;
    player_.setVolume(volume_);
    if (nowPlaying_) nowPlaying_->setVolume(volume_);

    auto mode = defaults_.stringValue(modeKey);
    playbackMode_ =
        mode ? playbackModeFromRaw(*mode).value_or(PlaybackMode::sequence) : PlaybackMode::sequence;

    // One-time move of every earlier preference to the best quality.
    if (defaults_.integerValue(qualityPolicyKey).value_or(0) < 1) {
        preferredQuality_ = Quality::master;
        defaults_.setString(qualityKey, std::string(velto::rawValue(Quality::master)));
        defaults_.setInteger(qualityPolicyKey, 1);
    } else {
        auto stored = defaults_.stringValue(qualityKey);
        preferredQuality_ =
            stored ? qualityFromRaw(*stored).value_or(Quality::master) : Quality::master;
    }

    double rate = defaults_.doubleValue(rateKey).value_or(0);
    playbackRate_ = rate > 0 ? float(std::clamp(rate, 0.5, 2.0)) : 1.0f;

    queue_.setShuffled(playbackMode_ == PlaybackMode::shuffle);
    announceQueue();

    installObservers();
    installRemoteCommands();
}

PlaybackService::~PlaybackService() {
    saveForEnd();
    *alive_ = false;
    if (remoteCommands_) remoteCommands_->setHandlers({});
    for (auto token : observerTokens_) player_.removeObserver(token);
    if (clockToken_) player_.removeObserver(*clockToken_);
    for (auto timer : timers_) mainQueue_.cancel(timer);
    if (bufferingTimeoutTask_) mainQueue_.cancel(*bufferingTimeoutTask_);
    activeURLResolutionTask_.cancel();
    if (upcomingResolution_) upcomingResolution_->task.cancel();
}

PlaybackService::TimeWatch PlaybackService::watchTime(NextChange nextChange) {
    const auto id = nextTimeWatcherID_++;
    if (!nextChange) nextChange = [](double elapsed) { return elapsed; };
    timeWatchers_.emplace(id, std::move(nextChange));
    const bool playing = player_.timeControlStatus() == QueuePlayer::TimeControlStatus::playing &&
                         player_.currentItem() && player_.currentItem() == currentItem_;
    const double position = playing ? player_.currentTime() : elapsed_;
    if (position == elapsed_)
        installClock(position);
    else
        setElapsed(position);  // plans the clock from there
    return std::shared_ptr<const void>(
        alive_.get(), [this, id, alive = std::weak_ptr<bool>(alive_)](const void*) {
            auto flag = alive.lock();
            if (!flag || !*flag) return;
            timeWatchers_.erase(id);
            installClock();
        });
}

void PlaybackService::installClock(std::optional<double> position) {
    if (!position) {
        const bool current = player_.currentItem() && player_.currentItem() == currentItem_;
        position = current && player_.timeControlStatus() == QueuePlayer::TimeControlStatus::playing
                       ? player_.currentTime()
                       : elapsed_;
    }
    if (clockToken_) player_.removeObserver(*clockToken_);
    clockToken_ = player_.addPeriodicTimeObserver(nextTickDelay(*position),
                                                  [this](double seconds) { clockTicked(seconds); });
}

MainQueue::Duration PlaybackService::nextTickDelay(double position) const {
    using Seconds = std::chrono::duration<double>;
    const double rate = playbackRate_ > 0 ? double(playbackRate_) : 1.0;
    // Positions move `rate` times as fast as the wall clock.
    const double fine = Seconds(fineClockInterval).count() * rate;
    // Watched, the ticks come at least once in a coarse interval, and each one serves the save
    // and the prefetch as well; unwatched, only these two call for a tick.
    std::vector<double> changes;
    if (timeWatched()) {
        for (const auto& [id, nextChange] : timeWatchers_) {
            const double change = nextChange(position);
            changes.push_back(std::isnan(change) ? position : change);
        }
    } else {
        changes = {nextSaveAt(position), nextPrefetchAt(position)};
    }
    const double longest =
        timeWatched() ? Seconds(coarseClockInterval).count() : sessionSaveInterval;
    const double first = *std::min_element(changes.begin(), changes.end());
    if (!std::isfinite(first)) return seconds(longest);
    double last = first;
    for (double change : changes)
        if (change <= first + fine) last = std::max(last, change);
    const double wait = std::min((last - position) / rate, longest);
    return std::max(seconds(wait) + clockLeeway, MainQueue::Duration(fineClockInterval));
}

double PlaybackService::nextSaveAt(double position) const {
    if (!queue_.current()) return std::numeric_limits<double>::infinity();
    if (!lastSessionSaveAt_) return position;
    const double due =
        sessionSaveInterval -
        std::chrono::duration<double>(mainQueue_.uptime() - *lastSessionSaveAt_).count();
    return position + std::max(due, 0.0) * (playbackRate_ > 0 ? double(playbackRate_) : 1.0);
}

void PlaybackService::clockTicked(double seconds) {
    if (player_.currentItem() && player_.currentItem() == currentItem_) {
        ticking_ = true;
        setElapsed(seconds);
        ticking_ = false;
    }
    refreshDuration();  // the player's estimate may have moved without the position
    synchronizePlaybackState();
    persistSession(false);
    publishNowPlaying();
    prefetchUpcomingTrackIfNeeded();
    // Each tick plans the next, from what was just saved and fetched.
    installClock(elapsed_);
}

void PlaybackService::installObservers() {
    installClock();
    observerTokens_.push_back(
        player_.addTimeControlStatusObserver([this](QueuePlayer::TimeControlStatus status) {
            // Playing again, the clock is planned from where it resumed.
            if (status == QueuePlayer::TimeControlStatus::playing) installClock();
            const auto before = state_.kind;
            synchronizePlaybackState();
            // A wait for the song's data begins or ends: the desktop's clock stands or runs.
            if (state_.kind != before) updateNowPlaying();
        }));
    observerTokens_.push_back(player_.addItemStatusObserver([this](const PlayerItemPtr& item) {
        if (!item) return;
        if (preparedNext_ && item == preparedNext_->item && item != currentItem_) {
            // A next item that cannot open is dropped; its song then loads the ordinary way.
            if (item->status() == PlayerItem::Status::failed) {
                player_.remove(item);
                preparedNext_.reset();
                // Spent, so that the load neither waits on nor prefetches it again.
                if (upcomingResolution_) {
                    upcomingResolution_->result.reset();
                    upcomingResolution_->failed = true;
                }
            }
            return;
        }
        if (item != currentItem_ || currentItemGeneration_ != recoveryGate_.generation) return;
        if (item->status() == PlayerItem::Status::readyToPlay) {
            noteItemReady();
            const auto before = state_.kind;
            synchronizePlaybackState();
            prefetchUpcomingTrackIfNeeded();
            // Its data came after the player told the wait: the sound begins here.
            if (state_.kind != before) updateNowPlaying();
        } else if (item->status() == PlayerItem::Status::failed) {
            handlePlaybackFailure(
                item, currentItemGeneration_,
                item->errorMessage().empty() ? playbackFallback : item->errorMessage(), true);
        }
    }));
    observerTokens_.push_back(player_.addPlayedToEndObserver(
        [this](const PlayerItemPtr& item) { schedulePlaybackEnd(item); }));
    observerTokens_.push_back(player_.addStalledObserver([this](const PlayerItemPtr& item) {
        if (item != currentItem_) return;
        startBufferingTimeoutIfNeeded();
        updateNowPlaying();
    }));
    observerTokens_.push_back(player_.addFailedToPlayToEndObserver(
        [this](const PlayerItemPtr& item, const std::string& message) {
            if (item != currentItem_) return;
            handlePlaybackFailure(item, currentItemGeneration_,
                                  message.empty() ? playbackFallback : message, true);
            updateNowPlaying();
        }));
}

void PlaybackService::installRemoteCommands() {
    if (!remoteCommands_) return;
    RemoteCommandCenter::Handlers handlers;
    handlers.play = [this] { play(); };
    handlers.pause = [this] { pause(); };
    handlers.togglePlayPause = [this] { togglePlayback(); };
    handlers.nextTrack = [this] { next(); };
    handlers.previousTrack = [this] { previous(); };
    handlers.changePlaybackPosition = [this](double seconds) { seek(seconds); };
    handlers.changeVolume = [this](double volume) { setVolume(volume); };
    remoteCommands_->setHandlers(std::move(handlers));
}

// --- Observable helpers ------------------------------------------------------------------------

void PlaybackService::setState(State state) {
    if (state == state_) return;
    state_ = std::move(state);
    emit stateChanged();
}

void PlaybackService::setElapsed(double value) {
    if (value == elapsed_) return;
    elapsed_ = value;
    // First, so that no view reading both ever sees the position past the length.
    refreshDuration();
    emit elapsedChanged();
    // A move other than the clock's (a seek, another song) puts the next changes elsewhere.
    if (!ticking_) installClock(value);
}

void PlaybackService::setDuration(double value) {
    if (value == duration_) return;
    duration_ = value;
    emit durationChanged();
    installClock();  // the prefetch moment moved
}

// The player only estimates the length of a stream without a length header until it has read
// it all, so its length raises the song's written one and never shortens it. A known length is
// never shown under the position heard; unknown stays 0.
void PlaybackService::refreshDuration() {
    if (currentItem_ && currentItemGeneration_ == recoveryGate_.generation) {
        if (auto seconds = currentItem_->duration(); seconds && *seconds > 0)
            streamLength_ = *seconds;
    }
    double length = songLength_;
    if (streamLength_) length = std::max(*streamLength_, songLength_);
    setDuration(length > 0 ? std::max(length, elapsed_) : 0);
}

// Only a longer length is proof: the song was heard to last that long, while the player's last
// estimate of a stream without a length header may fall short of what the scan counted. A
// catalogue's song keeps the catalogue's length, the stream may be another cut of it.
void PlaybackService::keepLengthHeard() {
    auto track = queue_.current();
    if (!track || !songLengthMeasured_) return;
    refreshDuration();
    if (std::trunc(duration_) <= songLength_) return;
    Track heard = *track;
    heard.interval = LocalAudioScanner::intervalText(duration_);
    queue_.updateTrack(heard);  // what is saved of the session and played again
    emit songLengthLearned(heard);
}

void PlaybackService::setPlaybackRequested(bool value) {
    if (value == playbackRequested_) return;
    playbackRequested_ = value;
    emit playbackRequestedChanged();
}

void PlaybackService::setLastActualQuality(std::optional<Quality> value) {
    if (value == lastActualQuality_) return;
    lastActualQuality_ = value;
    emit lastActualQualityChanged();
}

QString PlaybackService::currentTitle() const {
    auto track = queue_.current();
    return track ? QString::fromStdString(track->title) : QString();
}

QString PlaybackService::currentArtist() const {
    auto track = queue_.current();
    return track ? QString::fromStdString(track->artist) : QString();
}

QString PlaybackService::currentAlbum() const {
    auto track = queue_.current();
    return track ? QString::fromStdString(track->album) : QString();
}

QString PlaybackService::currentMusicID() const {
    auto track = queue_.current();
    return track ? QString::fromStdString(track->musicID()) : QString();
}

QString PlaybackService::playbackModeText() const {
    return QString::fromUtf8(rawValue(playbackMode_).data(),
                             qsizetype(rawValue(playbackMode_).size()));
}

QString PlaybackService::preferredQualityText() const {
    auto raw = velto::rawValue(preferredQuality_);
    return QString::fromUtf8(raw.data(), qsizetype(raw.size()));
}

QString PlaybackService::lastActualQualityText() const {
    if (!lastActualQuality_) return QString();
    auto raw = velto::rawValue(*lastActualQuality_);
    return QString::fromUtf8(raw.data(), qsizetype(raw.size()));
}

void PlaybackService::noteItemReady() {
    refreshDuration();
    mark("item_ready", "");
    markStage("ready", &TransitionTiming::readyMilliseconds);
}

void PlaybackService::mark(std::string_view name, std::string_view detail) {
    if (perfMarker_) perfMarker_(name, detail);
}

void PlaybackService::scheduleOnce(MainQueue::Duration delay, std::function<void()> work) {
    auto id = std::make_shared<MainQueue::TimerId>(0);
    *id = mainQueue_.schedule(
        delay, [this, id, work = std::move(work), alive = std::weak_ptr<bool>(alive_)] {
            auto flag = alive.lock();
            if (!flag || !*flag) return;
            timers_.erase(*id);
            work();
        });
    timers_.insert(*id);
}

TaskHandle PlaybackService::resolve(const Track& track, Quality quality, bool refreshing,
                                    ResolveDone done) {
    auto source = std::make_shared<std::stop_source>();
    auto* refresher = refreshing ? dynamic_cast<PlaybackURLRefreshing*>(&resolver_) : nullptr;
    auto* reporter = dynamic_cast<PlaybackQualityReporting*>(&resolver_);
    // The job may run after the service is gone: it holds only what outlives the service.
    executor_([&resolver = resolver_, &mainQueue = mainQueue_, source, track, quality, refresher,
               reporter, done = std::move(done), alive = std::weak_ptr<bool>(alive_)]() mutable {
        auto stop = source->get_token();
        std::optional<TaskResult<Resolved>> result;
        try {
            throwIfCancelled(stop);
            resolver.requirePlaybackSupport(track.source);
            Resolved resolved;
            resolved.url = refresher ? refresher->refreshMusicURL(track, quality, stop)
                                     : resolver.musicURL(track, quality, stop);
            // Taken right away so that the report belongs to this very resolution.
            if (reporter) resolved.reportedQuality = reporter->consumeLastResolvedQuality();
            throwIfCancelled(stop);
            result.emplace(std::move(resolved));
        } catch (...) {
            result.emplace(std::current_exception());
        }
        if (stop.stop_requested() && result->ok())
            result.emplace(std::make_exception_ptr(CancellationError()));
        // The service may be gone by the time the main queue runs this; `alive` says so.
        mainQueue.post([done = std::move(done), result = std::move(*result), alive]() mutable {
            auto flag = alive.lock();
            if (!flag || !*flag) return;
            done(result);
        });
    });
    return TaskHandle(source);
}

// --- Loading -----------------------------------------------------------------------------------

void PlaybackService::loadCurrent(bool autoplay, bool refreshing, std::function<void()> done) {
    mark("load_start", refreshing ? "refresh" : "normal");
    cancelBufferingTimeout();
    recoveryGate_ = {recoveryGate_.generation + 1, false};
    const auto generation = recoveryGate_.generation;
    lastTransitionTiming_ = TransitionTiming{};
    lastTransitionTiming_->id = generation;
    lastTransitionTiming_->startedAt = mainQueue_.uptimeSeconds();
    ++intentRevision_;
    activeURLResolutionTask_.cancel();
    activeURLResolutionTask_ = {};
    if (adoptedPrefetch_) {
        // Its load is stale now; let it finish (and call back) as dropped.
        auto load = std::move(adoptedPrefetch_->finish);
        adoptedPrefetch_.reset();
        TaskResult<Resolved> cancelled(std::make_exception_ptr(CancellationError()));
        load(cancelled);
    }
    endingItem_.reset();
    failedItem_.reset();
    const double startsAt = std::exchange(loadStartsAt_, 0);

    auto track = queue_.current();
    if (!track) {
        discardUpcoming(true, true);
        setPlaybackRequested(false);
        player_.pause();
        player_.removeAllItems();
        currentItem_.reset();
        songLength_ = 0;
        songLengthMeasured_ = false;
        streamLength_.reset();
        setElapsed(0);
        refreshDuration();
        setState({StateKind::idle, {}});
        updateNowPlaying();
        if (done) done();
        return;
    }

    setPlaybackRequested(autoplay);
    unheardPlace_ = startsAt;
    songLength_ = track->durationSeconds().value_or(0);
    songLengthMeasured_ = track->source == MusicSource::local;
    streamLength_.reset();
    setElapsed(startsAt);
    refreshDuration();
    // Another song, or the same one from its start: the place saved in the one before is no
    // longer where playback is. The restore itself only puts back what was saved.
    if (!restoring_) persistSession(true);
    installClock();  // from the new song's place, length and save

    if (!refreshing && startsAt == 0 && handOverToPreparedItem(*track, autoplay)) {
        if (done) done();
        return;
    }

    // A resolution of this song already under way for the next-song slot is taken over.
    std::optional<UpcomingResolution> adopted;
    if (!refreshing && upcomingResolution_ && upcomingResolution_->musicID == track->musicID() &&
        upcomingResolution_->quality == preferredQuality_ && !upcomingResolution_->failed) {
        adopted = std::move(upcomingResolution_);
        upcomingResolution_.reset();
    }
    discardUpcoming(true, true);

    player_.removeAllItems();
    currentItem_.reset();
    if (!autoplay) player_.pause();
    setState({StateKind::loading, {}});
    updateNowPlaying();

    // The restore waits for its own seek before it settles.
    const double seekTo = restoring_ ? 0 : startsAt;
    auto finish = [this, generation, autoplay, track = *track, done = std::move(done),
                   seekTo](TaskResult<Resolved>& result) {
        finishLoad(generation, autoplay, track, result, done, seekTo);
    };
    if (adopted && adopted->result) {
        TaskResult<Resolved> result(*adopted->result);
        finish(result);
    } else if (adopted) {
        activeURLResolutionTask_ = adopted->task;
        adoptedPrefetch_ = AdoptedPrefetch{adopted->id, std::move(finish)};
    } else {
        activeURLResolutionTask_ =
            resolve(*track, preferredQuality_, refreshing, std::move(finish));
    }
}

void PlaybackService::finishLoad(std::int64_t generation, bool autoplay, const Track& track,
                                 TaskResult<Resolved>& result, const std::function<void()>& done,
                                 double startsAt) {
    if (generation != recoveryGate_.generation) {
        if (done) done();
        return;
    }
    activeURLResolutionTask_ = {};
    if (!result.ok()) {
        if (isCancellation(result.error())) {
            if (done) done();
            return;
        }
        setState(
            State::failed(PlaybackFailureDiagnostics::message(result.error(), addressFallback)));
        if (autoplay && playbackRequested_)
            handleAutoplayFailureAndSkip(generation, intentRevision_);
        updateNowPlaying();
        if (done) done();
        return;
    }
    const Resolved& resolved = result.value();
    markStage("resolved", &TransitionTiming::resolutionMilliseconds);
    recordActualQuality(resolved.reportedQuality);
    currentMediaHost_ = hostOf(resolved.url);
    mark("url_ready", track.musicID());

    auto item = std::make_shared<PlayerItem>(resolved.url, preferredForwardBuffer);
    player_.removeAllItems();
    player_.insert(item);
    installItem(item, generation);
    // Before it plays, so that its start is never heard.
    if (startsAt > 0) player_.seek(startsAt, [](bool) {});
    // A pause during the resolution wins over the load's autoplay.
    if (autoplay && playbackRequested_) player_.play();
    synchronizePlaybackState();
    prefetchUpcomingTrackIfNeeded();
    updateNowPlaying();
    if (done) done();
}

void PlaybackService::installItem(const PlayerItemPtr& item, std::int64_t generation) {
    currentItem_ = item;
    currentItemGeneration_ = generation;
}

void PlaybackService::endTransitionBackgroundTask() {
    ++backgroundTransitionRevision_;
    isTransitionInProgress_ = false;
}

void PlaybackService::markStage(const char* stage, std::optional<double> TransitionTiming::*field) {
    if (!lastTransitionTiming_ || lastTransitionTiming_->id != recoveryGate_.generation) return;
    auto& timing = *lastTransitionTiming_;
    if (timing.*field) return;
    double ms = (mainQueue_.uptimeSeconds() - timing.startedAt) * 1000.0;
    timing.*field = ms;
    char line[160];
    std::snprintf(line, sizeof line, "transition=%ld stage=%s elapsed_ms=%f prepared=%d",
                  long(timing.id), stage, ms, timing.reusedPreparedItem ? 1 : 0);
    Log::info(logCategory, line);
}

// --- State synchronisation ---------------------------------------------------------------------

void PlaybackService::synchronizePlaybackState() {
    if (state_.kind == StateKind::failed) return;
    auto item = player_.currentItem();
    if (!item || item != currentItem_) return;
    if (item->status() == PlayerItem::Status::failed) return;
    switch (player_.timeControlStatus()) {
        case QueuePlayer::TimeControlStatus::playing:
            if (item->status() != PlayerItem::Status::readyToPlay) {
                setState({StateKind::loading, {}});
                break;
            }
            if (player_.rate() != double(playbackRate_)) player_.setRate(playbackRate_);
            cancelBufferingTimeout();
            consecutiveAutoplayFailures_ = 0;
            isTransitionInProgress_ = false;
            markStage("ready", &TransitionTiming::readyMilliseconds);
            markStage("playing", &TransitionTiming::playingMilliseconds);
            unheardPlace_.reset();
            setState({StateKind::playing, {}});
            break;
        case QueuePlayer::TimeControlStatus::waitingToPlayAtSpecifiedRate:
        case QueuePlayer::TimeControlStatus::paused:
            setState({playbackRequested_ ? StateKind::loading : StateKind::paused, {}});
            // An item that never opens or never starts sends no stall either: the time-out
            // guards every wait for sound, so a load always ends in playing or a failure.
            if (playbackRequested_) startBufferingTimeoutIfNeeded();
            break;
    }
}

// --- Failures and recovery ---------------------------------------------------------------------

void PlaybackService::handlePlaybackFailure(const PlayerItemPtr& item, std::int64_t generation,
                                            const std::string& message, bool allowsAutoplaySkip) {
    if (generation != recoveryGate_.generation) return;
    if (item && item == failedItem_) return;
    failedItem_ = item;
    cancelBufferingTimeout();
    if (!recoveryGate_.recoveryConsumed) {
        recoveryGate_.recoveryConsumed = true;
        catchUpElapsed();
        double position = elapsed_;
        setState({StateKind::loading, {}});
        updateNowPlaying();
        scheduleOnce(recoveryDelay_, [this, generation, position] {
            if (generation != recoveryGate_.generation) return;
            recover(generation, position);
        });
        return;
    }
    player_.pause();
    setState(State::failed(message));
    if (allowsAutoplaySkip && playbackRequested_)
        handleAutoplayFailureAndSkip(generation, intentRevision_);
    updateNowPlaying();
}

bool PlaybackService::movesOnByItself() const {
    return state_.kind == StateKind::failed && playbackRequested_ && plannedSkip_ &&
           plannedSkip_->first == recoveryGate_.generation &&
           plannedSkip_->second == intentRevision_;
}

void PlaybackService::recover(std::int64_t generation, double position) {
    auto track = queue_.current();
    if (!track) return;
    activeURLResolutionTask_ = resolve(
        *track, preferredQuality_, true,
        [this, generation, position, musicID = track->musicID()](TaskResult<Resolved>& result) {
            if (generation != recoveryGate_.generation) return;
            activeURLResolutionTask_ = {};
            auto current = queue_.current();
            if (!current || current->musicID() != musicID) return;
            if (!result.ok()) {
                if (isCancellation(result.error())) return;
                failedItem_.reset();
                handlePlaybackFailure(
                    nullptr, generation,
                    PlaybackFailureDiagnostics::message(result.error(), addressFallback), true);
                return;
            }
            recordActualQuality(result.value().reportedQuality);
            currentMediaHost_ = hostOf(result.value().url);
            auto item = std::make_shared<PlayerItem>(result.value().url, preferredForwardBuffer);
            discardUpcoming(true, true);
            player_.removeAllItems();
            player_.insert(item);
            installItem(item, generation);
            if (position > 0) {
                player_.seek(position, [](bool) {});
                setElapsed(position);
            }
            if (playbackRequested_)
                player_.play();
            else
                player_.pause();
            synchronizePlaybackState();
            updateNowPlaying();
        });
}

void PlaybackService::handleAutoplayFailureAndSkip(std::int64_t generation, std::int64_t revision) {
    ++consecutiveAutoplayFailures_;
    if (consecutiveAutoplayFailures_ > maxConsecutiveAutoplaySkips) return;
    if (queue_.tracks().size() < 2) return;
    plannedSkip_ = {generation, revision};
    scheduleOnce(autoplaySkipDelay_, [this, generation, revision] {
        if (plannedSkip_ == std::pair{generation, revision}) plannedSkip_.reset();
        if (generation != recoveryGate_.generation || revision != intentRevision_) return;
        auto next = queue_.advance(wraps());
        announceQueue();
        if (next) loadAsAsked();
    });
}

void PlaybackService::startBufferingTimeoutIfNeeded() {
    if (bufferingTimeoutTask_ || !playbackRequested_) return;
    auto generation = recoveryGate_.generation;
    auto item = currentItem_;
    auto id = std::make_shared<MainQueue::TimerId>(0);
    *id = mainQueue_.schedule(
        bufferingTimeout_, [this, generation, item, id, alive = std::weak_ptr<bool>(alive_)] {
            auto flag = alive.lock();
            if (!flag || !*flag) return;
            if (bufferingTimeoutTask_ != *id) return;
            bufferingTimeoutTask_.reset();
            if (generation != recoveryGate_.generation || item != currentItem_) return;
            if (player_.timeControlStatus() == QueuePlayer::TimeControlStatus::playing) return;
            handlePlaybackFailure(item, generation, bufferingFallback, true);
        });
    bufferingTimeoutTask_ = *id;
}

void PlaybackService::cancelBufferingTimeout() {
    if (!bufferingTimeoutTask_) return;
    mainQueue_.cancel(*bufferingTimeoutTask_);
    bufferingTimeoutTask_.reset();
}

void PlaybackService::schedulePlaybackEnd(const PlayerItemPtr& item) {
    // The current item ending wins over a quality reload still waiting for its address: the
    // reload would only bring back the tail of the song, or leave nothing playing if it failed.
    if (!item || item != currentItem_ || item == endingItem_) return;
    endingItem_ = item;
    keepLengthHeard();
    if (playbackMode_ == PlaybackMode::repeatOne) {
        loadAsAsked();
        return;
    }
    auto next = queue_.advance(wraps());
    announceQueue();
    if (next)
        loadAsAsked();
    else
        pause();
}

// The player reports an end after the fact: a pause sent in the song's last moments is already
// in, and the next song must not undo it.
void PlaybackService::loadAsAsked() {
    loadCurrent(playbackRequested_, false);
}

// --- Transport ---------------------------------------------------------------------------------

void PlaybackService::play() {
    // The player may already have gone past the song's end, whose report is still on its way:
    // the end is taken first, so that the play goes on from where it leads instead of starting
    // the ended song again.
    const auto queued = player_.items();
    if (currentItem_ && currentItem_ != endingItem_ &&
        std::find(queued.begin(), queued.end(), currentItem_) == queued.end())
        schedulePlaybackEnd(currentItem_);
    cancelBufferingTimeout();
    ++intentRevision_;
    consecutiveAutoplayFailures_ = 0;
    setPlaybackRequested(true);
    auto item = player_.currentItem();
    if (item && item == currentItem_ && item->status() != PlayerItem::Status::failed) {
        setState({StateKind::loading, {}});
        player_.play();
        synchronizePlaybackState();
        prefetchUpcomingTrackIfNeeded();
        updateNowPlaying();
    } else {
        reloadCurrent(item != nullptr);
    }
}

void PlaybackService::togglePlayback() {
    if (state_.kind == StateKind::failed)
        retryCurrent();
    else if (playbackRequested_)
        pause();
    else
        play();
}

void PlaybackService::saveForEnd() {
    // A restart restores the place of this moment, not that of the last save along the song, up
    // to five seconds back or in a pass before. Taken quietly: whoever watched the time may be
    // gone already.
    if (player_.timeControlStatus() == QueuePlayer::TimeControlStatus::playing &&
        player_.currentItem() && player_.currentItem() == currentItem_)
        elapsed_ = player_.currentTime();
    persistSession(true);
}

void PlaybackService::pause() {
    catchUpElapsed();
    persistSession(true);
    ++intentRevision_;
    setPlaybackRequested(false);
    cancelBufferingTimeout();
    player_.pause();
    setState({StateKind::paused, {}});
    endTransitionBackgroundTask();
    updateNowPlaying();
}

void PlaybackService::next() {
    endTransitionBackgroundTask();
    isTransitionInProgress_ = true;
    consecutiveAutoplayFailures_ = 0;
    auto song = queue_.advance(wraps());
    announceQueue();
    if (song) {
        loadCurrent(true, false);
    } else if (playbackMode_ == PlaybackMode::playInOrder) {
        pause();
    } else {
        endTransitionBackgroundTask();
    }
}

void PlaybackService::previous() {
    endTransitionBackgroundTask();
    isTransitionInProgress_ = true;
    consecutiveAutoplayFailures_ = 0;
    bool wrapping =
        playbackMode_ == PlaybackMode::sequence || playbackMode_ == PlaybackMode::repeatOne;
    auto song = queue_.retreat(wrapping);
    announceQueue();
    if (song) {
        loadCurrent(true, false);
    } else {
        endTransitionBackgroundTask();
        seek(0);
    }
}

void PlaybackService::seek(double seconds, std::function<void()> done) {
    const auto generation = recoveryGate_.generation;
    const auto item = player_.currentItem();
    double target = std::isnan(seconds) ? 0 : std::max(std::min(duration_, seconds), 0.0);
    target = atTimeScale(target);
    player_.seek(target, [this, generation, item, target, done = std::move(done),
                          alive = std::weak_ptr<bool>(alive_)](bool) {
        auto flag = alive.lock();
        if (!flag || !*flag) return;
        if (generation == recoveryGate_.generation && player_.currentItem() == item) {
            if (unheardPlace_) unheardPlace_ = target;
            setElapsed(target);
            // While paused no time observer runs, so the desktop would keep the old position.
            updateNowPlaying();
        }
        if (done) done();
    });
}

void PlaybackService::setVolume(double volume) {
    if (!std::isfinite(volume)) return;
    double value = std::clamp(volume, 0.0, 1.0);
    if (value != volume_) {
        volume_ = value;
        emit volumeChanged();
        if (nowPlaying_) nowPlaying_->setVolume(value);
    }
    player_.setVolume(value);
    defaults_.setDouble(volumeKey, value);
}

void PlaybackService::setPlaybackMode(PlaybackMode mode) {
    if (mode == playbackMode_) return;
    playbackMode_ = mode;
    emit playbackModeChanged();
    defaults_.setString(modeKey, std::string(rawValue(mode)));
    queue_.setShuffled(mode == PlaybackMode::shuffle);
    announceQueue();
    Log::info(logCategory, "mode_changed mode=" + std::string(rawValue(mode)));
    prefetchUpcomingTrackIfNeeded();
}

void PlaybackService::setPlaybackModeText(const QString& raw) {
    if (auto mode = playbackModeFromRaw(raw.toStdString())) setPlaybackMode(*mode);
}

void PlaybackService::retryCurrent() {
    if (!queue_.current()) return;
    consecutiveAutoplayFailures_ = 0;
    reloadCurrent(true);
}

void PlaybackService::reloadCurrent(bool refreshing) {
    loadStartsAt_ = unheardPlace_.value_or(0);
    loadCurrent(true, refreshing);
}

void PlaybackService::setPlaybackRate(float rate) {
    float value = std::isnan(rate) ? 0.5f : std::clamp(rate, 0.5f, 2.0f);
    if (value != playbackRate_) {
        playbackRate_ = value;
        emit playbackRateChanged();
    }
    defaults_.setDouble(rateKey, double(value));
    if (state_.kind == StateKind::playing) player_.setRate(value);
    updateNowPlaying();
    installClock();
}

}  // namespace velto
