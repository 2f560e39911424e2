#pragma once

#include <QRectF>
#include <functional>

namespace velto {

// The notch player's window as its controller drives it: a borderless panel above every other
// window that never takes keyboard focus unless asked to.
class NotchPanel {
  public:
    struct Handlers {
        std::function<void()> closePlayer;  // Escape while the panel has keyboard focus
        std::function<void()> focusLost;    // the panel stopped being the focused window
    };

    virtual ~NotchPanel() = default;

    virtual void setHandlers(Handlers handlers) = 0;
    // Global coordinates, device-independent pixels.
    virtual void setFrame(const QRectF& frame) = 0;
    // Shows the panel above everything else, without activating it.
    virtual void orderFront() = 0;
    // Hides the panel; it can be shown again.
    virtual void orderOut() = 0;
    virtual void makeKey() = 0;
    // Gives keyboard focus back (a panel without focus does nothing).
    virtual void resignKey() = 0;
};

}  // namespace velto
