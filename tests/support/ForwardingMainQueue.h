#pragma once

#include <chrono>
#include <functional>

#include "foundation/MainQueue.h"

namespace velto {

// A main queue that hands everything to another; a subclass steps in where it needs to (a post
// held back, a turn timed).
class ForwardingMainQueue : public MainQueue {
  public:
    explicit ForwardingMainQueue(MainQueue& inner) : inner_(inner) {}

    void post(std::function<void()> work) override { inner_.post(std::move(work)); }
    TimerId schedule(Duration delay, std::function<void()> work) override {
        return inner_.schedule(delay, std::move(work));
    }
    TimerId scheduleRepeating(Duration interval, std::function<void()> work) override {
        return inner_.scheduleRepeating(interval, std::move(work));
    }
    void cancel(TimerId id) override { inner_.cancel(id); }
    Duration uptime() const override { return inner_.uptime(); }
    std::chrono::system_clock::time_point wallNow() const override { return inner_.wallNow(); }

  protected:
    MainQueue& inner_;
};

}  // namespace velto
