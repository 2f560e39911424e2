#include "artwork/LoadRoom.h"

#include <algorithm>

namespace velto {

LoadRoom::LoadRoom(std::size_t width, std::set<std::string> kept, std::set<std::string> computing)
    : width_(std::max<std::size_t>(width, 1)),
      kept_(std::move(kept)),
      computing_(std::move(computing)),
      quietBound_(std::max<std::size_t>(width_ / 4, 1)),
      // Places not kept keep at least one load of their own.
      keptRoom_(std::min(kept_.size(), width_ - 1)) {}

bool LoadRoom::mayStart(const std::string& place) const {
    if (running_ >= width_) return false;
    if (computing_.contains(place)) return true;
    auto found = places_.find(place);
    if (found != places_.end() && found->second.waiting >= quietBound_ + found->second.credit)
        return false;
    return kept(place) || waitingElsewhere_ + 1 + keptRoom_ <= width_;
}

LoadRoom::Ticket LoadRoom::started(const std::string& place) {
    Place& at = places_[place];
    ++at.running;
    ++running_;
    if (!computing_.contains(place)) {
        ++at.waiting;
        if (!kept(place)) ++waitingElsewhere_;
    }
    return Ticket{place, at.answers};
}

void LoadRoom::ended(const Ticket& ticket) {
    auto found = places_.find(ticket.place);
    if (found == places_.end()) return;
    Place& at = found->second;
    --running_;
    // Still waiting: no answer came from its place since it started.
    if (!computing_.contains(ticket.place) && at.answers == ticket.answersBefore) {
        --at.waiting;
        if (!kept(ticket.place)) --waitingElsewhere_;
        at.credit = 0;
    }
    --at.running;
}

void LoadRoom::answered(const std::string& place) {
    auto found = places_.find(place);
    if (found == places_.end()) return;
    Place& at = found->second;
    ++at.answers;
    if (!kept(place)) waitingElsewhere_ -= at.waiting;
    at.waiting = 0;
    at.credit = std::min(at.credit + 1, width_ - quietBound_);
}

std::size_t LoadRoom::waitingAt(const std::string& place) const {
    auto found = places_.find(place);
    return found == places_.end() ? 0 : found->second.waiting;
}

}  // namespace velto
