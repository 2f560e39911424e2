#pragma once

#include <cstdint>
#include <optional>

#include "platform/PlayerItem.h"

namespace velto {

// What the player decided that the playbin's streaming threads go by, for the hand-over of the
// next stream and the seeks it waits for. The main thread keeps its own and writes it whole.
struct HandOverPlan {
    PlayerItemPtr candidate;  // the item behind the current one
    double rate = 1.0;
    bool seekWaiting = false;  // a seek is waiting to be sent
    bool seekUnsent = false;   // ... and not even counted in seeksSent
    std::uint64_t seeksSent = 0;  // flushing seeks counted, over every playbin
    // The stream handed over that is no longer the item behind the current one: its number in
    // the playbin's order (1 the first it played), 0 for none.
    int droppedStream = 0;
};

// What the streaming threads made of the plan, and what the seeks came to.
struct PlaybinHandOver {
    HandOverPlan plan;  // written by the main thread only
    std::optional<PlayerItem::Id> handedOver;  // given to the playbin, not yet started
    // Changes of the queue in the main thread's turn under way, counted down once it is over:
    // until then nothing behind the current item may be only the moment between a removal and
    // an insert.
    int queueChanges = 0;
    // The last seek whose call to the playbin returned; the last one whose flush reached the
    // sink (one counted later may not have been sent yet); the last one whose flush was
    // followed there by data, a gap or the end.
    std::uint64_t seekSent = 0;
    std::uint64_t seekFlushed = 0;
    std::uint64_t seekLanded = 0;

    // A seek on its way flushes the end an ask for the next stream is for, unless its flush has
    // passed: then that is the end the seek leads to.
    bool seekAhead() const {
        const bool held = plan.seekWaiting && (plan.seekUnsent || seekSent != plan.seeksSent);
        return held && (plan.seekUnsent || seekFlushed != plan.seeksSent);
    }
};

}  // namespace velto
