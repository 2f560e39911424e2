#include "playback/PlaybackService.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>

#include "foundation/Cancellation.h"
#include "foundation/Log.h"
#include "platform/NowPlayingCenter.h"
#include "platform/QueuePlayer.h"
#include "platform/RemoteCommandCenter.h"
#include "playback/PerfLog.h"
#include "playback/PersistedSession.h"
#include "playback/PlaybackFailureDiagnostics.h"
#include "sources/model/MusicSource.h"

namespace velto {

namespace {

constexpr std::string_view logCategory = "PlaybackTransition";
constexpr const char* volumeKey = "macPlaybackVolume";
constexpr const char* modeKey = "playbackMode";
constexpr const char* qualityKey = "preferredPlaybackQuality";
constexpr const char* qualityPolicyKey = "playbackQualityPolicyVersion";
constexpr const char* rateKey = "velto.playback.rate";
constexpr const char* lastQualityKey = "lastPlayedQuality";
constexpr const char* sessionKey = "velto.playback.session";
constexpr double sessionSaveInterval = 5.0;
constexpr double preferredForwardBuffer = 10;
constexpr auto timeObserverInterval = std::chrono::milliseconds(200);

const char* const addressFallback = "无法获取播放地址";
const char* const qualityFallback = "无法切换音质";
const char* const playbackFallback = "播放失败，请重试";
const char* const bufferingFallback = "缓冲超时，请检查网络后重试";

// Positions are kept at the player's time scale of 1/600 s.
double atTimeScale(double seconds) {
    return std::round(seconds * 600.0) / 600.0;
}

std::optional<std::string> hostOf(const std::string& url) {
    auto scheme = url.find("://");
    if (scheme == std::string::npos) return std::nullopt;
    auto start = scheme + 3;
    auto end = url.find_first_of("/?#", start);
    std::string authority = url.substr(start, end == std::string::npos ? end : end - start);
    if (auto at = authority.rfind('@'); at != std::string::npos) authority.erase(0, at + 1);
    if (!authority.empty() && authority.front() == '[') {
        auto close = authority.find(']');
        return authority.substr(1, close == std::string::npos ? close : close - 1);
    }
    if (auto colon = authority.find(':'); colon != std::string::npos) authority.resize(colon);
    if (authority.empty()) return std::nullopt;
    return authority;
}

bool isCancelled(const std::exception_ptr& error) {
    return isCancellation(error);
}

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
    *alive_ = false;
    if (remoteCommands_) remoteCommands_->setHandlers({});
    for (auto token : observerTokens_) player_.removeObserver(token);
    for (auto timer : timers_) mainQueue_.cancel(timer);
    if (bufferingTimeoutTask_) mainQueue_.cancel(*bufferingTimeoutTask_);
    activeURLResolutionTask_.cancel();
    if (upcomingResolution_) upcomingResolution_->task.cancel();
}

void PlaybackService::installObservers() {
    observerTokens_.push_back(
        player_.addPeriodicTimeObserver(toDuration(timeObserverInterval), [this](double seconds) {
            if (player_.currentItem() && player_.currentItem() == currentItem_) setElapsed(seconds);
            synchronizePlaybackState();
            persistSession(false);
            updateNowPlaying();
            prefetchUpcomingTrackIfNeeded();
        }));
    observerTokens_.push_back(player_.addTimeControlStatusObserver(
        [this](QueuePlayer::TimeControlStatus) { synchronizePlaybackState(); }));
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
            if (duration_ <= 0 && item->duration() && *item->duration() > 0)
                setDuration(*item->duration());
            mark("item_ready", "");
            markStage("ready", &TransitionTiming::readyMilliseconds);
            synchronizePlaybackState();
            prefetchUpcomingTrackIfNeeded();
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
    emit elapsedChanged();
}

void PlaybackService::setDuration(double value) {
    if (value == duration_) return;
    duration_ = value;
    emit durationChanged();
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

void PlaybackService::assignPreferredQuality(Quality quality) {
    bool changed = quality != preferredQuality_;
    preferredQuality_ = quality;
    defaults_.setString(qualityKey, std::string(velto::rawValue(quality)));
    if (changed) emit preferredQualityChanged();
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

    auto track = queue_.current();
    if (!track) {
        discardUpcoming(true, true);
        setPlaybackRequested(false);
        player_.pause();
        player_.removeAllItems();
        currentItem_.reset();
        setElapsed(0);
        setDuration(0);
        setState({StateKind::idle, {}});
        updateNowPlaying();
        if (done) done();
        return;
    }

    setPlaybackRequested(autoplay);
    setElapsed(0);
    setDuration(track->durationSeconds().value_or(0));

    if (!refreshing && handOverToPreparedItem(*track, autoplay)) {
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

    auto finish = [this, generation, autoplay, track = *track,
                   done = std::move(done)](TaskResult<Resolved>& result) {
        finishLoad(generation, autoplay, track, result, done);
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
                                 TaskResult<Resolved>& result, const std::function<void()>& done) {
    if (generation != recoveryGate_.generation) {
        if (done) done();
        return;
    }
    activeURLResolutionTask_ = {};
    if (!result.ok()) {
        if (isCancelled(result.error())) {
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
    // A pause during the resolution wins over the load's autoplay.
    if (autoplay && playbackRequested_) player_.play();
    synchronizePlaybackState();
    prefetchUpcomingTrackIfNeeded();
    updateNowPlaying();
    if (done) done();
}

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
        if (duration_ <= 0 && item->duration() && *item->duration() > 0)
            setDuration(*item->duration());
        mark("item_ready", "");
        markStage("ready", &TransitionTiming::readyMilliseconds);
    }
    synchronizePlaybackState();
    prefetchUpcomingTrackIfNeeded();
    updateNowPlaying();
    return true;
}

void PlaybackService::installItem(const PlayerItemPtr& item, std::int64_t generation) {
    currentItem_ = item;
    currentItemGeneration_ = generation;
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
            setState({StateKind::playing, {}});
            break;
        case QueuePlayer::TimeControlStatus::waitingToPlayAtSpecifiedRate:
            setState({playbackRequested_ ? StateKind::loading : StateKind::paused, {}});
            break;
        case QueuePlayer::TimeControlStatus::paused:
            setState({playbackRequested_ ? StateKind::loading : StateKind::paused, {}});
            break;
    }
}

void PlaybackService::recordActualQuality(const std::optional<Quality>& quality) {
    if (!quality) return;
    setLastActualQuality(*quality);
    defaults_.setString(lastQualityKey, std::string(velto::rawValue(*quality)));
}

void PlaybackService::persistSession(bool force) {
    auto track = queue_.current();
    if (!track) return;
    auto now = mainQueue_.wallNow();
    if (!force && lastSessionSaveAt_) {
        // A last save "in the future" means the clock was set back: saving is due.
        double since = std::chrono::duration<double>(now - *lastSessionSaveAt_).count();
        if (since >= 0 && since <= sessionSaveInterval) return;
    }
    try {
        defaults_.setData(sessionKey, PersistedSession{*track, elapsed_, now}.encode());
        lastSessionSaveAt_ = now;
    } catch (const std::exception&) {
        // A song that cannot be coded is simply not saved.
    }
}

// --- Prefetch ----------------------------------------------------------------------------------

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
    if (!currentItem_ || player_.currentItem() != currentItem_ ||
        currentItem_->status() != PlayerItem::Status::readyToPlay ||
        activeURLResolutionTask_.valid())
        return;
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

// --- Failures and recovery ---------------------------------------------------------------------

void PlaybackService::handlePlaybackFailure(const PlayerItemPtr& item, std::int64_t generation,
                                            const std::string& message, bool allowsAutoplaySkip) {
    if (generation != recoveryGate_.generation) return;
    if (item && item == failedItem_) return;
    failedItem_ = item;
    cancelBufferingTimeout();
    if (!recoveryGate_.recoveryConsumed) {
        recoveryGate_.recoveryConsumed = true;
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
                if (isCancelled(result.error())) return;
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
    scheduleOnce(autoplaySkipDelay_, [this, generation, revision] {
        if (generation != recoveryGate_.generation || revision != intentRevision_) return;
        auto next = queue_.advance(wraps());
        announceQueue();
        if (next) loadCurrent(true, false);
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
    if (playbackMode_ == PlaybackMode::repeatOne) {
        loadCurrent(true, false);
        return;
    }
    auto next = queue_.advance(wraps());
    announceQueue();
    if (next)
        loadCurrent(true, false);
    else
        pause();
}

// --- Transport ---------------------------------------------------------------------------------

void PlaybackService::play() {
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
        loadCurrent(true, item != nullptr);
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

void PlaybackService::pause() {
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
    loadCurrent(true, true);
}

void PlaybackService::setPlaybackRate(float rate) {
    float value = std::isnan(rate) ? 0.5f : std::clamp(rate, 0.5f, 2.0f);
    if (value != playbackRate_) {
        playbackRate_ = value;
        emit playbackRateChanged();
    }
    defaults_.setDouble(rateKey, double(value));
    if (state_.kind == StateKind::playing) player_.setRate(value);
}

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
            bool cancelled = isCancelled(result.error());
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

// --- Queue and session -------------------------------------------------------------------------

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
    double savedElapsed = session->elapsed;
    replaceQueue({session->track}, std::nullopt, false, std::nullopt, {},
                 [this, overtaken, savedElapsed, finish] {
                     if (overtaken() || state_.kind == StateKind::failed) return finish();
                     auto settle = [this, overtaken, finish] {
                         // The stream may have failed for good while the seek ran.
                         if (!overtaken() && state_.kind != StateKind::failed)
                             setState({StateKind::paused, {}});
                         finish();
                     };
                     if (savedElapsed > 1.0 && duration_ > 0)
                         seek(std::min(std::max(duration_ - 1.0, 0.0), savedElapsed), settle);
                     else
                         settle();
                 });
    // The load began inside replaceQueue; its counters are the restore's own.
    *revision = intentRevision_;
    *generation = recoveryGate_.generation;
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

void PlaybackService::updateNowPlayingArtwork(std::optional<std::string> artwork) {
    if (artwork && artwork->empty()) artwork.reset();
    nowPlayingArtwork_ = std::move(artwork);
    updateNowPlaying();
}

void PlaybackService::updateTrackMetadata(const Track& track) {
    queue_.updateTrack(track);
    announceQueue();
    updateNowPlaying();
}

// --- Now Playing -------------------------------------------------------------------------------

void PlaybackService::updateNowPlaying() {
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
        case StateKind::idle:
        case StateKind::failed:
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
    if (nowPlayingArtwork_)
        info.artUrl = artworkURL(*nowPlayingArtwork_);
    else
        info.artUrl = payloadPicture(*track);
    nowPlaying_->setInfo(info);
}

}  // namespace velto
