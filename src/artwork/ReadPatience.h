#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <optional>
#include <stop_token>

#include "foundation/MainQueue.h"

namespace velto {

// The patience of a read of the user's files: it runs out once the file system has not answered
// for `deadline` of main-queue time, however long the read takes in all.
class ReadPatience : public std::enable_shared_from_this<ReadPatience> {
public:
    ReadPatience(MainQueue& queue, double deadline);

    // Stopped when the patience runs out.
    std::stop_token token() const { return out_.get_token(); }

    // Any thread.
    void start();
    void end();
    // At most one note on its way at a time, however fast the answers come.
    void answered();

private:
    // Main thread.
    void check();

    MainQueue& queue_;
    const MainQueue::Duration deadline_;
    std::stop_source out_;
    std::mutex mutex_;
    MainQueue::TimerId timer_ = 0;
    bool ended_ = false;
    std::atomic<bool> noting_{false};
    std::optional<MainQueue::Duration> lastAnswer_;  // main thread
};

}  // namespace velto
