#include "platform/QueuePlayer.h"

#include <algorithm>

namespace velto {

QueuePlayer::QueuePlayer(MainQueue& mainQueue) : mainQueue_(mainQueue) {}

QueuePlayer::~QueuePlayer() {
    *alive_ = false;
    runPeriodicObservers(false);
}

bool QueuePlayer::insertInto(std::deque<PlayerItemPtr>& items, PlayerItemPtr item,
                             const PlayerItemPtr& after) {
    if (!item || std::find(items.begin(), items.end(), item) != items.end()) return false;
    auto position = items.end();
    if (after) {
        position = std::find(items.begin(), items.end(), after);
        if (position == items.end()) return false;
        ++position;
    }
    items.insert(position, std::move(item));
    return true;
}

void QueuePlayer::later(std::function<void()> work) {
    mainQueue_.post([alive = std::weak_ptr<bool>(alive_), work = std::move(work)] {
        if (auto flag = alive.lock(); flag && *flag) work();
    });
}

void QueuePlayer::replaceCurrentItem(PlayerItemPtr item) {
    PlayerItemPtr current = currentItem();
    if (item == current) return;
    if (!current) {
        if (item) insert(std::move(item));
        return;
    }
    if (item) {
        remove(item);
        insert(std::move(item), current);
    }
    remove(current);
}

QueuePlayer::ObserverToken QueuePlayer::addPeriodicTimeObserver(
    MainQueue::Duration interval, std::function<void(double)> callback) {
    ObserverToken token = nextToken_++;
    auto& observer = periodicObservers_[token];
    observer.interval = std::max(interval, MainQueue::Duration(std::chrono::milliseconds(1)));
    observer.callback = std::move(callback);
    runPeriodicObservers(timeControlStatus() == TimeControlStatus::playing);
    return token;
}

// Time only moves while playing, so the periodic timers run only then: a paused player wakes
// nobody up.
void QueuePlayer::runPeriodicObservers(bool run) {
    for (auto& entry : periodicObservers_) {
        const auto token = entry.first;
        auto& observer = entry.second;
        if (run && !observer.timer) {
            observer.timer = mainQueue_.scheduleRepeating(observer.interval, [this, token] {
                auto it = periodicObservers_.find(token);
                if (it == periodicObservers_.end() ||
                    timeControlStatus() != TimeControlStatus::playing)
                    return;
                auto callback = it->second.callback;  // the callback may remove itself
                callback(currentTime());
            });
        } else if (!run && observer.timer) {
            mainQueue_.cancel(*observer.timer);
            observer.timer.reset();
        }
    }
}

QueuePlayer::ObserverToken QueuePlayer::addItemStatusObserver(
    std::function<void(const PlayerItemPtr&)> callback) {
    ObserverToken token = nextToken_++;
    itemStatusObservers_[token] = std::move(callback);
    return token;
}

QueuePlayer::ObserverToken QueuePlayer::addTimeControlStatusObserver(
    std::function<void(TimeControlStatus)> callback) {
    ObserverToken token = nextToken_++;
    timeControlObservers_[token] = std::move(callback);
    return token;
}

QueuePlayer::ObserverToken QueuePlayer::addCurrentItemObserver(
    std::function<void(const PlayerItemPtr&)> callback) {
    ObserverToken token = nextToken_++;
    currentItemObservers_[token] = std::move(callback);
    return token;
}

QueuePlayer::ObserverToken QueuePlayer::addPlayedToEndObserver(
    std::function<void(const PlayerItemPtr&)> callback) {
    ObserverToken token = nextToken_++;
    playedToEndObservers_[token] = std::move(callback);
    return token;
}

QueuePlayer::ObserverToken QueuePlayer::addStalledObserver(
    std::function<void(const PlayerItemPtr&)> callback) {
    ObserverToken token = nextToken_++;
    stalledObservers_[token] = std::move(callback);
    return token;
}

QueuePlayer::ObserverToken QueuePlayer::addFailedToPlayToEndObserver(
    std::function<void(const PlayerItemPtr&, const std::string&)> callback) {
    ObserverToken token = nextToken_++;
    failedObservers_[token] = std::move(callback);
    return token;
}

void QueuePlayer::removeObserver(ObserverToken token) {
    if (auto it = periodicObservers_.find(token); it != periodicObservers_.end()) {
        if (it->second.timer) mainQueue_.cancel(*it->second.timer);
        periodicObservers_.erase(it);
    }
    itemStatusObservers_.erase(token);
    timeControlObservers_.erase(token);
    currentItemObservers_.erase(token);
    playedToEndObservers_.erase(token);
    stalledObservers_.erase(token);
    failedObservers_.erase(token);
}

template <class Map, class... Args>
void QueuePlayer::notify(Map& map, const Args&... args) {
    // Callbacks may add or remove observers; walk a snapshot of the tokens and skip the removed.
    std::vector<ObserverToken> tokens;
    tokens.reserve(map.size());
    for (const auto& entry : map) tokens.push_back(entry.first);
    for (ObserverToken token : tokens) {
        auto it = map.find(token);
        if (it == map.end()) continue;
        auto callback = it->second;  // the callback may remove itself
        callback(args...);
    }
}

void QueuePlayer::emitItemStatusChanged(const PlayerItemPtr& item) {
    notify(itemStatusObservers_, item);
}

void QueuePlayer::emitTimeControlStatusChanged(TimeControlStatus status) {
    runPeriodicObservers(timeControlStatus() == TimeControlStatus::playing);
    notify(timeControlObservers_, status);
}

void QueuePlayer::emitCurrentItemChanged(const PlayerItemPtr& item) {
    notify(currentItemObservers_, item);
}

void QueuePlayer::emitPlayedToEnd(const PlayerItemPtr& item) {
    notify(playedToEndObservers_, item);
}

void QueuePlayer::emitStalled(const PlayerItemPtr& item) {
    notify(stalledObservers_, item);
}

void QueuePlayer::emitFailedToPlayToEnd(const PlayerItemPtr& item, const std::string& message) {
    notify(failedObservers_, item, message);
}

}  // namespace velto
