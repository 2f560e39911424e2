#pragma once

#include <deque>
#include <functional>
#include <map>
#include <optional>
#include <memory>
#include <string>
#include <vector>

#include "foundation/MainQueue.h"
#include "platform/PlayerItem.h"

namespace velto {

// A player of a queue of items: the first item is the current one, the ones after it follow
// without a gap when it ends. Implementations: GStreamerQueuePlayer (real audio) and, for
// tests, FakeQueuePlayer (scripted, on the virtual clock).
//
// Threading: every operation is called on the main thread, and every callback runs on the main
// thread, delivered through the MainQueue given at construction. A callback never runs inside
// the operation that caused it; it is posted and runs later, in the order the player saw the
// events.
//
// Playing: play() sets the wish to play, pause() clears it; nothing else clears it (not the end
// of the queue, not a failure, not emptying the queue). While the wish holds, the current item
// plays as soon as it can; timeControlStatus() says whether sound is actually coming out:
//   paused                        - pause() was called (or play() never was);
//   waitingToPlayAtSpecifiedRate  - play() holds but there is no playable current item yet, the
//                                   item is opening, buffering or seeking, or it failed;
//   playing                       - the current item is playing.
//
// Items: an item passes through unknown -> readyToPlay or failed. The current item is opened
// when it becomes current; an item waiting behind it may stay `unknown` until it becomes current.
// A failed item stays current until it is removed; the queue does not skip it.
//
// End of an item: the item's played-to-end event comes first, then it leaves the queue and the
// next item (if any) becomes current, announced by a current-item change. The item behind the
// current one plays without a gap if it is there when the player hands over to it, which it
// does some time before the current one ends (once that has been read to its end); an item put
// behind the current one after the hand-over still follows it, from its start, but after a
// short gap, and the item handed over is not heard. At the end of the last item the queue is
// empty, the current item is none and, while play() holds, the status is waiting.
class QueuePlayer {
  public:
    enum class TimeControlStatus { paused, waitingToPlayAtSpecifiedRate, playing };
    using ObserverToken = std::uint64_t;

    explicit QueuePlayer(MainQueue& mainQueue);
    virtual ~QueuePlayer();
    QueuePlayer(const QueuePlayer&) = delete;
    QueuePlayer& operator=(const QueuePlayer&) = delete;

    // --- Queue -----------------------------------------------------------------------------
    // All items, the current one first.
    virtual std::vector<PlayerItemPtr> items() const = 0;
    // The first item, or null when the queue is empty.
    virtual PlayerItemPtr currentItem() const = 0;
    // Inserts `item` right after `after`, or at the end when `after` is null. Does nothing and
    // returns false when `item` is null or already queued, or `after` is given but not queued.
    // Into an empty queue the item becomes current at once.
    virtual bool insert(PlayerItemPtr item, const PlayerItemPtr& after = nullptr) = 0;
    // Removes a queued item. Removing the current item makes the next one current (played from
    // its start, not gaplessly); removing an unknown item does nothing.
    virtual void remove(const PlayerItemPtr& item) = 0;
    virtual void removeAllItems() = 0;
    // Drops the current item at once and moves on to the next one.
    virtual void advanceToNextItem() = 0;
    // Puts `item` in place of the current item (keeping the items behind it); with a null item
    // the current item is only removed. An item already queued elsewhere is moved.
    void replaceCurrentItem(PlayerItemPtr item);

    // --- Transport ---------------------------------------------------------------------------
    virtual void play() = 0;
    virtual void pause() = 0;
    virtual TimeControlStatus timeControlStatus() const = 0;
    // Playback speed used while playing (1 = normal). Setting it never starts or stops
    // playback; values that are not finite or not above 0 are ignored.
    virtual void setRate(double rate) = 0;
    virtual double rate() const = 0;
    // Linear volume, clamped to 0...1; values that are not finite are ignored.
    virtual void setVolume(double volume) = 0;
    virtual double volume() const = 0;
    // Position in the current item in seconds (0 without one). While a seek is under way this
    // is the seek's target.
    virtual double currentTime() const = 0;
    // Moves to `seconds` in the current item, sample-accurately. `completion` runs once on the
    // main queue: true when the position was reached, false when the seek was interrupted by
    // another seek or a change of the current item, or there was no ready item to seek in. A
    // seek asked for while the current item is still opening waits for it to be ready.
    virtual void seek(double seconds, std::function<void(bool finished)> completion) = 0;

