#include "platform/gstreamer/PlaybinTeardowns.h"

#include <string>

#include "foundation/Log.h"
#include "platform/gstreamer/PlaybinCallbacks.h"

namespace velto {

using namespace playbin_support;

void PlaybinTeardowns::track(GstElement* playbin, const std::shared_ptr<PlaybinTeardowns>& self) {
    {
        std::lock_guard lock(mutex);
        ++running_;
    }
    // Done when the playbin is finalized, which may be after our unref: a state change of its
    // own can still hold it on one of GStreamer's threads.
    g_object_set_qdata_full(G_OBJECT(playbin), teardownQuark(),
                            new std::shared_ptr<PlaybinTeardowns>(self), &releaseTracked);
}

void PlaybinTeardowns::releaseTracked(gpointer data) {
    if (!data) return;
    auto* teardowns = static_cast<std::shared_ptr<PlaybinTeardowns>*>(data);
    (*teardowns)->finish();
    delete teardowns;
}

bool PlaybinTeardowns::queue(Retired retired) {
    std::lock_guard lock(mutex);
    waiting_.push_back(std::move(retired));
    if (threads_ >= maxThreads_) return false;
    ++threads_;
    return true;
}

void PlaybinTeardowns::finish() {
    std::lock_guard lock(mutex);
    --running_;
    done_.notify_all();
    // Wakes a main queue waiting for tearingDown() to end.
    if (owner) owner->onMainQueue([] {});
}

void PlaybinTeardowns::stopWaiting() {
    while (true) {
        Retired retired;
        {
            std::lock_guard lock(mutex);
            if (waiting_.empty()) {
                --threads_;
                return;
            }
            retired = std::move(waiting_.front());
            waiting_.pop_front();
        }
        if (stop(retired.playbin)) keepOrRelease(retired.playbin);
    }
}

void PlaybinTeardowns::keepOrRelease(GstElement* playbin) {
    if (!partsOf(playbin)) {
        gst_object_unref(playbin);
        return;
    }
    PlaybinCallbacks::detach(playbin);
    // Told torn down only once kept, or when finalized: a test that counts what is alive once
    // no teardown runs sees neither a kept playbin nor a freed one as both.
    gpointer tracked = g_object_steal_qdata(G_OBJECT(playbin), teardownQuark());
    bool keep;
    {
        std::lock_guard lock(mutex);
        keep = owner && keeping_ && static_cast<int>(kept_.size()) < maxKept_;
        if (keep) kept_.push_back(playbin);
    }
    if (keep) {
        releaseTracked(tracked);
        return;
    }
    if (tracked)
        g_object_set_qdata_full(G_OBJECT(playbin), teardownQuark(), tracked, &releaseTracked);
    gst_object_unref(playbin);
}

GstElement* PlaybinTeardowns::takeStopped() {
    std::lock_guard lock(mutex);
    if (kept_.empty()) return nullptr;
    // The longest kept first: which one a skip gets does not hang on how soon the playbin it
    // replaced has stopped.
    GstElement* playbin = kept_.front();
    kept_.erase(kept_.begin());
    return playbin;
}

void PlaybinTeardowns::keepStopped(bool keep) {
    std::vector<GstElement*> released;
    {
        std::lock_guard lock(mutex);
        keeping_ = keep;
        if (!keep) released.swap(kept_);
    }
    for (GstElement* playbin : released) gst_object_unref(playbin);
}

bool PlaybinTeardowns::running() const {
    std::lock_guard lock(mutex);
    return running_ > 0;
}

void PlaybinTeardowns::release(std::chrono::milliseconds limit) {
    std::vector<GstElement*> released;
    std::unique_lock lock(mutex);
    owner = nullptr;
    released.swap(kept_);
    lock.unlock();
    for (GstElement* playbin : released) gst_object_unref(playbin);
    lock.lock();
    done_.wait_for(lock, limit, [&] { return running_ == 0; });
}

bool PlaybinTeardowns::stop(GstElement* playbin) {
    constexpr int attempts = 3;
    for (int attempt = 1; attempt <= attempts; ++attempt) {
        if (gst_element_set_state(playbin, GST_STATE_NULL) != GST_STATE_CHANGE_FAILURE) {
            if (attempt == 1) return true;
            gst_object_unref(playbin);
            return false;
        }
        Log::info(logCategory, std::string("stopping ") + GST_ELEMENT_NAME(playbin) +
                                   " failed, attempt " + std::to_string(attempt));
    }
    Log::error(logCategory, std::string(GST_ELEMENT_NAME(playbin)) + " cannot be stopped");
    g_object_set_qdata(G_OBJECT(playbin), teardownQuark(), nullptr);  // counted as done
    return false;
}

}  // namespace velto
