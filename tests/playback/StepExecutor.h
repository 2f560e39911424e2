#pragma once

#include <deque>
#include <functional>

namespace velto {

// Holds blocking jobs until the test lets them run, so that every resolution finishes exactly
// when the test says.
class StepExecutor {
  public:
    void submit(std::function<void()> job) { jobs_.push_back(std::move(job)); }
    // Runs the jobs waiting now and those they submit; returns how many ran.
    std::size_t runAll() {
        std::size_t count = 0;
        while (!jobs_.empty()) {
            auto job = std::move(jobs_.front());
            jobs_.pop_front();
            job();
            ++count;
        }
        return count;
    }
    std::size_t pending() const { return jobs_.size(); }

  private:
    std::deque<std::function<void()>> jobs_;
};

}  // namespace velto
