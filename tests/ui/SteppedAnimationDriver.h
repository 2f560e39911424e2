#pragma once

#include <QAnimationDriver>

namespace velto {

// Animation time that moves only when the test says so: pictures and walks see the rows once
// their transitions have ended, without waiting for the wall clock.
class SteppedAnimationDriver : public QAnimationDriver {
  public:
    qint64 elapsed() const override { return now_; }
    void step(qint64 ms) {
        now_ += ms;
        advance();
    }

  private:
    qint64 now_ = 0;
};

}  // namespace velto
