#pragma once

#include <QObject>
#include <QtGlobal>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

struct xcb_connection_t;
class QSocketNotifier;

namespace velto {

// Watches the X display's root window on a connection of its own: raw button presses of every
// program (XInput 2.1 or later; only while asked) and the window manager's active window.
class X11RootWatcher final : public QObject {
    Q_OBJECT
  public:
    struct Handlers {
        std::function<void()> pressed;
        // The process of the newly active window: none when no window is active, 0 when the
        // window names no process.
        std::function<void(std::optional<qint64>)> activeWindowChanged;
    };

    // None (and one log line) when the display cannot be reached.
    static std::unique_ptr<X11RootWatcher> connect(const char* displayName, QObject* parent = nullptr);
    ~X11RootWatcher() override;

    void setHandlers(Handlers handlers) { handlers_ = std::move(handlers); }
    // False when the server has no usable XInput 2: presses of other programs go unseen.
    bool canWatchPresses() const { return xinputOpcode_ != 0; }
    void watchPresses(bool on);

  private:
    X11RootWatcher(xcb_connection_t* connection, std::uint32_t root, QObject* parent);
    void readEvents();
    std::optional<qint64> activeWindowProcess();
    std::uint32_t atom(const char* name);

    xcb_connection_t* connection_;
    std::uint32_t root_;
    std::uint32_t activeWindowAtom_ = 0;
    std::uint32_t pidAtom_ = 0;
    std::uint8_t xinputOpcode_ = 0;
    QSocketNotifier* notifier_ = nullptr;
    Handlers handlers_;
};

}  // namespace velto
