#pragma once

#include <QObject>
#include <QString>
#include <functional>
#include <optional>

#include "foundation/BootClock.h"
#include "foundation/MainQueue.h"

namespace velto {

// Pauses playback after a chosen number of minutes; checks once a second on the main queue. The
// deadline runs on `clock`, which goes on counting while the machine is suspended, so after a
// suspend the timer fires at the next check if its time has passed meanwhile.
class SleepTimer : public QObject {
    Q_OBJECT
    Q_PROPERTY(QString remainingText READ remainingTextProperty NOTIFY remainingTextChanged)
    Q_PROPERTY(bool active READ isActive NOTIFY activeChanged)
public:
    explicit SleepTimer(MainQueue& mainQueue, QObject* parent = nullptr,
                        BootClock::Now clock = &BootClock::now);
    ~SleepTimer() override;

    // Replaces any running timer.
    void start(int minutes, std::function<void()> action);
    Q_INVOKABLE void startMinutes(int minutes);  // with the action set by setDefaultAction
    Q_INVOKABLE void stop();

    void setDefaultAction(std::function<void()> action) { defaultAction_ = std::move(action); }

    bool isActive() const { return deadline_.has_value(); }
    // "剩 M 分 SS 秒" / "剩 S 秒"; none while no timer runs.
    std::optional<std::string> remainingText() const;
    QString remainingTextProperty() const;
    // The moment the timer fires, on its clock.
    std::optional<MainQueue::Duration> deadline() const { return deadline_; }

signals:
    void remainingTextChanged();
    void activeChanged();

private:
    void tick();
    void publish();

    MainQueue& mainQueue_;
    BootClock::Now clock_;
    std::optional<MainQueue::Duration> deadline_;
    std::optional<MainQueue::TimerId> task_;
    std::function<void()> action_;
    std::function<void()> defaultAction_;
    QString lastText_;
};

}  // namespace velto
