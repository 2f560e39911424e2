#pragma once

#include <QPointF>
#include <QRectF>
#include <QtGlobal>
#include <functional>
#include <optional>
#include <vector>

namespace velto {

// What the notch controller needs of the desktop around its panel: the screens, presses of
// the mouse anywhere, which program comes to the front, and whether anyone can see the notch.
class NotchDesktopWatcher {
  public:
    struct Screen {
        QRectF frame;  // global coordinates, device-independent pixels
        double safeTop = 0;
        // The areas left and right of a camera housing, when the screen has them.
        std::optional<QRectF> auxiliaryTopLeft;
        std::optional<QRectF> auxiliaryTopRight;
    };

    struct Handlers {
        // A mouse button went down at this global position (only while presses are watched).
        std::function<void(QPointF)> pressed;
        // A program came to the front: its process id, none when no window is active.
        std::function<void(std::optional<qint64>)> applicationActivated;
        // A screen was added, removed or changed, or another became primary.
        std::function<void()> screensChanged;
        // Nobody can see the notch (the screen is blanked or locked, or a full-screen window
        // is in front), or it can be seen again.
        std::function<void(bool)> obscuredChanged;
    };

    virtual ~NotchDesktopWatcher() = default;

    virtual void setHandlers(Handlers handlers) = 0;
    // The screens in the system's order of preference, the primary one first.
    virtual std::vector<Screen> screens() const = 0;
    virtual void watchPresses(bool on) = 0;
};

}  // namespace velto
