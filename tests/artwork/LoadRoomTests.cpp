#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "artwork/LoadRoom.h"

using namespace velto;

namespace {

const std::string home = "/home", network = "network", processor;

LoadRoom room(std::size_t width) { return LoadRoom(width, {home, network}, {processor}); }

// Starts loads of `place` while the room allows, at most `most`; how many started.
std::size_t fill(LoadRoom& room, const std::string& place, std::vector<LoadRoom::Ticket>& tickets,
                 std::size_t most = 64) {
    std::size_t started = 0;
    while (started < most && room.mayStart(place)) {
        tickets.push_back(room.started(place));
        ++started;
    }
    return started;
}

// However many shares hang, the home disk and the network each still start a load, on every
// size of pool; a share that does not answer holds at most its bound.
TEST(LoadRoom, HungSharesLeaveRoomForTheHomeDiskAndTheNetwork) {
    for (std::size_t width : {3u, 4u, 8u, 16u}) {
        for (std::size_t hung : {1u, 2u, 3u, 5u}) {
            SCOPED_TRACE("width " + std::to_string(width) + ", hung " + std::to_string(hung));
            LoadRoom loads = room(width);
            std::vector<LoadRoom::Ticket> tickets;
            std::size_t held = 0;
            for (std::size_t share = 0; share < hung; ++share) {
                const std::size_t started = fill(loads, "/mnt/" + std::to_string(share), tickets);
                EXPECT_LE(started, loads.quietBound());
                held += started;
            }
            EXPECT_GE(held, 1u);
            EXPECT_LE(held + 2, width);
            EXPECT_TRUE(loads.mayStart(home));
            tickets.push_back(loads.started(home));
            EXPECT_TRUE(loads.mayStart(network));
        }
    }
}

// With two workers, one hung share takes one; the other stays for the home disk and the network.
TEST(LoadRoom, TwoWorkersKeepOneFromTheShares) {
    LoadRoom loads = room(2);
    std::vector<LoadRoom::Ticket> tickets;
    EXPECT_EQ(fill(loads, "/mnt/a", tickets), 1u);
    EXPECT_FALSE(loads.mayStart("/mnt/b"));
    EXPECT_TRUE(loads.mayStart(home));
    EXPECT_TRUE(loads.mayStart(network));
}

// A place that answers uses the room the others leave: the network alone, answering each load,
// comes to the whole pool; a share answering slowly on four workers runs four reads, not one.
TEST(LoadRoom, APlaceThatAnswersUsesTheRoomTheOthersLeave) {
    for (const std::string& place : {network, std::string("/mnt/slow")}) {
        SCOPED_TRACE(place);
        for (std::size_t width : {2u, 4u, 8u}) {
            LoadRoom loads = room(width);
            std::vector<LoadRoom::Ticket> tickets;
            EXPECT_EQ(fill(loads, place, tickets), loads.quietBound());
            for (int answer = 0; answer < 8 && loads.running() < width; ++answer) {
                loads.answered(place);
                fill(loads, place, tickets);
            }
            EXPECT_EQ(loads.running(), width);
            EXPECT_FALSE(loads.mayStart(home));  // the whole pool is busy, and answers
        }
    }
}

// A place answers: its running loads wait no more, and it may start one more than its bound
// until a load of it ends without an answer.
TEST(LoadRoom, AnAnswerFreesTheLoadsRunningThenAndEarnsOneMore) {
    LoadRoom loads = room(16);
    const std::string share = "/mnt/a";
    std::vector<LoadRoom::Ticket> first, second;
    EXPECT_EQ(fill(loads, share, first), 4u);
    loads.answered(share);
    EXPECT_EQ(loads.waitingAt(share), 0u);
    EXPECT_EQ(fill(loads, share, second), 5u);
    for (const auto& ticket : first) loads.ended(ticket);
    EXPECT_EQ(loads.waitingAt(share), 5u);
    EXPECT_FALSE(loads.mayStart(share));
    loads.ended(second[0]);  // unanswered: the place has earned nothing more
    EXPECT_EQ(loads.waitingAt(share), 4u);
    EXPECT_FALSE(loads.mayStart(share));
    loads.ended(second[1]);
    EXPECT_TRUE(loads.mayStart(share));
    EXPECT_EQ(loads.running(), 3u);
}

// Online covers answer only as their downloads end: on two and four workers they still keep
// every worker busy once they answer.
TEST(LoadRoom, LoadsAnsweringAsTheyEndComeToTheWholePool) {
    for (std::size_t width : {2u, 4u, 8u}) {
        SCOPED_TRACE(width);
        LoadRoom loads = room(width);
        std::vector<LoadRoom::Ticket> running;
        fill(loads, network, running);
        for (int answer = 0; answer < 20; ++answer) {
            loads.answered(network);
            loads.ended(running.front());
            running.erase(running.begin());
            fill(loads, network, running);
        }
        EXPECT_EQ(loads.running(), width);
    }
}

// Decodes wait on no place: only the size of the pool bounds them.
TEST(LoadRoom, WorkOfTheProcessorIsBoundOnlyByThePool) {
    LoadRoom loads = room(4);
    std::vector<LoadRoom::Ticket> tickets;
    fill(loads, "/mnt/a", tickets);
    fill(loads, "/mnt/b", tickets);
    EXPECT_EQ(fill(loads, processor, tickets), 2u);
    EXPECT_EQ(loads.waitingAt(processor), 0u);
    EXPECT_FALSE(loads.mayStart(home));
}

}  // namespace
