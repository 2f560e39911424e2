#include "platform/gstreamer/PlaybinThreads.h"

#include <gst/gst.h>

#include <algorithm>
#include <exception>
#include <thread>
#include <utility>

#include "foundation/Log.h"
#include "platform/gstreamer/PlaybinSupport.h"

namespace velto {

using namespace playbin_support;

PlaybinThreads::PlaybinThreads(StartThread startThread, int perPlace, int maxIdle)
    : startThread_(std::move(startThread)), perPlace_(perPlace), maxIdle_(maxIdle) {}

std::string PlaybinThreads::placeOf(const std::string& uri) {
    gchar* path = g_filename_from_uri(uri.c_str(), nullptr, nullptr);
    if (!path) return {};
    gchar* folder = g_path_get_dirname(path);
    std::string place = folder;
    g_free(folder);
    g_free(path);
    return place;
}

PlaybinThreads::Ticket PlaybinThreads::run(const std::string& place, std::function<void()> work) {
    std::unique_lock lock(mutex_);
    const Ticket ticket = ++lastTicket_;
    Job job{ticket, place, std::move(work)};
    if (!place.empty() && !closed_) {
        if (running_[place] >= perPlace_) {
            waiting_[place].push_back(std::move(job));
            return ticket;
        }
        ++running_[place];
    }
    dispatch(lock, std::move(job));
    return ticket;
}

void PlaybinThreads::hurry(Ticket ticket) {
    std::unique_lock lock(mutex_);
    for (auto& [place, queued] : waiting_) {
        auto it = std::find_if(queued.begin(), queued.end(),
                               [&](const Job& job) { return job.ticket == ticket; });
        if (it == queued.end()) continue;
        Job job = std::move(*it);
        queued.erase(it);
        if (queued.empty()) waiting_.erase(place);
        job.place.clear();  // outside the count of its place
        dispatch(lock, std::move(job));
        return;
    }
}

void PlaybinThreads::dispatch(std::unique_lock<std::mutex>& lock, Job job) {
    const Ticket ticket = job.ticket;
    if (!closed_) {
        jobs_.push_back(std::move(job));
        // Threads on their way take work as idle ones do.
        if (idle_ + starting_ >= static_cast<int>(jobs_.size())) {
            ready_.notify_one();
            return;
        }
        // The threads kept are made at once, so that the work of a song change, which comes in a
        // burst, finds them there whichever way it falls.
        const int wanted = std::max(1, maxIdle_ - threads_);
        threads_ += wanted;
        starting_ += wanted;
        lock.unlock();
        int started = 0;
        try {
            for (; started < wanted; ++started) {
                if (startThread_) {
                    startThread_([self = shared_from_this()] { self->loop(); });
                } else {
                    std::thread([self = shared_from_this()] { self->loop(); }).detach();
                }
            }
        } catch (const std::exception& error) {
            Log::error(logCategory, std::string("no thread for a playbin: ") + error.what());
        }
        lock.lock();
        threads_ -= wanted - started;
        starting_ -= wanted - started;
        if (started > 0) return;
        auto it = std::find_if(jobs_.begin(), jobs_.end(),
                               [&](const Job& queued) { return queued.ticket == ticket; });
        if (it == jobs_.end()) return;  // an idle thread took it meanwhile
        job = std::move(*it);
        jobs_.erase(it);
    }
    // Done here then, whatever the wait: a playbin left running would play on unheard.
    lock.unlock();
    job.work();
    lock.lock();
    if (!job.place.empty()) leave(job.place);
    // Whatever got its turn and found no thread to take it.
    while (!jobs_.empty() && idle_ == 0 && threads_ == 0) {
        Job next = std::move(jobs_.front());
        jobs_.pop_front();
        lock.unlock();
        next.work();
        lock.lock();
        if (!next.place.empty()) leave(next.place);
    }
}

void PlaybinThreads::leave(const std::string& place) {
    auto waiting = waiting_.find(place);
    if (waiting == waiting_.end()) {
        if (--running_[place] <= 0) running_.erase(place);
        return;
    }
    // Its turn, on the thread count the place had.
    jobs_.push_back(std::move(waiting->second.front()));
    waiting->second.pop_front();
    if (waiting->second.empty()) waiting_.erase(waiting);
    ready_.notify_one();
}

int PlaybinThreads::busy() const {
    std::lock_guard lock(mutex_);
    return threads_ - idle_ - starting_;
}

void PlaybinThreads::close() {
    std::lock_guard lock(mutex_);
    closed_ = true;
    ready_.notify_all();
}

void PlaybinThreads::loop() {
    std::unique_lock lock(mutex_);
    --starting_;
    while (true) {
        if (jobs_.empty()) {
            // Closed, or enough threads kept idle already: this one ends.
            if (closed_ || idle_ >= maxIdle_) {
                --threads_;
                return;
            }
            ++idle_;
            ready_.wait(lock, [&] { return !jobs_.empty() || closed_; });
            --idle_;
            continue;
        }
        Job job = std::move(jobs_.front());
        jobs_.pop_front();
        lock.unlock();
        job.work();
        job.work = nullptr;  // what it holds goes before the next
        lock.lock();
        if (!job.place.empty()) leave(job.place);
    }
}

}  // namespace velto
