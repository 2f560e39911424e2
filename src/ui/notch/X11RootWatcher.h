#pragma once

#include <QObject>
#include <QRect>
#include <QtGlobal>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>

#include "ui/notch/X11SelectionOwner.h"
#include "ui/notch/X11Stacking.h"

class QSocketNotifier;

namespace velto {

// Watches the X display's root window on a connection of its own: raw button presses of every
// program (XInput 2.1 or later; only while asked), the window manager's active window and
// whether it is full-screen in front of the notch, and the screen saver (which lockers start
// too). While no window manager runs, it also keeps the notch above the windows that come over
// it: only a window manager honours a window's wish to stay above.
class X11RootWatcher final : public QObject {
    Q_OBJECT
  public:
    struct Handlers {
        std::function<void()> pressed;
        // The process of the newly active window: none when no window is active, 0 when the
        // window names no process.
        std::function<void(std::optional<qint64>)> activeWindowChanged;
        // The screen saver runs or the active window is full-screen in front of the notch, or
        // neither any more.
        std::function<void(bool)> obscuredChanged;
    };

    // None (and one log line) when the display cannot be reached.
    static std::unique_ptr<X11RootWatcher> connect(const char* displayName, QObject* parent = nullptr);
    ~X11RootWatcher() override;

    void setHandlers(Handlers handlers) { handlers_ = std::move(handlers); }
    // False when the server has no usable XInput 2: presses of other programs go unseen.
    bool canWatchPresses() const { return xinputOpcode_ != 0; }
    void watchPresses(bool on);
    bool obscured() const { return screenSaverOn_ || fullScreenActive_; }
    // The notch's X window, 0 while none is shown. A full-screen window hides it only when it
    // is on the notch's screen (over the notch) and stacked above it.
    void setNotchWindow(std::uint32_t window);
    // How many times so far whether the active window hides the notch was judged.
    std::uint64_t judgements() const { return judgements_; }

  private:
    X11RootWatcher(xcb_connection_t* connection, std::uint32_t root, int screen, QObject* parent);
    void readEvents();
    // Whether the active window or the notch changed so that the one may come in front of the
    // other or leave it.
    bool takeEvents();
    void activeWindowChanged();
    std::uint32_t activeWindow();
    bool fullScreen(std::uint32_t window);
    void watchWindows();
    bool hidesNotch(std::uint32_t window);
    std::optional<QRect> frameOnRoot(std::uint32_t window);
    void judgeFullScreen();
    std::optional<qint64> process(std::uint32_t window);
    void followWindowManager();
    bool keepsNotchAbove() const;
    void keepNotchAbove();
    void reportObscured(bool wasObscured);
    std::uint32_t atom(const char* name);

    xcb_connection_t* connection_;
    std::uint32_t root_;
    std::uint32_t activeWindowAtom_ = 0;
    std::uint32_t pidAtom_ = 0;
    std::uint32_t stateAtom_ = 0;
    std::uint32_t fullScreenAtom_ = 0;
    std::uint32_t activeWindow_ = 0;  // whose state changes are watched
    bool activeFullScreen_ = false;   // as its state says
    std::uint32_t notch_ = 0;
    X11Stacking stacking_;
    X11SelectionOwner windowManager_;
    std::uint32_t rootMask_ = 0;
    // The windows this connection selected events on, with their masks.
    std::map<std::uint32_t, std::uint32_t> selected_;
    std::uint64_t judgements_ = 0;
    std::uint8_t screenSaverEvent_ = 0;  // 0: no screen-saver extension
    bool screenSaverOn_ = false;
    bool fullScreenActive_ = false;
    std::uint8_t xinputOpcode_ = 0;
    QSocketNotifier* notifier_ = nullptr;
    Handlers handlers_;
};

}  // namespace velto
