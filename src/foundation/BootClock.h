#pragma once

#include <functional>

#include "foundation/MainQueue.h"

namespace velto {

// Time since the machine started, including the time it spent suspended (CLOCK_BOOTTIME).
// MainQueue::uptime() stands still while the machine sleeps; a deadline the user set by the
// clock on the wall runs on this one. Tests hand in a function of their own instead.
class BootClock {
public:
    using Now = std::function<MainQueue::Duration()>;

    static MainQueue::Duration now();
};

}  // namespace velto
