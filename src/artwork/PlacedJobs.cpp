#include "artwork/PlacedJobs.h"

namespace velto {

PlacedJobs::PlacedJobs(WorkerPool& pool, LoadRoom room) : pool_(pool), room_(std::move(room)) {}

void PlacedJobs::add(const std::string& place, std::function<void()> job) {
    std::vector<Started> next;
    {
        std::lock_guard lock(mutex_);
        lanes_[place].push_back(std::move(job));
        if (auto started = takeNext()) next.push_back(std::move(*started));
    }
    submit(std::move(next));
}

void PlacedJobs::answered(const std::string& place) {
    std::vector<Started> next;
    {
        std::lock_guard lock(mutex_);
        room_.answered(place);
        while (auto started = takeNext()) next.push_back(std::move(*started));
    }
    submit(std::move(next));
}

std::optional<PlacedJobs::Started> PlacedJobs::takeNext() {
    if (lanes_.empty()) return std::nullopt;
    // The turn passes to the place after the one served last.
    auto lane = lanes_.upper_bound(lastServed_);
    for (std::size_t looked = 0; looked < lanes_.size(); ++looked, ++lane) {
        if (lane == lanes_.end()) lane = lanes_.begin();
        if (!room_.mayStart(lane->first)) continue;
        lastServed_ = lane->first;
        Started started{room_.started(lane->first), std::move(lane->second.front())};
        lane->second.pop_front();
        if (lane->second.empty()) lanes_.erase(lane);
        return started;
    }
    return std::nullopt;
}

void PlacedJobs::submit(std::vector<Started> started) {
    for (Started& next : started)
        pool_.submit([self = shared_from_this(), next = std::move(next)]() mutable {
            self->drain(std::move(next));
        });
}

void PlacedJobs::drain(Started started) {
    for (;;) {
        try {
            started.job();
        } catch (...) {
            // Jobs report through their own results.
        }
        std::vector<Started> more;
        {
            std::lock_guard lock(mutex_);
            room_.ended(started.ticket);
            auto next = takeNext();
            if (!next) return;
            started = std::move(*next);
            // An end can free the room of more than one: the waiting room of its place and
            // the pool's.
            while (auto other = takeNext()) more.push_back(std::move(*other));
        }
        submit(std::move(more));
    }
}

}  // namespace velto
