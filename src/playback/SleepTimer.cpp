#include "playback/SleepTimer.h"

#include <cmath>
#include <cstdio>

namespace velto {

SleepTimer::SleepTimer(MainQueue& mainQueue, QObject* parent, BootClock::Now clock)
    : QObject(parent), mainQueue_(mainQueue), clock_(std::move(clock)) {}

SleepTimer::~SleepTimer() {
    if (task_) mainQueue_.cancel(*task_);
}

void SleepTimer::start(int minutes, std::function<void()> action) {
    if (task_) mainQueue_.cancel(*task_);
    task_.reset();
    deadline_ = clock_() + std::chrono::duration_cast<MainQueue::Duration>(
                               std::chrono::minutes(std::max(minutes, 0)));
    action_ = std::move(action);
    task_ = mainQueue_.scheduleRepeating(std::chrono::seconds(1), [this] { tick(); });
    publish();
}

void SleepTimer::startMinutes(int minutes) { start(minutes, defaultAction_); }

void SleepTimer::stop() {
    if (task_) mainQueue_.cancel(*task_);
    task_.reset();
    deadline_.reset();
    action_ = nullptr;
    publish();
}

void SleepTimer::tick() {
    if (!deadline_) return;
    if (clock_() >= *deadline_) {
        auto action = std::move(action_);
        stop();
        if (action) action();
        return;
    }
    publish();
}

std::optional<std::string> SleepTimer::remainingText() const {
    if (!deadline_) return std::nullopt;
    double left = std::chrono::duration<double>(*deadline_ - clock_()).count();
    long long s = std::max(0LL, std::llround(left));
    char text[64];
    if (s >= 60)
        std::snprintf(text, sizeof text, "剩 %lld 分 %02lld 秒", s / 60, s % 60);
    else
        std::snprintf(text, sizeof text, "剩 %lld 秒", s);
    return std::string(text);
}

QString SleepTimer::remainingTextProperty() const {
    auto text = remainingText();
    return text ? QString::fromStdString(*text) : QString();
}

void SleepTimer::publish() {
    QString text = remainingTextProperty();
    bool wasActive = !lastText_.isNull();
    if (text != lastText_ || text.isNull() != lastText_.isNull()) {
        lastText_ = text;
        emit remainingTextChanged();
    }
    if (wasActive != isActive()) emit activeChanged();
}

}  // namespace velto
