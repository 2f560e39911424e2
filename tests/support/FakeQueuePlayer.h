#pragma once

#include <deque>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/QueuePlayer.h"

namespace velto {

// A scripted queue player on the main queue's clock (a ManualMainQueue in tests). It plays
// nothing by itself: the test decides when items become ready, end, stall or fail, and reads
// back the calls it received. While it plays a ready item, currentTime() moves with the
// queue's uptime times the rate, up to the item's duration when that is known. A seek asked for
// while the current item is still unknown waits until it opens.
class FakeQueuePlayer final : public QueuePlayer {
  public:
    explicit FakeQueuePlayer(MainQueue& mainQueue);

    std::vector<PlayerItemPtr> items() const override { return {items_.begin(), items_.end()}; }
    PlayerItemPtr currentItem() const override;
    bool insert(PlayerItemPtr item, const PlayerItemPtr& after = nullptr) override;
    void remove(const PlayerItemPtr& item) override;
    void removeAllItems() override;
    void advanceToNextItem() override;

    void play() override;
    void pause() override;
    TimeControlStatus timeControlStatus() const override { return timeControl_; }
    void setRate(double rate) override;
    double rate() const override { return rate_; }
    void setVolume(double volume) override;
    double volume() const override { return volume_; }
    double currentTime() const override;
    void seek(double seconds, std::function<void(bool finished)> completion) override;

    // --- Script -------------------------------------------------------------------------------
    // Sets an item's status (and duration), announcing it; a ready current item starts
    // playing if play() holds. Failing a ready current item also announces failed-to-play-to-end.
    void setItemStatus(const PlayerItemPtr& item, PlayerItem::Status status,
                       std::string errorMessage = {});
    void makeReady(const PlayerItemPtr& item, std::optional<double> duration = std::nullopt);
    // From now on an unknown item that becomes current opens by itself a moment later (posted,
    // as a real player would), ready with `duration`; `opens` false stops that.
    void openItemsAutomatically(bool opens, std::optional<double> duration = std::nullopt) {
        autoOpen_ = opens;
        autoOpenDuration_ = duration;
    }
    // The current item plays to its end: played-to-end, then the next item becomes current.
    void finishCurrentItem();
    // The current item runs dry (stalled) until resume().
    void stall();
    void resume();
    // Seeks complete at once (true) unless held; held seeks wait for completeSeeks().
    void holdSeeks(bool hold) { holdSeeks_ = hold; }
    void completeSeeks(bool finished);
    std::size_t pendingSeekCount() const { return pendingSeeks_.size(); }

    // --- Inspection ---------------------------------------------------------------------------
    // Every call in order: "play", "pause", "seek 95", "rate 1.5", "volume 0.3",
    // "insert <uri>", "remove <uri>", "removeAll", "advance".
    const std::vector<std::string>& calls() const { return calls_; }
    void clearCalls() { calls_.clear(); }
    // The targets of the seeks in calls(), in order.
    std::vector<double> seekTargets() const;
    // How many calls() begin with `verb` (e.g. "rate").
    int callCount(std::string_view verb) const;
    bool wantsToPlay() const { return wantsToPlay_; }

  private:
    void becameCurrent();
    void update();
    void settlePosition();

    std::deque<PlayerItemPtr> items_;
    std::vector<std::string> calls_;
    bool wantsToPlay_ = false;
    bool stalled_ = false;
    bool holdSeeks_ = false;
    bool autoOpen_ = false;
    std::optional<double> autoOpenDuration_;
    TimeControlStatus timeControl_ = TimeControlStatus::paused;
    double rate_ = 1.0;
    double volume_ = 1.0;
    double position_ = 0;  // at positionSince_
    MainQueue::Duration positionSince_{};
    struct Seek {
        double target;
        std::function<void(bool)> completion;
    };
    std::vector<Seek> pendingSeeks_;
};

}  // namespace velto
