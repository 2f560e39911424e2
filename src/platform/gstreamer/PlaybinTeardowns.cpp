#include "platform/gstreamer/PlaybinTeardowns.h"

#include <string>

#include "foundation/Log.h"

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
                            new std::shared_ptr<PlaybinTeardowns>(self), [](gpointer data) {
                                auto* teardowns =
                                    static_cast<std::shared_ptr<PlaybinTeardowns>*>(data);
                                (*teardowns)->finish();
                                delete teardowns;
                            });
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
        stop(retired.playbin);
    }
}

bool PlaybinTeardowns::running() const {
    std::lock_guard lock(mutex);
    return running_ > 0;
}

void PlaybinTeardowns::release(std::chrono::milliseconds limit) {
    std::unique_lock lock(mutex);
    owner = nullptr;
    done_.wait_for(lock, limit, [&] { return running_ == 0; });
}

void PlaybinTeardowns::stop(GstElement* playbin) {
    constexpr int attempts = 3;
    for (int attempt = 1; attempt <= attempts; ++attempt) {
        if (gst_element_set_state(playbin, GST_STATE_NULL) != GST_STATE_CHANGE_FAILURE) {
            gst_object_unref(playbin);
            return;
        }
        Log::info(logCategory, std::string("stopping ") + GST_ELEMENT_NAME(playbin) +
                                   " failed, attempt " + std::to_string(attempt));
    }
    Log::error(logCategory, std::string(GST_ELEMENT_NAME(playbin)) + " cannot be stopped");
    g_object_set_qdata(G_OBJECT(playbin), teardownQuark(), nullptr);  // counted as done
}

}  // namespace velto
