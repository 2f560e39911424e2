#include <gtest/gtest.h>

#include "foundation/ManualMainQueue.h"
#include "support/FakeQueuePlayer.h"

namespace velto {
namespace {

using namespace std::chrono_literals;

// A periodic observer keeps a timer only while the player plays, so a paused program is not
// woken five times a second for a time that does not move.
TEST(QueuePlayerTimerTest, PeriodicObserverRunsOnlyWhilePlaying) {
    ManualMainQueue queue;
    FakeQueuePlayer player(queue);
    std::vector<double> ticks;
    const std::size_t idle = queue.pendingTimerCount();
    auto token = player.addPeriodicTimeObserver(200ms, [&](double time) { ticks.push_back(time); });
    EXPECT_EQ(queue.pendingTimerCount(), idle);

    auto item = std::make_shared<PlayerItem>("file:///a.flac");
    player.insert(item);
    player.play();
    player.makeReady(item, 30.0);
    queue.runPending();
    const std::size_t playing = queue.pendingTimerCount();
    EXPECT_GT(playing, idle);
    queue.advance(1s);
    EXPECT_EQ(ticks.size(), 5u);

    for (int round = 0; round < 3; ++round) {
        player.pause();
        queue.runPending();
        const std::size_t paused = queue.pendingTimerCount();
        EXPECT_EQ(paused + 1, playing) << "round " << round;
        queue.advance(5s);
        EXPECT_EQ(ticks.size(), 5u + 5u * round);
        player.play();
        queue.advance(1s);
        EXPECT_EQ(ticks.size(), 10u + 5u * round);
        EXPECT_EQ(queue.pendingTimerCount(), playing);
    }
    player.removeObserver(token);
    EXPECT_EQ(queue.pendingTimerCount() + 1, playing);
}

}  // namespace
}  // namespace velto
