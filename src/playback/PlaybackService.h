#pragma once

#include <QObject>
#include <QString>
#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "foundation/MainQueue.h"
#include "foundation/Task.h"
#include "foundation/files/UserDefaults.h"
#include "foundation/WorkerPool.h"
#include "playback/PlaybackQueue.h"
#include "sources/resolving/PlaybackURLResolving.h"
#include "sources/model/Quality.h"
#include "sources/model/Track.h"

namespace velto {

class NowPlayingCenter;
class PlayerItem;
class QueuePlayer;
class RemoteCommandCenter;
using PlayerItemPtr = std::shared_ptr<PlayerItem>;

// The playback engine: one queue player, the play queue, the address resolver and the saved
// settings and position. Lives on the main thread; resolver calls run on workers and come back
// through the main queue, where three counters (load generation, intent revision, background
// transition revision) tell a late result that it is stale.
//
// Defined by share: loading, state, failures and transport in PlaybackService.cpp; the queue
// and the saved session in PlaybackServiceSession.cpp; the next song and the hand-over to it in
// PlaybackServiceUpcoming.cpp; the quality reload in PlaybackServiceQuality.cpp; Now Playing in
// PlaybackServiceNowPlaying.cpp.
class PlaybackService : public QObject {
    Q_OBJECT
    Q_PROPERTY(int state READ stateKindValue NOTIFY stateChanged)
    Q_PROPERTY(QString failureMessage READ failureMessage NOTIFY stateChanged)
    Q_PROPERTY(double elapsed READ elapsed NOTIFY elapsedChanged)
    Q_PROPERTY(double duration READ duration NOTIFY durationChanged)
    Q_PROPERTY(QString currentTitle READ currentTitle NOTIFY queueChanged)
    Q_PROPERTY(QString currentArtist READ currentArtist NOTIFY queueChanged)
    Q_PROPERTY(QString currentAlbum READ currentAlbum NOTIFY queueChanged)
    Q_PROPERTY(QString currentMusicID READ currentMusicID NOTIFY queueChanged)
    Q_PROPERTY(int queueCount READ queueCount NOTIFY queueChanged)
    Q_PROPERTY(double volume READ volume NOTIFY volumeChanged)
    Q_PROPERTY(QString playbackMode READ playbackModeText NOTIFY playbackModeChanged)
    Q_PROPERTY(double playbackRate READ playbackRateValue NOTIFY playbackRateChanged)
    Q_PROPERTY(QString preferredQuality READ preferredQualityText NOTIFY preferredQualityChanged)
    Q_PROPERTY(QString lastActualQuality READ lastActualQualityText NOTIFY lastActualQualityChanged)
    Q_PROPERTY(bool playbackRequested READ playbackRequested NOTIFY playbackRequestedChanged)

  public:
    enum class StateKind { failed, idle, loading, playing, paused };
    Q_ENUM(StateKind)

    struct State {
        StateKind kind = StateKind::idle;
        std::string message;  // only for failed

        static State failed(std::string message) { return {StateKind::failed, std::move(message)}; }
        bool operator==(const State& other) const {
            return kind == other.kind && (kind != StateKind::failed || message == other.message);
        }
    };

    enum class PlaybackMode { sequence, repeatOne, shuffle, playInOrder };
    Q_ENUM(PlaybackMode)
    static std::string_view rawValue(PlaybackMode mode);
    static std::optional<PlaybackMode> playbackModeFromRaw(std::string_view raw);
    static const std::vector<PlaybackMode> allPlaybackModes;

    struct QualityChange {
        enum class Kind { reloaded, failed, unchanged, deferred };
        Kind kind = Kind::unchanged;
        Quality quality = Quality::master;  // for reloaded
        std::string message;                // for failed

