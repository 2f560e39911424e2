#include <gtest/gtest.h>

#include "foundation/ManualMainQueue.h"
#include "support/FakeQueuePlayer.h"

namespace velto {
namespace {

using Status = QueuePlayer::TimeControlStatus;

// The scripted player must keep the contract of the real one, or service tests prove nothing.
TEST(FakeQueuePlayerTest, PositionFollowsTheVirtualClockWhilePlaying) {
    ManualMainQueue queue;
    FakeQueuePlayer player(queue);
    std::vector<double> ticks;
    player.addPeriodicTimeObserver(seconds(0.2), [&](double time) { ticks.push_back(time); });
    auto item = std::make_shared<PlayerItem>("file:///a.flac");
    player.insert(item);
    player.play();
    EXPECT_EQ(player.timeControlStatus(), Status::waitingToPlayAtSpecifiedRate);
    player.makeReady(item, 3.0);
    EXPECT_EQ(player.timeControlStatus(), Status::playing);
    queue.advance(seconds(1.0));
    EXPECT_NEAR(player.currentTime(), 1.0, 1e-9);
    EXPECT_EQ(ticks.size(), 5u);
    player.setRate(2.0);
    queue.advance(seconds(0.5));
    EXPECT_NEAR(player.currentTime(), 2.0, 1e-9);
    player.pause();
    queue.advance(seconds(5));
    EXPECT_NEAR(player.currentTime(), 2.0, 1e-9);
    player.play();
    queue.advance(seconds(5));
    EXPECT_NEAR(player.currentTime(), 3.0, 1e-9);  // held at the known duration
}

TEST(FakeQueuePlayerTest, ScriptedEventsArriveInTheRealPlayersOrder) {
    ManualMainQueue queue;
    FakeQueuePlayer player(queue);
    std::vector<std::string> events;
    player.addPlayedToEndObserver(
        [&](const PlayerItemPtr& i) { events.push_back("end " + i->uri()); });
    player.addCurrentItemObserver([&](const PlayerItemPtr& i) {
        events.push_back("current " + (i ? i->uri() : std::string("none")));
    });
    player.addStalledObserver(
        [&](const PlayerItemPtr& i) { events.push_back("stalled " + i->uri()); });
    player.addFailedToPlayToEndObserver([&](const PlayerItemPtr& i, const std::string& message) {
        events.push_back("broke " + i->uri() + " " + message);
    });
    auto a = std::make_shared<PlayerItem>("a");
    auto b = std::make_shared<PlayerItem>("b");
    player.insert(a);
    player.insert(b, a);
    player.makeReady(a);
    player.play();
    player.stall();
    EXPECT_EQ(player.timeControlStatus(), Status::waitingToPlayAtSpecifiedRate);
    player.resume();
    EXPECT_TRUE(events.empty());  // delivered later, never inside the call
    player.finishCurrentItem();
    player.setItemStatus(b, PlayerItem::Status::failed, "gone");  // never started: no "broke"
    queue.runPending();
    std::vector<std::string> expected = {"current a", "stalled a", "end a", "current b"};
    EXPECT_EQ(events, expected);
    EXPECT_EQ(player.calls(), (std::vector<std::string>{"insert a", "insert b", "play"}));
}

TEST(FakeQueuePlayerTest, HeldSeeksAreInterruptedByTheNextSeekOrItem) {
    ManualMainQueue queue;
    FakeQueuePlayer player(queue);
    auto a = std::make_shared<PlayerItem>("a");
    player.insert(a);
    std::vector<std::string> results;
    // Asked while the item is still opening: it waits for the item and then lands.
    player.seek(5, [&](bool done) { results.push_back("early " + std::to_string(done)); });
    EXPECT_EQ(player.currentTime(), 5);
    player.makeReady(a, 240);
    player.holdSeeks(true);
    player.seek(500, [&](bool done) { results.push_back("first " + std::to_string(done)); });
    EXPECT_EQ(player.currentTime(), 240);
    player.seek(30, [&](bool done) { results.push_back("second " + std::to_string(done)); });
    player.removeAllItems();
    queue.runPending();
    EXPECT_EQ(results, (std::vector<std::string>{"early 1", "first 0", "second 0"}));
}

TEST(FakeQueuePlayerTest, OpensEachItemWhenItBecomesCurrentIfAskedTo) {
    ManualMainQueue queue;
    FakeQueuePlayer player(queue);
    player.openItemsAutomatically(true, 180);
    auto a = std::make_shared<PlayerItem>("a");
    auto b = std::make_shared<PlayerItem>("b");
    player.insert(a);
    player.insert(b);
    EXPECT_EQ(a->status(), PlayerItem::Status::unknown);  // opens later, not inside insert
    queue.runPending();
    EXPECT_EQ(a->status(), PlayerItem::Status::readyToPlay);
    EXPECT_EQ(a->duration(), 180);
    EXPECT_EQ(b->status(), PlayerItem::Status::unknown);  // waits behind the current one

    // A seek waiting for an item that then fails has nothing to land in.
    player.openItemsAutomatically(false);
    player.finishCurrentItem();
    std::optional<bool> sought;
    player.seek(30, [&](bool done) { sought = done; });
    queue.runPending();
    EXPECT_FALSE(sought.has_value());
    player.setItemStatus(b, PlayerItem::Status::failed, "gone");
    queue.runPending();
    EXPECT_EQ(sought, false);
    EXPECT_EQ(player.currentTime(), 0);
    EXPECT_EQ(player.seekTargets(), std::vector<double>{30});
}

}  // namespace
}  // namespace velto
