#pragma once

#include <QObject>
#include <QString>
#include <functional>
#include <optional>

#include "foundation/MainQueue.h"

namespace velto {

// Pauses playback after a chosen number of minutes; checks once a second on the main queue.
class SleepTimer : public QObject {
    Q_OBJECT
    Q_PROPERTY(QString remainingText READ remainingTextProperty NOTIFY remainingTextChanged)
    Q_PROPERTY(bool active READ isActive NOTIFY activeChanged)
public:
    explicit SleepTimer(MainQueue& mainQueue, QObject* parent = nullptr);
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
    // The moment the timer fires, on the main queue's clock.
    std::optional<MainQueue::Duration> deadline() const { return deadline_; }

signals:
    void remainingTextChanged();
    void activeChanged();

private:
    void tick();
    void publish();

    MainQueue& mainQueue_;
    std::optional<MainQueue::Duration> deadline_;
    std::optional<MainQueue::TimerId> task_;
    std::function<void()> action_;
    std::function<void()> defaultAction_;
    QString lastText_;
};

}  // namespace velto