        static QualityChange reloaded(Quality q) { return {Kind::reloaded, q, {}}; }
        static QualityChange failed(std::string m) { return {Kind::failed, {}, std::move(m)}; }
        static QualityChange unchanged() { return {Kind::unchanged, {}, {}}; }
        static QualityChange deferred() { return {Kind::deferred, {}, {}}; }
        bool operator==(const QualityChange& other) const {
            if (kind != other.kind) return false;
            if (kind == Kind::reloaded) return quality == other.quality;
            if (kind == Kind::failed) return message == other.message;
            return true;
        }
    };

    struct TransitionTiming {
        std::int64_t id = 0;
        double startedAt = 0;
        bool reusedPreparedItem = false;
        std::optional<double> resolutionMilliseconds;
        std::optional<double> readyMilliseconds;
        std::optional<double> playingMilliseconds;
    };

    struct PlaybackRecoveryGate {
        std::int64_t generation = 0;
        bool recoveryConsumed = false;
    };

    // Runs a blocking job somewhere off the main thread (the worker pool unless replaced).
    using BlockingExecutor = std::function<void(std::function<void()>)>;
    using PerfMarker = std::function<void(std::string_view name, std::string_view detail)>;

    static constexpr int maxConsecutiveAutoplaySkips = 3;
    static constexpr double sessionMaxAgeSeconds = 604800;
    // The next song is resolved and queued behind the current one this long before its end.
    static constexpr double prefetchLeadSeconds = 30;

    // `nowPlaying` and `remoteCommands` may be null (no desktop integration); both must outlive
    // the service.
    PlaybackService(QueuePlayer& player, PlaybackURLResolving& resolver, UserDefaults& defaults,
                    MainQueue& mainQueue, WorkerPool& workers,
                    NowPlayingCenter* nowPlaying = nullptr,
                    RemoteCommandCenter* remoteCommands = nullptr,
                    PlaybackQueue::RandomIndex randomIndex = PlaybackQueue::uniformRandomIndex(),
                    MainQueue::Duration autoplaySkipDelay = std::chrono::milliseconds(150),
                    MainQueue::Duration recoveryDelay = std::chrono::milliseconds(400),
                    MainQueue::Duration bufferingTimeout = std::chrono::seconds(20),
                    QObject* parent = nullptr);
    ~PlaybackService() override;

    // For tests: where resolver calls run, and where transition marks go.
    void setBlockingExecutor(BlockingExecutor executor) { executor_ = std::move(executor); }
    void setPerfMarker(PerfMarker marker) { perfMarker_ = std::move(marker); }

    // --- Queue and session -------------------------------------------------------------------
    void restoreLastSessionIfNeeded(std::function<void()> done = {});
    // What the end of the program keeps: the place of this moment in the song, forced to the
    // disk. Made as the service ends, and by an end of the program that ends no object.
    void saveForEnd();
    void replaceQueue(const std::vector<Track>& tracks, std::optional<std::ptrdiff_t> startingAt,
                      bool autoplay, std::optional<std::string> activePlaylistID = std::nullopt,
                      const std::set<std::string>& preservingPlayedMusicIDs = {},
                      std::function<void()> done = {});
    void onTrackAddedToPlaylist(const Track& track, const std::string& playlistID);
    void onTrackRemovedFromPlaylist(const Track& track, const std::string& playlistID);
    // The cover for Now Playing as an http(s) or file URL, or a file path; none falls back to
    // the address in the song's record.
    void updateNowPlayingArtwork(std::optional<std::string> artwork);
    void updateTrackMetadata(const Track& track);

    // --- Transport (also the handlers of the system's remote commands) -----------------------
    Q_INVOKABLE void togglePlayback();
    Q_INVOKABLE void pause();
    Q_INVOKABLE void next();
    Q_INVOKABLE void previous();
    void seek(double seconds, std::function<void()> done = {});
    Q_INVOKABLE void seekTo(double seconds) { seek(seconds); }
    Q_INVOKABLE void setVolume(double volume);
    void setPlaybackMode(PlaybackMode mode);
    Q_INVOKABLE void setPlaybackModeText(const QString& raw);
    Q_INVOKABLE void retryCurrent();
    void setPlaybackRate(float rate);
    Q_INVOKABLE void setPlaybackRateValue(double rate) { setPlaybackRate(float(rate)); }
    void setPreferredQuality(Quality quality, std::function<void(QualityChange)> done = {});
    // The user-started play (remote play command, toggle).
    void play();

