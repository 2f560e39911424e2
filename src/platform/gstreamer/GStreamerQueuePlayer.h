#pragma once

#include <cstddef>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "platform/QueuePlayer.h"
#include "platform/gstreamer/PlaybinHandOver.h"
#include "platform/gstreamer/PlaybinOwner.h"

struct _GstElement;
struct _GstMessage;

namespace velto {

struct PlaybinContext;
class StreamHeads;
class PlaybinTeardowns;
class PlaybinThreads;
class PlaybinWorker;

// The queue player on a GStreamer playbin. The current item is the playbin's URI; the item
// behind it is handed to the playbin once the current one has been read to its end (seconds
// before it is heard to end, at once for a short file), so the two join without a gap. The
// playbin cannot take a hand-over back: an item put behind the current one after it opens on
// its own when the current one has ended, after a short gap, and the stream handed over is
// never heard. At a rate other than 1 the next item opens after the current one ends instead.
// A stream handed over whose data have not come when the current one has been played out (a
// slow server, a share that stopped answering) becomes the current item, loading, and the clock
// waits for it: it is heard from its first sample.
// Bus messages are taken off the bus on the thread that posts them and handled on the main
// queue; no GLib main loop is needed anywhere. Each item opened gets a playbin of its own, with a
// worker that starts it, seeks in it and, once it is replaced, stops it off the main thread, so a
// source stuck in an open (a file on a share that stalls) or a read never holds it up. A playbin
// that stopped at once is kept for an item opened later; one that did not is never used again.
class GStreamerQueuePlayer final : public QueuePlayer, private PlaybinOwner {
public:
    using SinkBuffer = PlaybinSinkBuffer;
    struct Options {
        // A gst-launch style description of the audio sink, e.g. "fakesink sync=true". Empty:
        // the environment variable VELTO_AUDIO_SINK, else autoaudiosink.
        std::string audioSink;
        // Called on a streaming thread for every buffer that reaches the audio sink; for
        // measurements and tests.
        std::function<void(const SinkBuffer&)> sinkBufferProbe;
        // Starts a detached thread that runs `work`, or throws (std::system_error) when none
        // can be started. Empty: std::thread. For tests that count or refuse threads. The
        // threads are kept for the next work while the player lives.
        std::function<void(std::function<void()> work)> startThread;
        // Whether the local file at `path` can be read, asked of the next item's file before it
        // is handed over and of a failed item's file to tell why. Empty: the file system. For
        // tests that hold it as a stalled share does.
        std::function<bool(const std::string& path)> fileReadable;
    };
    // Replaced playbins are stopped by at most this many threads at a time; the others wait
    // for one of them, so sources stuck in reads tie up no more.
    static constexpr int maxRetiringThreads = 2;
    // Replaced playbins that stopped are kept, at most this many, for the songs opened next
    // while there is something to play.
    static constexpr int keptPlaybins = 2;
    // Work on the files of one folder (opening a song, looking at one) takes at most this many
    // threads at a time; the rest waits, so a share that stops answering ties up no more.
    static constexpr int maxThreadsPerPlace = 2;
    // Threads kept idle for the next work; one more is made when all are at work.
    static constexpr int keptThreads = 4;

    explicit GStreamerQueuePlayer(MainQueue& mainQueue, Options options = {});
    ~GStreamerQueuePlayer() override;

    std::vector<PlayerItemPtr> items() const override;
    PlayerItemPtr currentItem() const override;
    bool insert(PlayerItemPtr item, const PlayerItemPtr& after = nullptr) override;
    void remove(const PlayerItemPtr& item) override;
    void removeAllItems() override;
    void advanceToNextItem() override;

    void play() override;
    void pause() override;
    TimeControlStatus timeControlStatus() const override { return timeControl_; }
    void setRate(double rate) override;
    double rate() const override { return rate_; }
    void setVolume(double volume) override;
    double volume() const override { return volume_; }
    double currentTime() const override;
    void seek(double seconds, std::function<void(bool finished)> completion) override;

    // Whether a playbin replaced is still being stopped; the main queue is woken when one is
    // done. For tests that count what playbins leave behind.
    bool tearingDown() const;
    // Threads at work for the player's playbins; for tests that count what stuck work holds.
    int busyThreads() const;

private:
    // What the playbin's threads tell.
    void playbinStarted(std::uint64_t epoch) override;
    void playbinMessage(std::uint64_t epoch, _GstMessage* message, bool ofNextStream,
                        std::uint64_t seeksFlushed) override;
    void nextSourceMade(std::uint64_t epoch) override;
    void stateSetAfterWork(std::uint64_t epoch) override;
    void currentStreamDone(std::uint64_t epoch) override;
    void currentRanOut(std::uint64_t epoch, std::uint64_t end, std::uint64_t seeksFlushed) override;
    void currentStalled(std::uint64_t epoch, std::uint64_t end) override;
    void currentFlowsAgain(std::uint64_t epoch) override;
    void seekLanded(std::uint64_t flush) override;
    void seekRefused(std::uint64_t epoch, std::uint64_t flush) override;
    void onMainQueue(std::function<void()> work) override;

