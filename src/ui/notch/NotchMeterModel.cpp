#include "ui/notch/NotchMeterModel.h"

#include <cmath>

namespace velto {

NotchMeterModel::NotchMeterModel(MainQueue& mainQueue, QObject* parent)
    : QObject(parent), mainQueue_(mainQueue) {
    update();
}

NotchMeterModel::~NotchMeterModel() {
    if (timer_) mainQueue_.cancel(*timer_);
}

void NotchMeterModel::setPlaying(bool playing) {
    if (playing == playing_) return;
    playing_ = playing;
    update();
}

void NotchMeterModel::setReduceMotion(bool reduceMotion) {
    if (reduceMotion == reduceMotion_) return;
    reduceMotion_ = reduceMotion;
    update();
}

void NotchMeterModel::setShown(bool shown) {
    if (shown == shown_) return;
    shown_ = shown;
    update();
}

void NotchMeterModel::setObscured(bool obscured) {
    if (obscured == obscured_) return;
    obscured_ = obscured;
    update();
}

void NotchMeterModel::setPacedByPainter(bool paced) {
    if (paced == pacedByPainter_) return;
    pacedByPainter_ = paced;
    update();
}

QString NotchMeterModel::accessibleName() const {
    return playing_ ? QStringLiteral("正在播放") : QStringLiteral("已暂停");
}

double NotchMeterModel::swingHeight(int index, double seconds) {
    return std::abs(std::sin(index * 1.4 + seconds * 5.0)) * 12 + 5;
}

void NotchMeterModel::update() {
    running_ = animated() && shown_ && !obscured_;
    const bool timed = running_ && !pacedByPainter_;
    if (timed && !timer_) {
        timer_ = mainQueue_.scheduleRepeating(interval, [this] { tick(); });
    } else if (!timed && timer_) {
        mainQueue_.cancel(*timer_);
        timer_.reset();
    }
    emit stateChanged();
    if (animated()) {
        tick();
    } else {
        QList<double> still(barCount, playing_ ? 10.0 : 4.0);
        if (still != heights_) {
            heights_ = still;
            emit heightsChanged();
        }
    }
}

void NotchMeterModel::tick() {
    const double seconds =
        std::chrono::duration<double>(mainQueue_.wallNow().time_since_epoch()).count() -
        referenceDate;
    QList<double> next;
    for (int i = 0; i < barCount; ++i) next.append(swingHeight(i, seconds));
    if (next == heights_) return;
    heights_ = next;
    emit heightsChanged();
}

}  // namespace velto