    // --- Observers (main thread only) ---------------------------------------------------------
    // Every `interval` of wall time while timeControlStatus() is playing, with currentTime(),
    // counted from when playing began; no timer runs while it is not playing.
    ObserverToken addPeriodicTimeObserver(MainQueue::Duration interval,
                                          std::function<void(double seconds)> callback);
    // The status of any queued item changed (unknown -> readyToPlay or failed).
    ObserverToken addItemStatusObserver(std::function<void(const PlayerItemPtr&)> callback);
    ObserverToken addTimeControlStatusObserver(std::function<void(TimeControlStatus)> callback);
    // The current item changed; the argument is the new one (null when the queue ran empty).
    ObserverToken addCurrentItemObserver(std::function<void(const PlayerItemPtr&)> callback);
    // The item played up to its end.
    ObserverToken addPlayedToEndObserver(std::function<void(const PlayerItemPtr&)> callback);
    // The item ran out of data while playing (a network stream buffering).
    ObserverToken addStalledObserver(std::function<void(const PlayerItemPtr&)> callback);
    // The item had started (was readyToPlay) and then broke; its status is now failed.
    ObserverToken addFailedToPlayToEndObserver(
        std::function<void(const PlayerItemPtr&, const std::string& message)> callback);
    // Unknown tokens are ignored. An observer removed by another callback of the same event is
    // not called.
    void removeObserver(ObserverToken token);

  protected:
    MainQueue& mainQueue() const { return mainQueue_; }
    // Posts `work` to the main queue; it is skipped if the player is gone by then. Safe to call
    // from any thread while the player exists.
    void later(std::function<void()> work);
    // The queue rule of insert(): puts `item` into `items` and returns true, or returns false
    // and changes nothing when insert() must refuse it.
    static bool insertInto(std::deque<PlayerItemPtr>& items, PlayerItemPtr item,
                           const PlayerItemPtr& after);

    // For implementations, on the main thread: call every observer of the event now.
    void emitItemStatusChanged(const PlayerItemPtr& item);
    void emitTimeControlStatusChanged(TimeControlStatus status);
    void emitCurrentItemChanged(const PlayerItemPtr& item);
    void emitPlayedToEnd(const PlayerItemPtr& item);
    void emitStalled(const PlayerItemPtr& item);
    void emitFailedToPlayToEnd(const PlayerItemPtr& item, const std::string& message);

  private:
    template <class Map, class... Args>
    void notify(Map& map, const Args&... args);

    MainQueue& mainQueue_;
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
    ObserverToken nextToken_ = 1;
    struct PeriodicObserver {
        MainQueue::Duration interval{};
        std::function<void(double)> callback;
        std::optional<MainQueue::TimerId> timer;  // only while playing
    };
    void runPeriodicObservers(bool run);
    std::map<ObserverToken, PeriodicObserver> periodicObservers_;
    std::map<ObserverToken, std::function<void(const PlayerItemPtr&)>> itemStatusObservers_;
    std::map<ObserverToken, std::function<void(TimeControlStatus)>> timeControlObservers_;
    std::map<ObserverToken, std::function<void(const PlayerItemPtr&)>> currentItemObservers_;
    std::map<ObserverToken, std::function<void(const PlayerItemPtr&)>> playedToEndObservers_;
    std::map<ObserverToken, std::function<void(const PlayerItemPtr&)>> stalledObservers_;
    std::map<ObserverToken, std::function<void(const PlayerItemPtr&, const std::string&)>>
        failedObservers_;
};

}  // namespace velto
