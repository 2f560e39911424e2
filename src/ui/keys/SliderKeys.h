#pragma once

#include <QObject>
#include <QVariant>
#include <optional>

namespace velto {

// The keys of the seek and volume sliders, in steps a person can use: the arrows a small step
// (Right and Up on, Left and Down back), Page Up and Page Down a large one, Home and End to the
// ends.
class SliderKeys : public QObject {
    Q_OBJECT
public:
    static constexpr double seekStep = 5.0;         // seconds
    static constexpr double seekPageShare = 0.1;    // of the song
    static constexpr double volumeStep = 0.05;
    static constexpr double volumePage = 0.1;

    // Where `key` takes a value in [0, maximum]; none for a key the slider leaves alone.
    static std::optional<double> target(int key, double value, double maximum, double step,
                                        double page);
    // The seek slider's position after `key` in a song of `duration` seconds; undefined for a
    // key it leaves alone.
    Q_INVOKABLE static QVariant seekTarget(int key, double position, double duration);
    // The volume (0 to 1) after `key`; undefined for a key it leaves alone.
    Q_INVOKABLE static QVariant volumeTarget(int key, double volume);
};

}  // namespace velto
