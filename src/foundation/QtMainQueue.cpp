#include "foundation/QtMainQueue.h"

#include <QMetaObject>
#include <QThread>
#include <QTimer>
#include <algorithm>
#include <cstdint>

namespace velto {

QtMainQueue::QtMainQueue(QObject* parent) : QObject(parent) {}

QtMainQueue::~QtMainQueue() {
    for (auto& [id, timer] : timers_) delete timer;
}

void QtMainQueue::post(std::function<void()> work) {
    QMetaObject::invokeMethod(this, [work = std::move(work)] { work(); }, Qt::QueuedConnection);
}

MainQueue::TimerId QtMainQueue::schedule(Duration delay, std::function<void()> work) {
    return start(delay, false, std::move(work));
}

MainQueue::TimerId QtMainQueue::scheduleRepeating(Duration interval, std::function<void()> work) {
    return start(interval, true, std::move(work));
}

MainQueue::TimerId QtMainQueue::start(Duration delay, bool repeating, std::function<void()> work) {
    TimerId id;
    {
        std::lock_guard lock(mutex_);
        id = nextId_++;
    }
    if (QThread::currentThread() == thread()) {
        startOnMain(id, delay, repeating, std::move(work));
    } else {
        {
            std::lock_guard lock(mutex_);
            notYetStarted_.insert(id);
        }
        post([this, id, delay, repeating, work = std::move(work)]() mutable {
            startOnMain(id, delay, repeating, std::move(work));
        });
    }
    return id;
}

void QtMainQueue::startOnMain(TimerId id, Duration delay, bool repeating,
                              std::function<void()> work) {
    {
        std::lock_guard lock(mutex_);
        notYetStarted_.erase(id);
        if (cancelledBeforeStart_.erase(id)) return;
    }
    auto* timer = new QTimer(this);
    timer->setTimerType(Qt::PreciseTimer);
    timer->setSingleShot(!repeating);
    auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(delay).count();
    timer->setInterval(int(std::clamp<long long>(ms, repeating ? 1 : 0, INT32_MAX)));
    timers_[id] = timer;
    connect(timer, &QTimer::timeout, this, [this, id, repeating, work = std::move(work)] {
        if (!repeating) {
            auto it = timers_.find(id);
            if (it != timers_.end()) {
                it->second->deleteLater();
                timers_.erase(it);
            }
        }
        work();
    });
    timer->start();
}

void QtMainQueue::cancel(TimerId id) {
    if (QThread::currentThread() != thread()) {
        post([this, id] { cancel(id); });
        return;
    }
    auto it = timers_.find(id);
    if (it == timers_.end()) {
        // Started from another thread and not yet on the main thread.
        std::lock_guard lock(mutex_);
        if (notYetStarted_.count(id)) cancelledBeforeStart_.insert(id);
        return;
    }
    it->second->stop();
    it->second->deleteLater();
    timers_.erase(it);
}

MainQueue::Duration QtMainQueue::uptime() const {
    return std::chrono::duration_cast<Duration>(std::chrono::steady_clock::now().time_since_epoch());
}

std::chrono::system_clock::time_point QtMainQueue::wallNow() const {
    return std::chrono::system_clock::now();
}

}  // namespace velto
