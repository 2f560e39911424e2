#include "support/FakeQueuePlayer.h"

#include <algorithm>
#include <cmath>
#include <sstream>

namespace velto {

namespace {
std::string number(double value) {
    std::ostringstream out;
    out << value;
    return out.str();
}
}  // namespace

FakeQueuePlayer::FakeQueuePlayer(MainQueue& mainQueue) : QueuePlayer(mainQueue) {}

PlayerItemPtr FakeQueuePlayer::currentItem() const {
    return items_.empty() ? nullptr : items_.front();
}

bool FakeQueuePlayer::insert(PlayerItemPtr item, const PlayerItemPtr& after) {
    const std::string uri = item ? item->uri() : std::string();
    bool becomesCurrent = items_.empty();
    if (!insertInto(items_, std::move(item), after)) return false;
    calls_.push_back("insert " + uri);
    if (becomesCurrent) becameCurrent();
    return true;
}

void FakeQueuePlayer::remove(const PlayerItemPtr& item) {
    auto it = std::find(items_.begin(), items_.end(), item);
    if (it == items_.end()) return;
    calls_.push_back("remove " + item->uri());
    bool wasCurrent = it == items_.begin();
    items_.erase(it);
    if (wasCurrent) becameCurrent();
}

void FakeQueuePlayer::removeAllItems() {
    calls_.push_back("removeAll");
    if (items_.empty()) return;
    items_.clear();
    becameCurrent();
}

void FakeQueuePlayer::advanceToNextItem() {
    calls_.push_back("advance");
    if (items_.empty()) return;
    items_.pop_front();
    becameCurrent();
}

void FakeQueuePlayer::play() {
    calls_.push_back("play");
    settlePosition();
    wantsToPlay_ = true;
    update();
}

void FakeQueuePlayer::pause() {
    calls_.push_back("pause");
    settlePosition();
    wantsToPlay_ = false;
    update();
}

void FakeQueuePlayer::setRate(double rate) {
    calls_.push_back("rate " + number(rate));
    if (!std::isfinite(rate) || rate <= 0) return;
    settlePosition();
    rate_ = rate;
}

void FakeQueuePlayer::setVolume(double volume) {
    calls_.push_back("volume " + number(volume));
    if (std::isfinite(volume)) volume_ = std::clamp(volume, 0.0, 1.0);
}

double FakeQueuePlayer::currentTime() const {
    if (items_.empty()) return 0;
    double position = position_;
    if (timeControl_ == TimeControlStatus::playing) {
        position +=
            std::chrono::duration<double>(mainQueue().uptime() - positionSince_).count() * rate_;
    }
    if (auto duration = items_.front()->duration()) position = std::min(position, *duration);
    return position;
}

void FakeQueuePlayer::seek(double seconds, std::function<void(bool)> completion) {
    calls_.push_back("seek " + number(seconds));
    auto current = currentItem();
    if (!current || current->status() == PlayerItem::Status::failed) {
        if (completion) later([completion] { completion(false); });
        return;
    }
    // A new seek interrupts the ones still waiting.
    completeSeeks(false);
    settlePosition();
    position_ = std::isfinite(seconds) ? std::max(0.0, seconds) : 0.0;
    if (auto duration = current->duration()) position_ = std::min(position_, *duration);
    if (holdSeeks_ || current->status() == PlayerItem::Status::unknown) {
        pendingSeeks_.push_back({position_, std::move(completion)});
    } else if (completion) {
        later([completion] { completion(true); });
    }
}

void FakeQueuePlayer::completeSeeks(bool finished) {
    auto seeks = std::move(pendingSeeks_);
    pendingSeeks_.clear();
    for (auto& seek : seeks)
        if (seek.completion)
            later([completion = seek.completion, finished] { completion(finished); });
}

std::vector<double> FakeQueuePlayer::seekTargets() const {
    std::vector<double> targets;
    for (const auto& call : calls_)
        if (call.rfind("seek ", 0) == 0) targets.push_back(std::stod(call.substr(5)));
    return targets;
}

int FakeQueuePlayer::callCount(std::string_view verb) const {
    return int(std::count_if(calls_.begin(), calls_.end(), [verb](const std::string& call) {
        return std::string_view(call).substr(0, verb.size()) == verb;
    }));
}

void FakeQueuePlayer::setItemStatus(const PlayerItemPtr& item, PlayerItem::Status status,
                                    std::string errorMessage) {
    bool wasReady = item->status() == PlayerItem::Status::readyToPlay;
    bool isCurrent = item == currentItem();
    if (isCurrent) settlePosition();
    item->setStatus(status, errorMessage);
    later([this, item] { emitItemStatusChanged(item); });
    if (isCurrent && !wasReady && !pendingSeeks_.empty()) {
        // The seek that waited for the item to open now lands (or has nothing to land in).
        if (status == PlayerItem::Status::readyToPlay) {
            if (auto duration = item->duration()) position_ = std::min(position_, *duration);
            if (!holdSeeks_) completeSeeks(true);
        } else if (status == PlayerItem::Status::failed) {
            completeSeeks(false);
            position_ = 0;
        }
    }
    if (status == PlayerItem::Status::failed && wasReady && isCurrent)
        later([this, item, errorMessage] { emitFailedToPlayToEnd(item, errorMessage); });
    if (isCurrent) update();
}

void FakeQueuePlayer::makeReady(const PlayerItemPtr& item, std::optional<double> duration) {
    if (duration) item->setDuration(duration);
    setItemStatus(item, PlayerItem::Status::readyToPlay);
}

void FakeQueuePlayer::finishCurrentItem() {
    auto finished = currentItem();
    if (!finished) return;
    later([this, finished] { emitPlayedToEnd(finished); });
    items_.pop_front();
    becameCurrent();
}

void FakeQueuePlayer::stall() {
    auto current = currentItem();
    if (!current || stalled_) return;
    settlePosition();
    stalled_ = true;
    later([this, current] { emitStalled(current); });
    update();
}

void FakeQueuePlayer::resume() {
    settlePosition();
    stalled_ = false;
    update();
}

void FakeQueuePlayer::becameCurrent() {
    completeSeeks(false);
    position_ = 0;
    positionSince_ = mainQueue().uptime();
    stalled_ = false;
    auto current = currentItem();
    later([this, current] { emitCurrentItemChanged(current); });
    if (autoOpen_ && current && current->status() == PlayerItem::Status::unknown) {
        later([this, current] {
            if (currentItem() == current && current->status() == PlayerItem::Status::unknown)
                makeReady(current, autoOpenDuration_);
        });
    }
    update();
}

// Freezes the running position so that a change of rate or state starts from it.
void FakeQueuePlayer::settlePosition() {
    position_ = currentTime();
    positionSince_ = mainQueue().uptime();
}

void FakeQueuePlayer::update() {
    auto current = currentItem();
    TimeControlStatus status = TimeControlStatus::paused;
    if (wantsToPlay_) {
        bool sounding =
            current && current->status() == PlayerItem::Status::readyToPlay && !stalled_;
        status =
            sounding ? TimeControlStatus::playing : TimeControlStatus::waitingToPlayAtSpecifiedRate;
    }
    if (status == timeControl_) return;
    settlePosition();
    timeControl_ = status;
    later([this, status] { emitTimeControlStatusChanged(status); });
}

}  // namespace velto
