#include <gtest/gtest.h>

#include <memory>

#include "artwork/ReadPatience.h"
#include "foundation/ManualMainQueue.h"

using namespace velto;

namespace {

// Patience runs out after a deadline of silence, counted from the last answer; a read that ended
// is never given up.
TEST(ReadPatience, RunsOutAfterADeadlineWithoutAnAnswer) {
    ManualMainQueue queue;
    auto patience = std::make_shared<ReadPatience>(queue, 3);
    patience->start();
    queue.advance(seconds(2));
    patience->answered();
    patience->answered();  // one note on its way, the same moment
    queue.runPending();
    queue.advance(seconds(2.9));
    EXPECT_FALSE(patience->token().stop_requested());
    queue.advance(seconds(0.2));
    EXPECT_TRUE(patience->token().stop_requested());

    auto ended = std::make_shared<ReadPatience>(queue, 3);
    ended->start();
    ended->end();
    queue.advance(seconds(10));
    EXPECT_FALSE(ended->token().stop_requested());
    EXPECT_EQ(queue.pendingTimerCount(), 0u);
}

}  // namespace
