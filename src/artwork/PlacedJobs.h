#pragma once

#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "artwork/LoadRoom.h"
#include "foundation/WorkerPool.h"

namespace velto {

// Jobs on the shared pool grouped by the place they wait on, started as `room` allows (see
// LoadRoom): a place that stopped answering holds a few workers, and the jobs of every other
// place pass its queue. Places take turns; the jobs of one start in the order asked. Jobs
// report through their own results; what one throws is dropped.
class PlacedJobs : public std::enable_shared_from_this<PlacedJobs> {
public:
    PlacedJobs(WorkerPool& pool, LoadRoom room);

    // Any thread.
    void add(const std::string& place, std::function<void()> job);
    // The place answered: its jobs running now no longer hold its room.
    void answered(const std::string& place);

private:
    struct Started {
        LoadRoom::Ticket ticket;
        std::function<void()> job;
    };

    // Under the lock.
    std::optional<Started> takeNext();
    void submit(std::vector<Started> started);
    void drain(Started started);

    WorkerPool& pool_;
    std::mutex mutex_;
    LoadRoom room_;
    std::map<std::string, std::deque<std::function<void()>>> lanes_;
    std::string lastServed_;
};

}  // namespace velto
