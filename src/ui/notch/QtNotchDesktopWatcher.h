#pragma once

#include <QObject>
#include <memory>

#include "app/notch/NotchDesktopWatcher.h"

class QScreen;
class QWindow;

namespace velto {

class X11RootWatcher;

// The desktop as Qt and, on X11, the root window show it: this program's presses through an
// application event filter, other programs' presses and the active window through the root
// window, and the screens from the application.
class QtNotchDesktopWatcher final : public QObject, public NotchDesktopWatcher {
    Q_OBJECT
  public:
    explicit QtNotchDesktopWatcher(QObject* parent = nullptr);
    ~QtNotchDesktopWatcher() override;

    void setHandlers(Handlers handlers) override;
    std::vector<Screen> screens() const override;
    void watchPresses(bool on) override;
    // The notch panel's window: a full-screen window hides the notch only in front of it.
    void watchNotch(QWindow* window);

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void watchScreen(QScreen* screen);
    void screensChangedSoon();
    void reportPress();

    Handlers handlers_;
    std::unique_ptr<X11RootWatcher> root_;
    bool watching_ = false;
    bool screenChangePending_ = false;
};

}  // namespace velto