    struct PendingSeek {
        double target = 0;
        std::function<void(bool)> completion;
        bool issued = false;
        std::uint64_t flush = 0;  // which of seeksSent_ sent it
    };

    bool makePipeline();
    void retirePipeline();
    void stopPipeline();
    void openCurrent(bool keepSeek = false);
    void applyTargetState();
    void wantState(int state);
    void settleOnWantedState();
    bool nextStreamOpening();
    void followStateWhileNextOpens();
    void startPipeline();
    void started(std::uint64_t epoch);
    void updateTimeControl();
    void handOverNext();
    void lookAtNext();
    // Gives the plan to the playbin's threads, and wakes an ask for the next stream waiting on
    // it.
    void publishPlan();
    std::optional<PlayerItem::Id> handedOver() const;
    // Where in the queue the item of the stream handed over, or to be handed over, is.
    std::size_t nextIndex() const { return awaitingNext_ ? 0 : 1; }
    // The current stream's data have been played out, at `end` on the playbin's running clock,
    // before the next stream's came.
    void ranOut(std::uint64_t end, std::uint64_t seeksFlushed);
    // Sets the playbin's running clock back to `end`, where the data before ran out.
    void resumeClockFrom(std::uint64_t end);
    // `awaiting`: ended before the next one's data came; the clock waits for them.
    enum class Continuation { reopened, playing, broken, awaiting };
    void finishCurrent(Continuation next);
    void failCurrent(unsigned domain, int code, const std::string& original, bool fromSource);
    struct Failure {
        unsigned domain = 0;
        int code = 0;
        std::string message;
        bool fromSource = false;
    };
    void endBeforeFailedHandOver();
    void reopenWhereHeard();
    // A seek is sent whose flush had not reached the sink when what is judged happened there,
    // with `seeksFlushed` counted.
    bool seekFlushAhead(std::uint64_t seeksFlushed) const;
    void issueSeek(double target);
    void finishSeek(bool finished);
    void queryDuration();
    bool joinedUnheard() const;
    // Where the current stream's data that reached the sink end, in the stream's time.
    std::optional<double> heardUpTo() const;
    bool currentSourceCanSeek();
    // `ofNextStream`: an error of the stream handed over, not of the current one.
    void handleMessage(std::uint64_t epoch, _GstMessage* message, bool ofNextStream,
                       std::uint64_t seeksFlushed);

    Options options_;
    _GstElement* playbin_ = nullptr;  // the current item's; none while there is nothing to play
    std::shared_ptr<PlaybinContext> context_;
    std::shared_ptr<PlaybinWorker> worker_;  // the current playbin's
    std::shared_ptr<PlaybinTeardowns> teardowns_;
    std::shared_ptr<PlaybinThreads> threads_;
    // The first data of the network songs current and next, fetched ahead.
    std::shared_ptr<StreamHeads> heads_;

    // Main thread.
    std::deque<PlayerItemPtr> items_;
    bool wantsToPlay_ = false;
    TimeControlStatus timeControl_ = TimeControlStatus::paused;
    double volume_ = 1.0;
    std::uint64_t epoch_ = 0;
    bool prerolled_ = false;
    bool seekable_ = false;
    int wantedState_ = 0;
    bool starting_ = false;  // the fresh playbin is being started on a thread of its own
    bool playingState_ = false;
    bool buffering_ = false;
    // The current item is the next stream's, ended into while its data had not come: the
    // playbin is held paused until they do, and then goes on from where the one before ran out.
    bool awaitingNext_ = false;
    std::uint64_t ranOutAt_ = 0;
    // The current stream's data ran out before its end, at this point of the running clock: the
    // playbin is held paused until they come again, and then goes on from there.
    std::optional<std::uint64_t> stalledAt_;
    int streamStarts_ = 0;
    int currentStream_ = 1;  // the number of the current item's stream in the playbin's order
    mutable double lastPosition_ = 0;
    // The current item's stream was joined to the one before, whose last data the sink still
    // plays out and counts in the position it tells: until the clock reaches the new stream's
    // first data, the item is at its start.
    mutable bool joinedUnheard_ = false;
    std::optional<PendingSeek> seek_;
    // The stream handed over failed; taken up once the current one has been played out.
    std::optional<Failure> handOverFailure_;
    // A stream that failed handed over: not handed over again behind the current item.
    std::optional<PlayerItem::Id> failedHandOver_;
    // The end reached the sink before a seek's flush: the current item's, if the seek is refused.
    bool endBeforeFlush_ = false;
    // The last stream whose server answered a seek with the whole stream: not sought again.
    std::string unseekableUri_;

    double rate_ = 1.0;
    // What the playbin's threads go by; theirs is a copy, written whole under its lock.
    HandOverPlan plan_;
};

}  // namespace velto
