#pragma once

#include <QList>
#include <QObject>
#include <QString>
#include <optional>

#include "foundation/MainQueue.h"

namespace velto {

// The notch's four-bar level meter. While music plays and motion is not reduced the bars swing,
// redrawn at most about seven times a second, only while the meter can be seen; otherwise the
// bars stand still and nothing wakes up. The steps come from a timer on the main queue unless
// the painter paces them itself.
class NotchMeterModel : public QObject {
    Q_OBJECT
    Q_PROPERTY(bool playing READ playing WRITE setPlaying NOTIFY stateChanged)
    Q_PROPERTY(bool reduceMotion READ reduceMotion WRITE setReduceMotion NOTIFY stateChanged)
    // The meter is on screen: its window is shown and the meter is visible in it.
    Q_PROPERTY(bool shown READ shown WRITE setShown NOTIFY stateChanged)
    // Nobody can see the screen where it is shown (blanked, locked, covered by a full-screen window).
    Q_PROPERTY(bool obscured READ obscured WRITE setObscured NOTIFY stateChanged)
    Q_PROPERTY(bool animated READ animated NOTIFY stateChanged)
    Q_PROPERTY(bool running READ running NOTIFY stateChanged)
    Q_PROPERTY(double barOpacity READ barOpacity NOTIFY stateChanged)
    Q_PROPERTY(QString accessibleName READ accessibleName NOTIFY stateChanged)
    Q_PROPERTY(QList<double> heights READ heights NOTIFY heightsChanged)

  public:
    static constexpr int barCount = 4;
    static constexpr MainQueue::Duration interval = std::chrono::milliseconds(140);
    // 1 January 2001 00:00 UTC in Unix seconds: the swing's phase counts from there.
    static constexpr double referenceDate = 978307200;

    explicit NotchMeterModel(MainQueue& mainQueue, QObject* parent = nullptr);
    ~NotchMeterModel() override;

    bool playing() const { return playing_; }
    void setPlaying(bool playing);
    bool reduceMotion() const { return reduceMotion_; }
    void setReduceMotion(bool reduceMotion);
    bool shown() const { return shown_; }
    void setShown(bool shown);
    bool obscured() const { return obscured_; }
    void setObscured(bool obscured);
    bool animated() const { return playing_ && !reduceMotion_; }
    // The bars swing now: animated, shown and not obscured.
    bool running() const { return running_; }
    // Whoever draws the meter steps the swing at `interval` on its own: no main-queue timer.
    void setPacedByPainter(bool paced);
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
    bool obscured_ = false;
    bool running_ = false;
    bool pacedByPainter_ = false;
    std::optional<MainQueue::TimerId> timer_;
    QList<double> heights_;
};

}  // namespace velto
