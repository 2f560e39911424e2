#include "foundation/AbandonableWork.h"

namespace velto {

AbandonableWork& AbandonableWork::shared() {
    // A thread left behind holds little more than its stack, as reads keep only the bytes that
    // arrived: enough room that covers, lyrics and file checks asked again and again while a
    // share hangs never turn away a read of a healthy disk. The bound leaves time for the
    // largest file read (a 16 MiB cover) from a slow share that still answers.
    static AbandonableWork work(256, std::chrono::seconds(10));
    return work;
}

}  // namespace velto
