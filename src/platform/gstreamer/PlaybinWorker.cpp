#include "platform/gstreamer/PlaybinWorker.h"

#include <string>
#include <utility>


namespace velto {

using namespace playbin_support;

PlaybinWorker::PlaybinWorker(PlaybinContextPtr context, std::shared_ptr<PlaybinThreads> threads,
                             std::shared_ptr<PlaybinTeardowns> teardowns, std::string place)
    : context_(std::move(context)),
      threads_(std::move(threads)),
      teardowns_(std::move(teardowns)),
      place_(std::move(place)) {}

void PlaybinWorker::start() {
    enqueue(Kind::other, [context = context_] {
        // Stopped before it started: nothing to start.
        if (!setStateUnlessRetired(*context, GST_STATE_PAUSED)) return;
        std::lock_guard lock(context->mutex);
        if (auto* owner = context->owner) owner->playbinStarted(context->epoch);
    });
}

void PlaybinWorker::seek(Seek seek) {
    enqueue(Kind::seek, [this, seek] { sendSeek(seek); });
}

bool PlaybinWorker::setStateAfterWork(std::optional<GstState> state) {
    std::lock_guard lock(mutex_);
    if (!running_) return false;
    std::erase_if(queued_, [](const Task& task) { return task.kind == Kind::state; });
    if (state) {
        queued_.push_back({Kind::state, [context = context_, state = *state] {
                               if (!setStateUnlessRetired(*context, state)) return;
                               std::lock_guard lock(context->mutex);
                               if (auto* owner = context->owner)
                                   owner->stateSetAfterWork(context->epoch);
                           }});
    }
    return true;
}

bool PlaybinWorker::setStateUnlessRetired(PlaybinContext& context, GstState state) {
    GstElement* playbin;
    {
        std::lock_guard lock(context.mutex);
        if (context.retired) return false;
        playbin = GST_ELEMENT(gst_object_ref(context.playbin));
    }
    context.setStateUnlessNextOpens(playbin, state);
    gst_object_unref(playbin);
    return true;
}

void PlaybinWorker::post(std::function<void()> work) {
    enqueue(Kind::other, std::move(work));
}

void PlaybinWorker::stop() {
    {
        std::lock_guard lock(context_->mutex);
        context_->retired = true;
    }
    teardowns_->track(context_->playbin, teardowns_);
    enqueue(Kind::stop, [context = context_, teardowns = teardowns_, threads = threads_] {
        // The playbin's switch does not look whether the playbin is being stopped: run over a
        // stop, it starts the group the stop has just put back, and waits on the stop from the
        // very thread the stop waits for.
        context->waitOutSwitches();
        // Stopped apart from the work on its place: a stop stuck on a read would hold it.
        if (teardowns->queue({context->playbin, context}))
            threads->run({}, [teardowns] { teardowns->stopWaiting(); });
    });
    PlaybinThreads::Ticket ticket;
    {
        std::lock_guard lock(mutex_);
        ticket = ticket_;
    }
    threads_->hurry(ticket);
}

void PlaybinWorker::lookAtNext(std::uint64_t item, const std::string& uri) {
    {
        std::lock_guard lock(context_->lookMutex);
        if (!context_->nextLooks.emplace(item, std::nullopt).second) return;
    }
    const std::string place = PlaybinThreads::placeOf(uri);
    // Looks have their own count at a place: a look stuck there holds no open of a song.
    threads_->run(place.empty() ? place : "look " + place, [context = context_, item, uri] {
        const bool readable = readableFile(uri, context->fileReadable);
        {
            std::lock_guard lock(context->lookMutex);
            context->nextLooks[item] = readable;
        }
        context->lookAgain();
    });
}

void PlaybinWorker::enqueue(Kind kind, std::function<void()> work) {
    {
        std::lock_guard lock(mutex_);
        // The last seek asked for is the only one worth sending: a seek not sent yet goes.
        if (kind == Kind::seek)
            std::erase_if(queued_, [](const Task& task) { return task.kind == Kind::seek; });
        queued_.push_back({kind, std::move(work)});
        if (std::exchange(running_, true)) return;
    }
    // Holds the worker, and with it the context, until the queue has been run.
    const auto ticket = threads_->run(place_, [self = shared_from_this()] { self->runQueued(); });
    std::lock_guard lock(mutex_);
    ticket_ = ticket;
}

void PlaybinWorker::runQueued() {
    while (true) {
        Task task;
        {
            std::lock_guard lock(mutex_);
            if (queued_.empty()) {
                running_ = false;
                return;
            }
            task = std::move(queued_.front());
            queued_.pop_front();
        }
        task.work();
    }
}

void PlaybinWorker::sendSeek(const Seek& seek) {
    GstElement* playbin;
    {
        std::lock_guard lock(context_->mutex);
        if (context_->retired) return;  // nothing to move
        playbin = GST_ELEMENT(gst_object_ref(context_->playbin));
    }
    context_->seekGiven.store(seek.flush);
    auto flags = static_cast<GstSeekFlags>(GST_SEEK_FLAG_FLUSH | GST_SEEK_FLAG_ACCURATE);
    bool sent = gst_element_seek(playbin, seek.rate, GST_FORMAT_TIME, flags, GST_SEEK_TYPE_SET,
                                 static_cast<gint64>(seek.target * GST_SECOND),
                                 GST_SEEK_TYPE_NONE, GST_CLOCK_TIME_NONE);
    gst_object_unref(playbin);
    std::lock_guard lock(context_->mutex);
    auto* owner = context_->owner;
    if (!owner) return;
    {
        // The stream's end is reached anew after the flush; the hand-over is asked for again,
        // unless another seek is on its way.
        std::lock_guard hold(context_->handOverMutex);
        context_->handOver.seekSent = seek.flush;
    }
    if (!sent) owner->seekRefused(context_->epoch, seek.flush);
}

}  // namespace velto