    // --- Observable state --------------------------------------------------------------------
    const State& state() const { return state_; }
    int stateKindValue() const { return int(state_.kind); }
    QString failureMessage() const { return QString::fromStdString(state_.message); }
    double elapsed() const { return elapsed_; }
    double duration() const { return duration_; }
    const PlaybackQueue& queue() const { return queue_; }
    QString currentTitle() const;
    QString currentArtist() const;
    QString currentAlbum() const;
    QString currentMusicID() const;
    int queueCount() const { return int(queue_.tracks().size()); }
    double volume() const { return volume_; }
    PlaybackMode playbackMode() const { return playbackMode_; }
    QString playbackModeText() const;
    float playbackRate() const { return playbackRate_; }
    double playbackRateValue() const { return playbackRate_; }
    Quality preferredQuality() const { return preferredQuality_; }
    QString preferredQualityText() const;
    std::optional<Quality> lastActualQuality() const { return lastActualQuality_; }
    QString lastActualQualityText() const;
    bool playbackRequested() const { return playbackRequested_; }
    const std::optional<std::string>& activePlaylistID() const { return activePlaylistID_; }
    const std::optional<std::string>& nowPlayingArtwork() const { return nowPlayingArtwork_; }
    const std::optional<std::string>& currentMediaHost() const { return currentMediaHost_; }

    // The clock that moves `elapsed`. Unwatched, it ticks only when what keeps the position
    // unseen needs it: the save of the place along the song, and the next song's prefetch
    // moment (the desktop reckons the position itself from the last one it was given). A view
    // that shows the time moving holds a watch, which tells from a position the next position
    // at which the view shows something else (without one: any). The clock ticks just after
    // the earliest of these changes, together with those due within a fine interval after it
    // (so none is shown later than that); while watched, the ticks stay between a fine and a
    // coarse interval apart. A new watch brings `elapsed` up to date at once; any other move of
    // `elapsed` than the clock's, or of the song's length or speed, plans the clock again.
    using NextChange = std::function<double(double elapsed)>;
    using TimeWatch = std::shared_ptr<const void>;
    [[nodiscard]] TimeWatch watchTime(NextChange nextChange = {});
    bool timeWatched() const { return !timeWatchers_.empty(); }
    static constexpr auto fineClockInterval = std::chrono::milliseconds(200);
    static constexpr auto coarseClockInterval = std::chrono::seconds(1);
    // A tick comes this long after the change it is for, so that the position it reads is past it.
    static constexpr auto clockLeeway = std::chrono::milliseconds(10);

    // Staleness counters and transition bookkeeping.
    const PlaybackRecoveryGate& recoveryGate() const { return recoveryGate_; }
    std::int64_t intentRevision() const { return intentRevision_; }
    std::int64_t backgroundTransitionRevision() const { return backgroundTransitionRevision_; }
    bool isTransitionInProgress() const { return isTransitionInProgress_; }
    int consecutiveAutoplayFailures() const { return consecutiveAutoplayFailures_; }
    const std::optional<TransitionTiming>& lastTransitionTiming() const {
        return lastTransitionTiming_;
    }
    // The item queued behind the current one for a gapless hand-over, if any.
    PlayerItemPtr preparedNextItem() const { return preparedNext_ ? preparedNext_->item : nullptr; }

