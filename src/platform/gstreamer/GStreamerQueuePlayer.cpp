#include "platform/gstreamer/GStreamerQueuePlayer.h"

#include <gst/gst.h>

#include <algorithm>
#include <cmath>
#include <chrono>
#include <memory>
#include <set>
#include <utility>

#include "foundation/Log.h"
#include "platform/gstreamer/PlaybinCallbacks.h"
#include "platform/gstreamer/PlaybinContext.h"
#include "platform/gstreamer/PlaybinTeardowns.h"
#include "platform/gstreamer/PlaybinSupport.h"
#include "platform/gstreamer/PlaybinThreads.h"
#include "platform/gstreamer/PlaybinWorker.h"
#include "platform/gstreamer/StreamHeadSource.h"
#include "platform/StreamHeads.h"

namespace velto {

using namespace playbin_support;

GStreamerQueuePlayer::GStreamerQueuePlayer(MainQueue& mainQueue, Options options)
    : QueuePlayer(mainQueue),
      options_(std::move(options)),
      teardowns_(std::make_shared<PlaybinTeardowns>(maxRetiringThreads, keptPlaybins)),
      threads_(std::make_shared<PlaybinThreads>(options_.startThread, maxThreadsPerPlace,
                                                keptThreads)),
      heads_(std::make_shared<StreamHeads>(options_.startThread)) {
    teardowns_->owner = static_cast<PlaybinOwner*>(this);
    ensureGStreamer();
    registerStreamHeadSource();
    if (GstElementFactory* factory = gst_element_factory_find("playbin")) {
        gst_object_unref(factory);
    } else {
        Log::error(logCategory, "playbin is missing; playback is unavailable");
    }
}

GStreamerQueuePlayer::~GStreamerQueuePlayer() {
    retirePipeline();
    // A teardown ends at once unless a source is stuck in a read; such a one is left behind
    // rather than keeping the program from exiting.
    teardowns_->release(std::chrono::seconds(2));
    threads_->close();
}

// A playbin for each item opened: a fresh one, or one kept that stopped when it was replaced;
// never the one before, which may be stuck on its source, and is stopped off the main thread
// (retirePipeline).
bool GStreamerQueuePlayer::makePipeline() {
    GstElement* playbin = teardowns_->takeStopped();
    if (playbin) {
        g_object_set(playbin, "buffer-duration", gint64{-1}, nullptr);
    } else {
        playbin = makePlaybin(describeSink(options_.audioSink));
        if (!playbin) return false;
    }
    context_ = std::make_shared<PlaybinContext>();
    context_->owner = this;
    context_->playbin = playbin;
    context_->epoch = epoch_;
    context_->fileReadable = options_.fileReadable;
    context_->heads = heads_;
    context_->sinkBufferProbe = options_.sinkBufferProbe;
    context_->handOver.plan = plan_;
    PlaybinCallbacks::attach(playbin, context_);
    playbin_support::setVolume(playbin, volume_);
    playbin_ = playbin;
    worker_ = std::make_shared<PlaybinWorker>(context_, threads_, teardowns_,
                                              PlaybinThreads::placeOf(currentItem()->uri()));
    return true;
}

// Cuts the playbin off the player and has its worker stop it: stopping waits for
// its streaming threads, and one blocked in a read of a stalled file would hold the caller.
void GStreamerQueuePlayer::retirePipeline() {
    // With nothing to play, no playbin is kept.
    teardowns_->keepStopped(!items_.empty());
    if (!playbin_) return;
    {
        std::lock_guard lock(context_->mutex);
        context_->owner = nullptr;
        context_->stopWatchingRunOut();
        context_->releaseElements();
    }
    context_->lookAgain();
    context_.reset();
    playbin_ = nullptr;  // the worker's stop takes the reference
    std::exchange(worker_, nullptr)->stop();
}

bool GStreamerQueuePlayer::tearingDown() const {
    return teardowns_->running();
}

int GStreamerQueuePlayer::busyThreads() const {
    return threads_->busy();
}

std::vector<PlayerItemPtr> GStreamerQueuePlayer::items() const {
    return {items_.begin(), items_.end()};
}

PlayerItemPtr GStreamerQueuePlayer::currentItem() const {
    return items_.empty() ? nullptr : items_.front();
}

bool GStreamerQueuePlayer::insert(PlayerItemPtr item, const PlayerItemPtr& after) {
    bool becomesCurrent = items_.empty();
    if (!insertInto(items_, std::move(item), after)) return false;
    handOverNext();
    if (becomesCurrent) {
        openCurrent();
        later([this, current = items_.front()] { emitCurrentItemChanged(current); });
    }
    return true;
}

void GStreamerQueuePlayer::remove(const PlayerItemPtr& item) {
    auto it = std::find(items_.begin(), items_.end(), item);
    if (it == items_.end()) return;
    if (it == items_.begin()) {
        advanceToNextItem();
        return;
    }
    items_.erase(it);
    handOverNext();
}

void GStreamerQueuePlayer::removeAllItems() {
    if (items_.empty()) return;
    items_.clear();
    handOverNext();
    openCurrent();
    later([this] { emitCurrentItemChanged(nullptr); });
}

void GStreamerQueuePlayer::advanceToNextItem() {
    if (items_.empty()) return;
    items_.pop_front();
    handOverNext();
    openCurrent();
    later([this, current = currentItem()] { emitCurrentItemChanged(current); });
}

void GStreamerQueuePlayer::play() {
    wantsToPlay_ = true;
    applyTargetState();
    updateTimeControl();
}

void GStreamerQueuePlayer::pause() {
    wantsToPlay_ = false;
    applyTargetState();
    updateTimeControl();
}

void GStreamerQueuePlayer::setRate(double rate) {
    if (!std::isfinite(rate) || rate <= 0 || rate == rate_) return;
    rate_ = rate;
    plan_.rate = rate;
    publishPlan();
    // A rate is a property of the playing segment, so it takes a seek to where we are.
    if (prerolled_) issueSeek(seek_ ? seek_->target : currentTime());
}

void GStreamerQueuePlayer::setVolume(double volume) {
    if (!std::isfinite(volume)) return;
    volume_ = std::clamp(volume, 0.0, 1.0);
    if (playbin_) playbin_support::setVolume(playbin_, volume_);
}

double GStreamerQueuePlayer::currentTime() const {
    if (items_.empty()) return 0;
    if (seek_) return seek_->target;
    gint64 position = 0;
    if (prerolled_ && playbin_ && !awaitingNext_ && !joinedUnheard() &&
        gst_element_query_position(playbin_, GST_FORMAT_TIME, &position)) {
        double at = toSeconds(position);
        // The playbin's clock runs on while its source gives nothing (a share that hangs in a
        // read); the song stands where its data end.
        if (auto heard = heardUpTo()) at = std::min(at, *heard);
        lastPosition_ = std::max(0.0, at);
    }
    return lastPosition_;
}

std::optional<double> GStreamerQueuePlayer::heardUpTo() const {
    std::lock_guard lock(context_->firstDataMutex);
    // Data of the next stream at the sink: the current one's are all there.
    if (context_->heardStream != currentStream_ ||
        !GST_CLOCK_TIME_IS_VALID(context_->heardUpTo))
        return std::nullopt;
    return toSeconds(context_->heardUpTo);
}

bool GStreamerQueuePlayer::joinedUnheard() const {
    if (!joinedUnheard_ || !context_) return false;
    GstClockTime firstDataAt = GST_CLOCK_TIME_NONE;
    {
        // Only the sink's note is read under the lock; the playbin is asked outside it.
        std::lock_guard lock(context_->firstDataMutex);
        if (context_->firstDataStream == currentStream_) firstDataAt = context_->firstDataAt;
    }
    if (!GST_CLOCK_TIME_IS_VALID(firstDataAt)) return true;
    GST_OBJECT_LOCK(playbin_);
    const bool playing = GST_STATE(playbin_) == GST_STATE_PLAYING;
    GST_OBJECT_UNLOCK(playbin_);
    // Paused, the running clock has no meaning; the song stays at its start.
    if (!playing) return true;
    const GstClockTime now = gst_element_get_current_running_time(playbin_);
    if (GST_CLOCK_TIME_IS_VALID(now) && now >= firstDataAt) joinedUnheard_ = false;
    return joinedUnheard_;
}

void GStreamerQueuePlayer::seek(double seconds, std::function<void(bool)> completion) {
    auto current = currentItem();
    if (!current || current->status() == PlayerItem::Status::failed || !playbin_) {
        if (completion) later([completion] { completion(false); });
        return;
    }
    finishSeek(false);  // a new seek interrupts the one under way
    double target = std::isfinite(seconds) ? std::max(0.0, seconds) : 0.0;
    seek_ = PendingSeek{target, std::move(completion), false};
    plan_.seekUnsent = true;
    plan_.seekWaiting = true;
    publishPlan();
    if (prerolled_) issueSeek(target);
}

// Retires the playbin and forgets what it played: messages of the old stream are dropped by
// the new epoch, and no hand-over is pending.
void GStreamerQueuePlayer::stopPipeline() {
    retirePipeline();
    ++epoch_;
    handOverFailure_.reset();
    plan_.droppedStream = 0;
    prerolled_ = false;
    seekable_ = false;
    playingState_ = false;
    buffering_ = false;
    stalledAt_.reset();
    endBeforeFlush_ = false;
    // The item behind the current one is the second again, not the current one it awaited.
    if (std::exchange(awaitingNext_, false)) handOverNext();
    starting_ = false;
}

// Plays the current item from its start on a fresh playbin, dropping whatever played before.
void GStreamerQueuePlayer::openCurrent(bool keepSeek) {
    stopPipeline();
    streamStarts_ = 0;
    currentStream_ = 1;
    lastPosition_ = 0;
    joinedUnheard_ = false;
    if (keepSeek && seek_) {
        seek_->issued = false;
        plan_.seekUnsent = true;
    } else {
        finishSeek(false);
    }
    auto current = currentItem();
    if (current && current->status() != PlayerItem::Status::failed && makePipeline()) {
        // A network song opened directly is read from a head too: a seek asked while it waits
        // for its first data then goes out with that request, not after its answer.
        heads_->fetch(current->id(), current->uri());
        g_object_set(playbin_, "uri", heads_->addressFor(current->id(), current->uri()).c_str(),
                     nullptr);
        if (current->preferredForwardBuffer() > 0) {
            g_object_set(playbin_, "buffer-duration",
                         static_cast<gint64>(current->preferredForwardBuffer() * GST_SECOND),
                         nullptr);
        }
        lookAtNext();
        applyTargetState();
    }
    updateTimeControl();
}

void GStreamerQueuePlayer::applyTargetState() {
    auto current = currentItem();
    if (!playbin_ || !current || current->status() == PlayerItem::Status::failed) return;
    bool run = wantsToPlay_ && !buffering_ && !awaitingNext_ && !stalledAt_;
    wantState(run ? GST_STATE_PLAYING : GST_STATE_PAUSED);
}

// A state set while the playbin still moves to another (prerolling, then going on to play, or
// winning back the state a flushing seek lost) can be lost: the playbin stays marked busy and
// never moves again. So a state is set only while the playbin rests, and whenever it comes to
// rest, by whichever change (ours, a seek's, one going on by itself after a preroll), in
// another state than the one wanted, the wanted one is set. Whether it rests is asked of the
// playbin itself: a message at rest may belong to another change than the one under way.
void GStreamerQueuePlayer::wantState(int state) {
    wantedState_ = state;
    settleOnWantedState();
}

void GStreamerQueuePlayer::settleOnWantedState() {
    if (!playbin_ || starting_) return;
    // A playbin whose next stream failed changes state no more, nor may it have started the
    // current one: it plays on only what its sink already plays.
    if (handOverFailure_ && (wantedState_ != GST_STATE_PLAYING || !sinkPlays(playbin_))) {
        reopenWhereHeard();
        return;
    }
    GstState state = GST_STATE_VOID_PENDING;
    GstState pending = GST_STATE_VOID_PENDING;
    // Without waiting: a failure is reported on the bus, and a change under way ends with a
    // state message that brings us back here.
    GstStateChangeReturn result = gst_element_get_state(playbin_, &state, &pending, 0);
    if (result == GST_STATE_CHANGE_FAILURE) return;
    // A change of the playbin waits for the stream handed over to open, which may take until
    // the current one has ended; meanwhile the playbin passes the state it is going to on to
    // the rest of its elements over and over, so one set now takes effect at once, and a pause
    // is not held back until the end of the song.
    const bool nextOpening = pending != GST_STATE_VOID_PENDING && state >= GST_STATE_PAUSED &&
                             nextStreamOpening();
    if (pending != GST_STATE_VOID_PENDING && !nextOpening) return;
    if ((nextOpening ? pending : state) == wantedState_) {
        worker_->setStateAfterWork(std::nullopt);
        return;
    }
    if (state == GST_STATE_NULL) {
        startPipeline();
        return;
    }
    // A state asked while a seek holds the playbin is set after it.
    if (worker_->setStateAfterWork(static_cast<GstState>(wantedState_))) return;
    // Set once the next stream's source is made, if it is being set up.
    if (!context_->setStateUnlessNextOpens(playbin_, static_cast<GstState>(wantedState_)))
        return;
    followStateWhileNextOpens();
}

// While the stream handed over opens, the playbin tells it is on its way to a state its sink is
// already in (see settleOnWantedState); a message of it may be older than a change of ours.
void GStreamerQueuePlayer::followStateWhileNextOpens() {
    if (!playbin_) return;
    GstState state = GST_STATE_VOID_PENDING;
    GstState pending = GST_STATE_VOID_PENDING;
    if (gst_element_get_state(playbin_, &state, &pending, 0) == GST_STATE_CHANGE_ASYNC &&
        pending != GST_STATE_VOID_PENDING && nextStreamOpening())
        playingState_ = pending == GST_STATE_PLAYING;
}

// Whether the stream handed over is still opening (reading its start, to find what it is).
bool GStreamerQueuePlayer::nextStreamOpening() {
    GstElement* stream = nullptr;
    {
        std::lock_guard lock(context_->mutex);
        if (context_->sources.size() > 1)
            stream = GST_ELEMENT(gst_object_get_parent(GST_OBJECT(context_->sources.back())));
    }
    if (!stream) return false;
    bool opening = gst_element_get_state(stream, nullptr, nullptr, 0) == GST_STATE_CHANGE_ASYNC;
    gst_object_unref(stream);
    return opening;
}

// Prerolls the fresh playbin on its worker; the wanted state is set once it is back. Not before
// the turn that opened it is over: a short song is read to its end while it prerolls, and asks
// for the next one then, which the caller may queue right after.
void GStreamerQueuePlayer::startPipeline() {
    starting_ = true;
    later([this, epoch = epoch_] {
        if (epoch == epoch_) worker_->start();
    });
}

void GStreamerQueuePlayer::playbinStarted(std::uint64_t epoch) {
    later([this, epoch] { started(epoch); });
}

void GStreamerQueuePlayer::playbinMessage(std::uint64_t epoch, GstMessage* message,
                                          bool ofNextStream, std::uint64_t seeksFlushed) {
    std::shared_ptr<GstMessage> held(gst_message_ref(message), gst_message_unref);
    later([this, epoch, held, ofNextStream, seeksFlushed] {
        handleMessage(epoch, held.get(), ofNextStream, seeksFlushed);
    });
}

void GStreamerQueuePlayer::nextSourceMade(std::uint64_t epoch) {
    later([this, epoch] {
        if (epoch == epoch_) settleOnWantedState();
    });
}

// While the stream handed over opens, the playbin tells no change of state for one set by the
// worker (see followStateWhileNextOpens): it is followed here, or a song played on would be
// taken as held.
void GStreamerQueuePlayer::stateSetAfterWork(std::uint64_t epoch) {
    later([this, epoch] {
        if (epoch != epoch_) return;
        followStateWhileNextOpens();
        updateTimeControl();
    });
}

void GStreamerQueuePlayer::currentStreamDone(std::uint64_t epoch) {
    later([this, epoch] {
        if (epoch == epoch_) endBeforeFailedHandOver();
    });
}

void GStreamerQueuePlayer::currentRanOut(std::uint64_t epoch, std::uint64_t end,
                                         std::uint64_t seeksFlushed) {
    later([this, epoch, end, seeksFlushed] {
        if (epoch == epoch_) ranOut(end, seeksFlushed);
    });
}

void GStreamerQueuePlayer::currentStalled(std::uint64_t epoch, std::uint64_t end) {
    later([this, epoch, end] {
        if (epoch != epoch_ || awaitingNext_ || stalledAt_) return;
        // The next stream failed after the current one was read whole: its data stopping is
        // its end, which the playbin may never pass on behind the failed switch.
        if (handOverFailure_) {
            endBeforeFailedHandOver();
            return;
        }
        stalledAt_ = end;
        if (timeControl_ == TimeControlStatus::playing)
            later([this, current = currentItem()] { emitStalled(current); });
        applyTargetState();
        updateTimeControl();
    });
}

// Data that come after the clock was held for them play from where the data before ran out,
// however long they took; a clock started afresh since (a seek's flush) is left as it is.
void GStreamerQueuePlayer::resumeClockFrom(std::uint64_t end) {
    if (!playbin_) return;
    const GstClockTime paused = gst_element_get_start_time(playbin_);
    if (GST_CLOCK_TIME_IS_VALID(paused) && paused > end) gst_element_set_start_time(playbin_, end);
}

void GStreamerQueuePlayer::currentFlowsAgain(std::uint64_t epoch) {
    later([this, epoch] {
        if (epoch != epoch_ || !stalledAt_) return;
        resumeClockFrom(*stalledAt_);
        stalledAt_.reset();
        applyTargetState();
        updateTimeControl();
    });
}

void GStreamerQueuePlayer::seekLanded(std::uint64_t flush) {
    later([this, flush] {
        if (!seek_ || !seek_->issued || seek_->flush != flush) return;
        endBeforeFlush_ = false;
        finishSeek(true);
    });
}

bool GStreamerQueuePlayer::seekFlushAhead(std::uint64_t seeksFlushed) const {
    return seek_ && seek_->issued && seeksFlushed < seek_->flush;
}

void GStreamerQueuePlayer::seekRefused(std::uint64_t epoch, std::uint64_t flush) {
    later([this, epoch, flush] {
        if (epoch != epoch_ || !seek_ || seek_->flush != flush) return;
        finishSeek(false);
        if (std::exchange(endBeforeFlush_, false)) finishCurrent(Continuation::reopened);
    });
}

void GStreamerQueuePlayer::onMainQueue(std::function<void()> work) {
    later(std::move(work));
}

void GStreamerQueuePlayer::started(std::uint64_t epoch) {
    if (epoch != epoch_) return;
    starting_ = false;
    settleOnWantedState();
}

void GStreamerQueuePlayer::updateTimeControl() {
    auto current = currentItem();
    TimeControlStatus status = TimeControlStatus::paused;
    if (wantsToPlay_) {
        bool sounding = current && current->status() == PlayerItem::Status::readyToPlay &&
                        playingState_ && !buffering_ && !stalledAt_;
        status =
            sounding ? TimeControlStatus::playing : TimeControlStatus::waitingToPlayAtSpecifiedRate;
    }
    if (status == timeControl_) return;
    timeControl_ = status;
    later([this, status] { emitTimeControlStatusChanged(status); });
}

// Called whenever the queue changes, before the playbin is (re)started: the playbin may ask for
// the next item as soon as it runs, and must not be handed the one that just became current.
void GStreamerQueuePlayer::handOverNext() {
    plan_.candidate = items_.size() > nextIndex() ? items_[nextIndex()] : nullptr;
    if (plan_.candidate && plan_.candidate->id() == failedHandOver_) plan_.candidate = nullptr;
    if (context_) {
        // Told against the stream handed over as it is now, which a streaming thread may set.
        std::lock_guard lock(context_->handOverMutex);
        const auto& given = context_->handOver.handedOver;
        const bool dropped = given && (!plan_.candidate || plan_.candidate->id() != *given);
        // The stream handed over follows the current one; the current one's own start may not
        // have reached the sink yet.
        plan_.droppedStream = dropped ? currentStream_ + 1 : 0;
        context_->handOver.plan = plan_;
        ++context_->handOver.queueChanges;
    }
    // The next song's first data are fetched as soon as it is next, so that the change to it
    // does not wait on its server; a song neither current nor next keeps none.
    std::set<PlayerItem::Id> keep;
    if (!items_.empty()) keep.insert(items_.front()->id());
    if (items_.size() > nextIndex()) {
        keep.insert(items_[nextIndex()]->id());
        heads_->fetch(items_[nextIndex()]->id(), items_[nextIndex()]->uri());
    }
    heads_->keepOnly(keep);
    lookAtNext();
    if (!context_) return;
    later([context = context_] {
        {
            std::lock_guard lock(context->handOverMutex);
            --context->handOver.queueChanges;
        }
        context->lookAgain();
    });
}

void GStreamerQueuePlayer::publishPlan() {
    if (!context_) return;
    {
        std::lock_guard lock(context_->handOverMutex);
        context_->handOver.plan = plan_;
    }
    context_->lookAgain();
}

std::optional<PlayerItem::Id> GStreamerQueuePlayer::handedOver() const {
    if (!context_) return std::nullopt;
    std::lock_guard lock(context_->handOverMutex);
    return context_->handOver.handedOver;
}

// Has the file of the item behind the current one looked at for the playbin, which asks for it
// once the current stream has been read to its end, and wakes an ask waiting for a look.
void GStreamerQueuePlayer::lookAtNext() {
    if (!worker_) return;
    if (auto next = items_.size() > nextIndex() ? items_[nextIndex()] : nullptr)
        worker_->lookAtNext(next->id(), next->uri());
    // The item behind the current one is what an ask for the next stream waits on.
    context_->lookAgain();
}

// The current item reached its end. The next one is `reopened` from its start, or already
// `playing` gaplessly, or `broken`: handed over but failing, which the caller reports, or
// `awaiting` its data, handed over (or about to be) but not come when the current one's had
// been played. Once awaited, the next one goes on as one of the others, the end told already.
void GStreamerQueuePlayer::finishCurrent(Continuation next) {
    failedHandOver_.reset();
    // Ended already when its data ran out.
    const bool ended = std::exchange(awaitingNext_, next == Continuation::awaiting);
    if (!ended) {
        auto finished = currentItem();
        if (!finished) return;
        finishSeek(false);
        items_.pop_front();
        later([this, finished] { emitPlayedToEnd(finished); });
    }
    handOverNext();
    auto current = currentItem();
    if (next == Continuation::awaiting) {
        lastPosition_ = 0;
        applyTargetState();
    }
    if (next == Continuation::playing && context_) {
        ++currentStream_;
        {
            std::lock_guard lock(context_->mutex);
            if (!context_->sources.empty()) {
                gst_object_unref(context_->sources.front());
                context_->sources.pop_front();
            }
        }
        seekable_ = currentSourceCanSeek();
    }
    if (next == Continuation::playing && current) {
        lastPosition_ = 0;
        joinedUnheard_ = true;
        if (current->status() != PlayerItem::Status::readyToPlay) {
            current->setStatus(PlayerItem::Status::readyToPlay);
            later([this, current] { emitItemStatusChanged(current); });
        }
        queryDuration();
        if (ended && playbin_) {
            resumeClockFrom(ranOutAt_);
            applyTargetState();
        }
    } else if (next == Continuation::reopened) {
        openCurrent();
    }
    if (!ended) later([this, current] { emitCurrentItemChanged(current); });
    updateTimeControl();
}

void GStreamerQueuePlayer::ranOut(std::uint64_t end, std::uint64_t seeksFlushed) {
    // Run out before a seek's flush: the data that ran out are those the seek flushes.
    if (awaitingNext_ || items_.size() < 2 || !playbin_ || !playingState_ || handOverFailure_ ||
        seekFlushAhead(seeksFlushed))
        return;
    bool asking;
    {
        std::lock_guard lock(context_->mutex);
        asking = context_->askingForNext;
    }
    const auto given = handedOver();
    // Only a stream on its way is waited for: without one the current stream ends, and the next
    // item opens on its own.
    const bool coming = given ? *given == items_[1]->id() && plan_.droppedStream == 0 : asking;
    if (!coming) return;
    ranOutAt_ = end;
    finishCurrent(Continuation::awaiting);
}

void GStreamerQueuePlayer::issueSeek(double target) {
    joinedUnheard_ = false;  // the seek starts the running clock again
    if (!seekable_) {
        // Neither the position nor the rate can change; the stream plays on as it is.
        finishSeek(false);
        return;
    }
    plan_.seekWaiting = true;
    if (handedOver() || awaitingNext_) {
        // A flushing seek now would jump to the stream already handed over; reopen this one
        // and seek once it is ready. The hold keeps the hand-over until the seek is sent.
        if (!seek_) seek_ = PendingSeek{target, {}, false};
        openCurrent(true);
        return;
    }
    // Counted before it is sent: its flush may reach the sink before the call returns.
    const std::uint64_t flush = ++plan_.seeksSent;
    plan_.seekUnsent = false;
    publishPlan();
    if (seek_) {
        seek_->issued = true;
        seek_->flush = flush;
    }
    worker_->seek({rate_, target, flush});
}

void GStreamerQueuePlayer::finishSeek(bool finished) {
    plan_.seekWaiting = false;
    plan_.seekUnsent = false;
    publishPlan();
    if (!seek_) return;
    auto completion = std::move(seek_->completion);
    if (finished) lastPosition_ = seek_->target;
    seek_.reset();
    if (completion) later([completion, finished] { completion(finished); });
}

bool GStreamerQueuePlayer::currentSourceCanSeek() {
    if (auto current = currentItem(); current && unseekableUri_ == current->uri()) return false;
    GstElement* source = nullptr;
    {
        std::lock_guard lock(context_->mutex);
        if (!context_->sources.empty())
            source = GST_ELEMENT(gst_object_ref(context_->sources.front()));
    }
    if (!source) return false;
    bool seekable = canSeek(source);
    gst_object_unref(source);
    return seekable;
}

void GStreamerQueuePlayer::queryDuration() {
    auto current = currentItem();
    gint64 duration = 0;
    if (current && playbin_ && gst_element_query_duration(playbin_, GST_FORMAT_TIME, &duration) &&
        duration > 0) {
        current->setDuration(toSeconds(duration));
    }
}

}  // namespace velto
