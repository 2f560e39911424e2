#pragma once

#include <functional>
#include <utility>

namespace velto {

// Runs `release` as the scope ends, however it ends: a failed assertion returns early, and what
// a test holds (a thread, a hook, a gate) must still be let go before what waits on it stops.
class AtScopeEnd {
  public:
    explicit AtScopeEnd(std::function<void()> release) : release_(std::move(release)) {}
    ~AtScopeEnd() {
        if (release_) release_();
    }
    AtScopeEnd(const AtScopeEnd&) = delete;
    AtScopeEnd& operator=(const AtScopeEnd&) = delete;

  private:
    std::function<void()> release_;
};

}  // namespace velto
