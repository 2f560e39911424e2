#pragma once

#include <QObject>
#include <chrono>
#include <map>
#include <mutex>
#include <set>

#include "foundation/MainQueue.h"

class QTimer;

namespace velto {

// The program's main queue: Qt's event loop on the thread that created it.
class QtMainQueue final : public QObject, public MainQueue {
    Q_OBJECT
public:
    explicit QtMainQueue(QObject* parent = nullptr);
    ~QtMainQueue() override;

    void post(std::function<void()> work) override;
    TimerId schedule(Duration delay, std::function<void()> work) override;
    TimerId scheduleRepeating(Duration interval, std::function<void()> work) override;
    void cancel(TimerId id) override;
    Duration uptime() const override;
    std::chrono::system_clock::time_point wallNow() const override;

private:
    TimerId start(Duration delay, bool repeating, std::function<void()> work);
    void startOnMain(TimerId id, Duration delay, bool repeating, std::function<void()> work);

    std::mutex mutex_;
    TimerId nextId_ = 1;
    std::set<TimerId> notYetStarted_;  // scheduled from another thread, on their way
    std::set<TimerId> cancelledBeforeStart_;
    std::map<TimerId, QTimer*> timers_;  // main thread only
};

}  // namespace velto
