#include "platform/gstreamer/PlaybinWorker.h"

#include <exception>
#include <string>
#include <thread>
#include <utility>

#include "foundation/Log.h"

namespace velto {

using namespace playbin_support;

PlaybinWorker::PlaybinWorker(PlaybinContextPtr context, StartThread startThread,
                             std::shared_ptr<PlaybinTeardowns> teardowns)
    : context_(std::move(context)),
      startThread_(std::move(startThread)),
      teardowns_(std::move(teardowns)) {}

void PlaybinWorker::start() {
    enqueue(playbinLane_, Kind::other, [context = context_] {
        // Stopped before it started: nothing to start.
        if (!setStateUnlessRetired(*context, GST_STATE_PAUSED)) return;
        std::lock_guard lock(context->mutex);
        if (auto* owner = context->owner) owner->playbinStarted(context->epoch);
    });
}

void PlaybinWorker::seek(Seek seek) {
    enqueue(playbinLane_, Kind::seek, [this, seek] { sendSeek(seek); });
}

bool PlaybinWorker::setStateAfterWork(std::optional<GstState> state) {
    std::lock_guard lock(mutex_);
    if (!playbinLane_.running) return false;
    std::erase_if(playbinLane_.queued, [](const Task& task) { return task.kind == Kind::state; });
    if (state) {
        playbinLane_.queued.push_back(
            {Kind::state,
             [context = context_, state = *state] { setStateUnlessRetired(*context, state); }});
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
    enqueue(playbinLane_, Kind::other, std::move(work));
}

void PlaybinWorker::stop() {
    {
        std::lock_guard lock(context_->mutex);
        context_->retired = true;
    }
    teardowns_->track(context_->playbin, teardowns_);
    enqueue(playbinLane_, Kind::stop, [context = context_, teardowns = teardowns_] {
        // The playbin's switch does not look whether the playbin is being stopped: run over a
        // stop, it starts the group the stop has just put back, and waits on the stop from the
        // very thread the stop waits for.
        context->waitOutSwitches();
        if (teardowns->queue({context->playbin, context})) teardowns->stopWaiting();
    });
}

void PlaybinWorker::lookAtNext(std::uint64_t item, const std::string& uri) {
    {
        std::lock_guard lock(context_->lookMutex);
        if (!context_->nextLooks.emplace(item, std::nullopt).second) return;
    }
    enqueue(lookLane_, Kind::other, [context = context_, item, uri] {
        const bool readable = readableFile(uri, context->fileReadable);
        {
            std::lock_guard lock(context->lookMutex);
            context->nextLooks[item] = readable;
        }
        context->lookAgain();
    });
}

void PlaybinWorker::enqueue(Lane& lane, Kind kind, std::function<void()> work) {
    {
        std::lock_guard lock(mutex_);
        // The last seek asked for is the only one worth sending: a seek not sent yet goes.
        if (kind == Kind::seek)
            std::erase_if(lane.queued, [](const Task& task) { return task.kind == Kind::seek; });
        lane.queued.push_back({kind, std::move(work)});
        if (std::exchange(lane.running, true)) return;
    }
    // Holds the worker, and with it the context, until the queue has been run.
    auto run = [self = shared_from_this(), &lane] { self->runQueued(lane); };
    try {
        if (startThread_) {
            startThread_(run);
        } else {
            std::thread(run).detach();
        }
    } catch (const std::exception& error) {
        // Done here then, whatever the wait: a playbin left running would play on unheard.
        Log::error(logCategory, std::string("no thread for a playbin: ") + error.what());
        run();
    }
}

void PlaybinWorker::runQueued(Lane& lane) {
    while (true) {
        Task task;
        {
            std::lock_guard lock(mutex_);
            if (lane.queued.empty()) {
                lane.running = false;
                return;
            }
            task = std::move(lane.queued.front());
            lane.queued.pop_front();
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