  signals:
    void stateChanged();
    void elapsedChanged();
    void durationChanged();
    void queueChanged();
    void volumeChanged();
    void playbackModeChanged();
    void playbackRateChanged();
    void preferredQualityChanged();
    void lastActualQualityChanged();
    void playbackRequestedChanged();
    // A local song played to its end longer than the length it came with (read by an older
    // scan, say); `track` is the song with the length heard, for the library to keep.
    void songLengthLearned(const velto::Track& track);

  private:
    struct Resolved {
        std::string url;
        std::optional<Quality> reportedQuality;
    };
    using ResolveDone = std::function<void(TaskResult<Resolved>&)>;

    struct UpcomingResolution {
        std::uint64_t id = 0;
        std::string musicID;
        Quality quality = Quality::master;
        TaskHandle task;
        std::optional<Resolved> result;
        bool failed = false;
    };

    // A load of the very song whose next-song resolution was still running took it over.
    struct AdoptedPrefetch {
        std::uint64_t id = 0;
        ResolveDone finish;
    };

    struct PreparedNext {
        std::uint64_t id = 0;
        PlayerItemPtr item;
    };

    // Internal steps.
    void loadCurrent(bool autoplay, bool refreshing, std::function<void()> done = {});
    // A move on that the person did not ask for (a song's end, a skip past a failure) carries on
    // with what they asked for last: it never turns a pause into play, nor a play into a pause.
    void loadAsAsked();
    void catchUpElapsed();
    void finishLoad(std::int64_t generation, bool autoplay, const Track& track,
                    TaskResult<Resolved>& result, const std::function<void()>& done,
                    double startsAt);
    // Loads the current song again, as asked to play, from where it is to be heard.
    void reloadCurrent(bool refreshing);
    bool handOverToPreparedItem(const Track& track, bool autoplay);
    void installItem(const PlayerItemPtr& item, std::int64_t generation);
    void discardUpcoming(bool cancelResolution, bool removePreparedItem);
    void endTransitionBackgroundTask();
    void persistSession(bool force);
    void synchronizePlaybackState();
    void prefetchUpcomingTrackIfNeeded();
    // The current song plays from a ready item and no load is under way.
    bool playsReadyItem() const;
    void finishPrefetch(std::uint64_t id, TaskResult<Resolved>& result);
    void prepareUpcomingItem();
    void recordActualQuality(const std::optional<Quality>& quality);
    void updateNowPlaying();
    void publishNowPlaying();
    void handlePlaybackFailure(const PlayerItemPtr& item, std::int64_t generation,
                               const std::string& message, bool allowsAutoplaySkip);
    void handleAutoplayFailureAndSkip(std::int64_t generation, std::int64_t revision);
    // A failed song that the service leaves for the next one by itself, as asked to play.
    bool movesOnByItself() const;
    void recover(std::int64_t generation, double position);
    void startBufferingTimeoutIfNeeded();
    void cancelBufferingTimeout();
    void schedulePlaybackEnd(const PlayerItemPtr& item);
    void installObservers();
    // `position`: where playback is now, if known; otherwise read from the player.
    void installClock(std::optional<double> position = std::nullopt);
    MainQueue::Duration nextTickDelay(double position) const;
    // The positions at which what keeps the position unseen needs it next.
    double nextSaveAt(double position) const;
    double nextPrefetchAt(double position) const;
    void clockTicked(double seconds);
    void installRemoteCommands();
    void markStage(const char* stage, std::optional<double> TransitionTiming::*field);
    TaskHandle resolve(const Track& track, Quality quality, bool refreshing, ResolveDone done);
    void mark(std::string_view name, std::string_view detail);
    // The current item became ready: its length, the perf marks.
    void noteItemReady();
    // `duration` from what is known of the current song's length now.
    void refreshDuration();
    // The current song ended by itself: what it showed of its length is kept where it is longer.
    void keepLengthHeard();
    void scheduleOnce(MainQueue::Duration delay, std::function<void()> work);

