#include "foundation/AbandonableWork.h"

namespace velto {

AbandonableWork& AbandonableWork::shared() {
    // Threads left behind cost little more than their stacks; the bound is long enough for the
    // largest file read (a 16 MiB cover) from a slow share that still answers.
    static AbandonableWork work(32, std::chrono::seconds(10));
    return work;
}

}  // namespace velto
