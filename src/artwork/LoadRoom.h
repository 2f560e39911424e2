#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <set>
#include <string>

namespace velto {

// Which place's load may start, over a pool of `width` workers. A load waits on its place (a
// mount holding the user's files, the network); until the place answers it cannot tell a slow
// place from one that will never answer. The rule:
//  - a load waits on an answer from the time it starts until its place next answers (any
//    answer of any load there: the place is awake);
//  - a place holds at most `quietBound()` waiting loads, and one more for each answer it gave
//    since a load of it last ended unanswered (all in all no more than the pool): a place that
//    does not answer holds a few workers, however many loads it is asked for, and one that
//    answers comes to the whole pool, even when each of its loads answers only as it ends;
//  - the waiting loads of all places other than the kept ones (the home disk, the network)
//    leave room for one load of each kept place, as far as the pool allows: however many
//    places hang, those keep room of their own;
//  - otherwise a place that answers uses whatever room the others leave.
// Places named `computing` only use the processor: their loads never wait on an answer.
// Bookkeeping only: the caller serialises the calls.
class LoadRoom {
public:
    // A started load, told back when it ends.
    struct Ticket {
        std::string place;
        std::uint64_t answersBefore = 0;
    };

    LoadRoom(std::size_t width, std::set<std::string> kept, std::set<std::string> computing = {});

    std::size_t width() const { return width_; }
    // Loads waiting on one place at most.
    std::size_t quietBound() const { return quietBound_; }
    // Room held for the kept places, away from the waiting loads of every other place.
    std::size_t keptRoom() const { return keptRoom_; }

    bool mayStart(const std::string& place) const;
    Ticket started(const std::string& place);
    void ended(const Ticket& ticket);
    // The place answered: its loads running now wait no more.
    void answered(const std::string& place);

    std::size_t running() const { return running_; }
    std::size_t waitingAt(const std::string& place) const;

private:
    struct Place {
        std::size_t running = 0;
        std::size_t waiting = 0;
        std::uint64_t answers = 0;
        std::size_t credit = 0;  // answers since a load ended unanswered
    };
    bool kept(const std::string& place) const { return kept_.contains(place); }

    const std::size_t width_;
    const std::set<std::string> kept_;
    const std::set<std::string> computing_;
    const std::size_t quietBound_;
    const std::size_t keptRoom_;
    std::map<std::string, Place> places_;
    std::size_t running_ = 0;
    std::size_t waitingElsewhere_ = 0;  // waiting loads of places not kept
};

}  // namespace velto