    // Setters that announce only real changes.
    void setState(State state);
    void setElapsed(double value);
    void setDuration(double value);
    void setPlaybackRequested(bool value);
    void setLastActualQuality(std::optional<Quality> value);
    void assignPreferredQuality(Quality quality);
    void announceQueue() { emit queueChanged(); }
    bool wraps() const { return playbackMode_ != PlaybackMode::playInOrder; }

    QueuePlayer& player_;
    NowPlayingCenter* nowPlaying_;
    RemoteCommandCenter* remoteCommands_;
    PlaybackURLResolving& resolver_;
    UserDefaults& defaults_;
    MainQueue& mainQueue_;
    BlockingExecutor executor_;
    PerfMarker perfMarker_;
    MainQueue::Duration autoplaySkipDelay_;
    MainQueue::Duration recoveryDelay_;
    MainQueue::Duration bufferingTimeout_;
    PlaybackQueue::RandomIndex randomIndex_;

    double volume_ = 1.0;
    PlaybackQueue queue_;
    std::optional<std::string> activePlaylistID_;
    State state_;
    PlaybackMode playbackMode_ = PlaybackMode::sequence;
    double elapsed_ = 0;
    // Where the next load shows its song at until its seek ends: a restored session's place,
    // so that the desktop never sees the restored song at its start first. A load other than
    // the restore seeks there itself.
    double loadStartsAt_ = 0;
    // Where the current song is to be heard from, until it is: a restored session's place, or
    // where a seek put it before it played. A reload of it (a retry, a play after a failure)
    // starts there, so a song the restore could not load yet keeps its place.
    std::optional<double> unheardPlace_;
    bool restoring_ = false;  // the saved session is being loaded
    double duration_ = 0;
    double songLength_ = 0;               // as the song gives it (a scan may misjudge it)
    bool songLengthMeasured_ = false;     // read from the very file played
    std::optional<double> streamLength_;  // as the player last gave it for this song
    bool playbackRequested_ = false;
    Quality preferredQuality_ = Quality::master;
    std::int64_t intentRevision_ = 0;
    std::optional<MainQueue::TimerId> bufferingTimeoutTask_;
    PlayerItemPtr endingItem_;
    std::optional<Quality> lastActualQuality_;
    float playbackRate_ = 1.0f;
    // On the main queue's monotonic clock: a clock set back or forward moves no save.
    std::optional<MainQueue::Duration> lastSessionSaveAt_;
    std::string lastSessionSong_;  // music ID of the song last saved
    std::optional<std::string> nowPlayingArtwork_;
    std::optional<std::string> currentMediaHost_;
    PlaybackRecoveryGate recoveryGate_;
    std::int64_t backgroundTransitionRevision_ = 0;
    bool isTransitionInProgress_ = false;
    int consecutiveAutoplayFailures_ = 0;
    // The load generation and intent revision of the skip planned after a failure.
    std::optional<std::pair<std::int64_t, std::int64_t>> plannedSkip_;
    std::optional<UpcomingResolution> upcomingResolution_;
    std::optional<AdoptedPrefetch> adoptedPrefetch_;
    std::uint64_t nextUpcomingID_ = 1;
    TaskHandle activeURLResolutionTask_;
    std::optional<PreparedNext> preparedNext_;
    std::optional<TransitionTiming> lastTransitionTiming_;

    // The item of the current load and the generation it belongs to.
    PlayerItemPtr currentItem_;
    std::int64_t currentItemGeneration_ = -1;
    // The item whose failure was already taken up, so its second report is not counted again.
    PlayerItemPtr failedItem_;

    std::vector<std::uint64_t> observerTokens_;
    std::optional<std::uint64_t> clockToken_;
    std::map<std::uint64_t, NextChange> timeWatchers_;
    std::uint64_t nextTimeWatcherID_ = 1;
    bool ticking_ = false;
    std::set<MainQueue::TimerId> timers_;
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

}  // namespace velto
