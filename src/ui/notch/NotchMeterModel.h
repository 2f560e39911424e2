#pragma once

#include <QList>
#include <QObject>
#include <QString>
#include <optional>

#include "foundation/MainQueue.h"

namespace velto {

// The notch's four-bar level meter. While music plays and motion is not reduced the bars swing,
// redrawn at most about seven times a second by a timer on the main queue that runs only then
// and only while the meter can be seen; otherwise the bars stand still and nothing wakes up.
class NotchMeterModel : public QObject {
    Q_OBJECT
    Q_PROPERTY(bool playing READ playing WRITE setPlaying NOTIFY stateChanged)
    Q_PROPERTY(bool reduceMotion READ reduceMotion WRITE setReduceMotion NOTIFY stateChanged)
    // The meter is on screen: its window is shown and the meter is visible in it.
    Q_PROPERTY(bool shown READ shown WRITE setShown NOTIFY stateChanged)
    Q_PROPERTY(bool animated READ animated NOTIFY stateChanged)
    Q_PROPERTY(bool running READ running NOTIFY stateChanged)
    Q_PROPERTY(double barOpacity READ barOpacity NOTIFY stateChanged)
    Q_PROPERTY(QString accessibleName READ accessibleName NOTIFY stateChanged)
    Q_PROPERTY(QList<double> heights READ heights NOTIFY heightsChanged)

  public:
    static constexpr int barCount = 4;
    static constexpr MainQueue::Duration interval = std::chrono::milliseconds(140);

    explicit NotchMeterModel(MainQueue& mainQueue, QObject* parent = nullptr);
    ~NotchMeterModel() override;

    bool playing() const { return playing_; }
    void setPlaying(bool playing);
    bool reduceMotion() const { return reduceMotion_; }
    void setReduceMotion(bool reduceMotion);
    bool shown() const { return shown_; }
    void setShown(bool shown);
    bool animated() const { return playing_ && !reduceMotion_; }
    bool running() const { return timer_.has_value(); }
    double barOpacity() const { return playing_ ? 0.9 : 0.4; }
    QString accessibleName() const;
    QList<double> heights() const { return heights_; }

    // Height of bar `index` at `seconds` since 1 January 2001 while swinging: 5...17 points.
    static double swingHeight(int index, double seconds);

  signals:
    void stateChanged();
    void heightsChanged();

  private:
    void update();
    void tick();

    MainQueue& mainQueue_;
    bool playing_ = false;
    bool reduceMotion_ = false;
    bool shown_ = false;
    std::optional<MainQueue::TimerId> timer_;
    QList<double> heights_;
};

}  // namespace velto
