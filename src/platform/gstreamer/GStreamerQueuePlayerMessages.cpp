#include "platform/gstreamer/GStreamerQueuePlayer.h"

#include <gst/gst.h>

#include <algorithm>
#include <memory>
#include <utility>

#include "foundation/Log.h"
#include "platform/gstreamer/PlaybinCallbacks.h"
#include "platform/gstreamer/PlaybinContext.h"
#include "platform/gstreamer/PlaybinSupport.h"
#include "platform/gstreamer/PlaybinWorker.h"

// The player's answers to what its playbin tells: the messages of its bus, and its failures.
namespace velto {

using namespace playbin_support;

void GStreamerQueuePlayer::handleMessage(std::uint64_t epoch, GstMessage* message,
                                         bool ofNextStream, std::uint64_t seeksFlushed) {
    if (epoch != epoch_ || items_.empty()) return;
    auto current = currentItem();
    switch (GST_MESSAGE_TYPE(message)) {
        case GST_MESSAGE_ERROR: {
            GError* error = nullptr;
            gchar* debug = nullptr;
            gst_message_parse_error(message, &error, &debug);
            std::string text = error ? error->message : "playback error";
            GQuark domain = error ? error->domain : 0;
            int code = error ? error->code : 0;
            bool fromSource = isSourceElement(GST_MESSAGE_SRC(message));
            if (debug) Log::debug(logCategory, withoutSecrets(debug));
            g_clear_error(&error);
            g_free(debug);
            const auto given = handedOver();
            // A server that announces no ranges but a length seems seekable, and answers a seek
            // with the whole stream, which its source takes as a failure: the song starts again
            // and is not sought any more. The failing source tells whose seek it was: the
            // current stream's, or that of a song already ended, which changes nothing.
            if (fromSource && domain == GST_RESOURCE_ERROR && code == GST_RESOURCE_ERROR_SEEK) {
                bool known;
                bool ofCurrentStream;
                {
                    std::lock_guard lock(context_->mutex);
                    auto& sources = context_->sources;
                    auto failing = std::find(sources.begin(), sources.end(),
                                             GST_ELEMENT(GST_MESSAGE_SRC(message)));
                    known = failing != sources.end();
                    ofCurrentStream = failing == sources.begin() && known;
                }
                if (!known) break;
                if (ofCurrentStream && unseekableUri_ != current->uri()) {
                    unseekableUri_ = current->uri();
                    openCurrent();
                    break;
                }
            }
            // An error of the stream handed over: the playbin still plays the current one out
            // but holds back its end, so the current item ends once it has reached the sink,
            // or once its data stop (see currentStalled).
            if (given && ofNextStream) {
                if (!handOverFailure_) handOverFailure_ = Failure{domain, code, text, fromSource};
                bool playedOut;
                {
                    std::lock_guard lock(context_->mutex);
                    playedOut = context_->streamDone;
                }
                if (playedOut || stalledAt_) {
                    endBeforeFailedHandOver();
                } else {
                    settleOnWantedState();
                }
                break;
            }
            // Any other error after the hand-over stops both streams; the current one is taken
            // as ended, the next one as failed.
            if (given) {
                handOverFailure_ = Failure{domain, code, text, fromSource};
                endBeforeFailedHandOver();
                break;
            }
            failCurrent(domain, code, text, fromSource);
            break;
        }
        case GST_MESSAGE_EOS:
            // An end that reached the sink before the flush of a seek on its way (one sent as
            // the end was asked for) is the end of what that seek flushes: taken up only if the
            // seek is refused.
            if (seekFlushAhead(seeksFlushed)) {
                endBeforeFlush_ = true;
                break;
            }
            finishCurrent(Continuation::reopened);
            break;
        case GST_MESSAGE_STREAM_START: {
            if (++streamStarts_ == 1) break;
            std::optional<PlayerItem::Id> started;
            {
                std::lock_guard lock(context_->handOverMutex);
                started.swap(context_->handOver.handedOver);
            }
            if (items_.size() > nextIndex() && started == items_[nextIndex()]->id()) {
                finishCurrent(Continuation::playing);
            } else {
                // The stream handed over was dequeued meanwhile: go on with what is queued now.
                finishCurrent(Continuation::reopened);
            }
            break;
        }
        case GST_MESSAGE_ASYNC_DONE:
            if (!prerolled_) {
                prerolled_ = true;
                seekable_ = currentSourceCanSeek();
                queryDuration();
                if (current->status() != PlayerItem::Status::readyToPlay) {
                    current->setStatus(PlayerItem::Status::readyToPlay);
                    later([this, current] { emitItemStatusChanged(current); });
                }
                if (seek_) {
                    issueSeek(seek_->target);
                } else if (rate_ != 1.0) {
                    issueSeek(0);
                }
            }
            updateTimeControl();
            break;
        case GST_MESSAGE_STATE_CHANGED: {
            GstState state;
            GstState pending;
            gst_message_parse_state_changed(message, nullptr, &state, &pending);
            playingState_ = state == GST_STATE_PLAYING;
            // A clock paused meanwhile left the watch on the data's run-out unset.
            if (playingState_ && context_) {
                std::lock_guard lock(context_->mutex);
                PlaybinCallbacks::watchStall(context_);
            }
            if (pending == GST_STATE_VOID_PENDING) settleOnWantedState();
            followStateWhileNextOpens();
            updateTimeControl();
            break;
        }
        case GST_MESSAGE_BUFFERING: {
            gint percent = 100;
            gst_message_parse_buffering(message, &percent);
            bool buffering = percent < 100;
            if (buffering) {
                // The current stream was read to its end before the hand-over, so this is the
                // next one filling up; pausing for it would stall the end of the current one.
                // A full buffer is always taken: it may be the current stream's own, posted
                // just before the hand-over, and dropping it would leave it paused for good.
                if (handedOver()) break;
            }
            if (buffering == buffering_) break;
            if (buffering && timeControl_ == TimeControlStatus::playing)
                later([this, current] { emitStalled(current); });
            buffering_ = buffering;
            applyTargetState();
            updateTimeControl();
            break;
        }
        case GST_MESSAGE_DURATION_CHANGED:
            queryDuration();
            break;
        default:
            break;
    }
}

// The current item goes on from where it was heard on a fresh playbin, and the stream that failed
// behind it is opened on its own in its turn, where it fails cleanly.
void GStreamerQueuePlayer::reopenWhereHeard() {
    failedHandOver_ = handedOver();
    handOverFailure_.reset();
    handOverNext();
    if (!seek_) seek_ = PendingSeek{currentTime(), {}, false};
    openCurrent(true);
}

// After the stream handed over failed: the current item ends, and the failure is the next
// item's if that stream is still the one queued behind it.
void GStreamerQueuePlayer::endBeforeFailedHandOver() {
    if (!handOverFailure_) return;
    Failure failure = std::move(*handOverFailure_);
    handOverFailure_.reset();
    const auto given = handedOver();
    if (given && items_.size() > nextIndex() && *given == items_[nextIndex()]->id()) {
        finishCurrent(Continuation::broken);
        failCurrent(failure.domain, failure.code, failure.message, failure.fromSource);
    } else {
        // The failing stream was dequeued meanwhile: go on with what is queued now.
        finishCurrent(Continuation::reopened);
    }
}

void GStreamerQueuePlayer::failCurrent(GQuark domain, int code, const std::string& original,
                                       bool fromSource) {
    auto current = currentItem();
    if (!current) return;
    const bool wasReady = current->status() == PlayerItem::Status::readyToPlay;
    Log::error(logCategory,
               withoutSecrets("item " + std::to_string(current->id()) + " (" + current->uri() +
                              ") failed: " + original + " [" + g_quark_to_string(domain) + " " +
                              std::to_string(code) + "]"));
    // Why it failed may be told by its file, looked at on the playbin's worker before its stop:
    // on a share that stopped answering the look lasts as long as the share does, and would
    // hold every pause, seek and skip meanwhile.
    const bool byFile = worker_ && toldByFile(domain, fromSource, current->uri());
    auto failedAt = std::make_shared<std::uint64_t>(0);  // the epoch once retired, below
    auto fail = [this, current, wasReady, failedAt](const std::string& message) {
        if (*failedAt != epoch_) return;  // the item was left meanwhile
        current->setStatus(PlayerItem::Status::failed, message);
        later([this, current] { emitItemStatusChanged(current); });
        if (wasReady) later([this, current, message] { emitFailedToPlayToEnd(current, message); });
        updateTimeControl();
    };
    if (byFile) {
        worker_->post([teardowns = teardowns_, uri = current->uri(),
                       readable = options_.fileReadable, domain, code, fromSource, fail] {
            std::string message =
                describeFailure(domain, code, fromSource, lookAtFile(uri, readable));
            std::lock_guard lock(teardowns->mutex);
            if (teardowns->owner) teardowns->owner->onMainQueue([fail, message] { fail(message); });
        });
    }
    // The playbin cannot go on after an error; retire it until the queue changes.
    stopPipeline();
    *failedAt = epoch_;
    finishSeek(false);
    if (!byFile) {
        fail(describeFailure(domain, code, fromSource, std::nullopt));
        return;
    }
    updateTimeControl();
}

}  // namespace velto
