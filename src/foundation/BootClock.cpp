#include "foundation/BootClock.h"

#include <time.h>

namespace velto {

MainQueue::Duration BootClock::now() {
    timespec now{};
    clock_gettime(CLOCK_BOOTTIME, &now);
    return std::chrono::seconds(now.tv_sec) + std::chrono::nanoseconds(now.tv_nsec);
}

}  // namespace velto
