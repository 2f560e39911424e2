#pragma once

#include <algorithm>
#include <cmath>
#include <map>
#include <string>
#include <vector>

#include "platform/QueuePlayer.h"

namespace velto {

// A queue player on the virtual clock: time passes only as the main queue advances, items open
// when the test (or the automatic opener) says, and the end, stall and failure events happen on
// command.
class ScriptedQueuePlayer final : public QueuePlayer {
  public:
    explicit ScriptedQueuePlayer(MainQueue& queue) : QueuePlayer(queue) {}

    // --- QueuePlayer ---
    std::vector<PlayerItemPtr> items() const override { return items_; }
    PlayerItemPtr currentItem() const override { return items_.empty() ? nullptr : items_[0]; }
    bool insert(PlayerItemPtr item, const PlayerItemPtr& after = nullptr) override {
        if (!item || contains(item)) return false;
        if (after && !contains(after)) return false;
        auto previous = currentItem();
        auto at = after ? std::find(items_.begin(), items_.end(), after) + 1 : items_.end();
        items_.insert(at, std::move(item));
        currentChanged(previous);
        return true;
    }
    void remove(const PlayerItemPtr& item) override {
        auto it = std::find(items_.begin(), items_.end(), item);
        if (it == items_.end()) return;
        auto previous = currentItem();
        items_.erase(it);
        currentChanged(previous);
    }
    void removeAllItems() override {
        auto previous = currentItem();
        items_.clear();
        currentChanged(previous);
    }
    void advanceToNextItem() override {
        if (!items_.empty()) remove(items_.front());
    }
    void play() override {
        settlePosition();
        wish_ = true;
        publishTimeControl();
    }
    void pause() override {
        settlePosition();
        wish_ = false;
        publishTimeControl();
    }
    TimeControlStatus timeControlStatus() const override {
        if (!wish_) return TimeControlStatus::paused;
        auto item = currentItem();
        if (!item || item->status() != PlayerItem::Status::readyToPlay || stalled_)
            return TimeControlStatus::waitingToPlayAtSpecifiedRate;
        return TimeControlStatus::playing;
    }
    void setRate(double rate) override {
        if (!(rate > 0) || !std::isfinite(rate)) return;
        settlePosition();
        rate_ = rate;
        ++rateWrites;
    }
    double rate() const override { return rate_; }
    void setVolume(double volume) override {
        if (!std::isfinite(volume)) return;
        volume_ = std::clamp(volume, 0.0, 1.0);
        ++volumeWrites;
    }
    double volume() const override { return volume_; }
    double currentTime() const override {
        if (!currentItem()) return 0;
        double position = position_;
        if (timeControlStatus() == TimeControlStatus::playing)
            position += (mainQueue().uptimeSeconds() - since_) * rate_;
        if (auto length = currentItem()->duration()) position = std::min(position, *length);
        return position;
    }
    void seek(double seconds, std::function<void(bool)> completion) override {
        seeks.push_back(seconds);
        auto item = currentItem();
        if (item && item->status() == PlayerItem::Status::unknown) {
            // Waits for the item to open.
            pendingSeek_ = {item, seconds, std::move(completion)};
            return;
        }
        bool ok = item && item->status() == PlayerItem::Status::readyToPlay;
        if (ok) {
            position_ = seconds;
            since_ = mainQueue().uptimeSeconds();
        }
        later([completion = std::move(completion), ok] { completion(ok); });
    }

    // --- Script ---
    // Opens the item: ready with the given length (or the automatic length), or failed.
    void open(const PlayerItemPtr& item, std::optional<double> length = std::nullopt) {
        settlePosition();
        item->setDuration(length ? length : std::optional<double>(defaultLength));
        item->setStatus(PlayerItem::Status::readyToPlay);
        later([this, item] { emitItemStatusChanged(item); });
        if (pendingSeek_.item == item) {
            position_ = pendingSeek_.seconds;
            since_ = mainQueue().uptimeSeconds();
            later([completion = std::move(pendingSeek_.completion)] { completion(true); });
            pendingSeek_ = {};
        }
        publishTimeControl();
    }
    void failToOpen(const PlayerItemPtr& item, const std::string& message) {
        item->setStatus(PlayerItem::Status::failed, message);
        later([this, item] { emitItemStatusChanged(item); });
        publishTimeControl();
    }
    // The playing item breaks: failed status, then the failed-to-end event.
    void breakCurrent(const std::string& message) {
        auto item = currentItem();
        settlePosition();
        item->setStatus(PlayerItem::Status::failed, message);
        later([this, item, message] {
            emitItemStatusChanged(item);
            emitFailedToPlayToEnd(item, message);
        });
        publishTimeControl();
    }
    void stall() {
        settlePosition();
        stalled_ = true;
        auto item = currentItem();
        later([this, item] { emitStalled(item); });
        publishTimeControl();
    }
    void recoverFromStall() {
        settlePosition();
        stalled_ = false;
        publishTimeControl();
    }
    // The current item plays to its end; the next one takes over at once.
    void playToEnd() {
        auto item = currentItem();
        if (!item) return;
        later([this, item] { emitPlayedToEnd(item); });
        items_.erase(items_.begin());
        position_ = 0;
        since_ = mainQueue().uptimeSeconds();
        currentChanged(item);
    }

    bool autoOpen = true;
    double defaultLength = 240;
    std::vector<double> seeks;
    int rateWrites = 0;
    int volumeWrites = 0;

  private:
    bool contains(const PlayerItemPtr& item) const {
        return std::find(items_.begin(), items_.end(), item) != items_.end();
    }
    void settlePosition() {
        position_ = currentTime();
        since_ = mainQueue().uptimeSeconds();
    }
    void currentChanged(const PlayerItemPtr& previous) {
        auto now = currentItem();
        if (now == previous) return;
        if (pendingSeek_.item) {
            later([completion = std::move(pendingSeek_.completion)] { completion(false); });
            pendingSeek_ = {};
        }
        stalled_ = false;
        position_ = 0;
        since_ = mainQueue().uptimeSeconds();
        later([this, now] { emitCurrentItemChanged(now); });
        if (now && autoOpen && now->status() == PlayerItem::Status::unknown) {
            later([this, now] {
                if (currentItem() == now && now->status() == PlayerItem::Status::unknown) open(now);
            });
        }
        publishTimeControl();
    }
    void publishTimeControl() {
        auto status = timeControlStatus();
        if (status == published_) return;
        published_ = status;
        later([this, status] { emitTimeControlStatusChanged(status); });
    }

    struct PendingSeek {
        PlayerItemPtr item;
        double seconds = 0;
        std::function<void(bool)> completion;
    };

    std::vector<PlayerItemPtr> items_;
    PendingSeek pendingSeek_;
    bool wish_ = false;
    bool stalled_ = false;
    double rate_ = 1;
    double volume_ = 1;
    double position_ = 0;
    double since_ = 0;
    TimeControlStatus published_ = TimeControlStatus::paused;
};

}  // namespace velto
