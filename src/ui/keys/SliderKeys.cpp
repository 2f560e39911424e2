#include "ui/keys/SliderKeys.h"

#include <algorithm>

namespace velto {

std::optional<double> SliderKeys::target(int key, double value, double maximum, double step,
                                         double page) {
    double to = value;
    switch (key) {
    case Qt::Key_Right:
    case Qt::Key_Up: to = value + step; break;
    case Qt::Key_Left:
    case Qt::Key_Down: to = value - step; break;
    case Qt::Key_PageUp: to = value + page; break;
    case Qt::Key_PageDown: to = value - page; break;
    case Qt::Key_Home: to = 0; break;
    case Qt::Key_End: to = maximum; break;
    default: return std::nullopt;
    }
    return std::clamp(to, 0.0, std::max(0.0, maximum));
}

namespace {
QVariant variant(std::optional<double> value) {
    return value ? QVariant(*value) : QVariant();
}
}  // namespace

QVariant SliderKeys::seekTarget(int key, double position, double duration) {
    return variant(target(key, position, duration, seekStep, duration * seekPageShare));
}

QVariant SliderKeys::volumeTarget(int key, double volume) {
    return variant(target(key, volume, 1.0, volumeStep, volumePage));
}

}  // namespace velto
