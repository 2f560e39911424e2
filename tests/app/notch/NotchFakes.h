#pragma once

#include <utility>
#include <vector>

#include "app/notch/NotchDesktopWatcher.h"
#include "app/notch/NotchPanel.h"

namespace velto::notchtest {

// Records what the controller asked of the window; `resignKey` reports focus loss at once,
// as a focused window giving up focus does.
class FakePanel final : public NotchPanel {
  public:
    void setHandlers(Handlers h) override { handlers = std::move(h); }
    void setFrame(const QRectF& f) override { frame = f; }
    void orderFront() override { visible = true; }
    void orderOut() override { visible = false; }
    void makeKey() override { key = true; }
    void resignKey() override {
        const bool hadFocus = std::exchange(key, false);
        if (hadFocus && handlers.focusLost) handlers.focusLost();
    }

    Handlers handlers;
    QRectF frame;
    bool visible = false;
    bool key = false;
};

class FakeDesktop final : public NotchDesktopWatcher {
  public:
    void setHandlers(Handlers h) override { handlers = std::move(h); }
    std::vector<Screen> screens() const override { return screenList; }
    void watchPresses(bool on) override { watching = on; }

    void press(QPointF at) const {
        if (watching) handlers.pressed(at);
    }

    Handlers handlers;
    std::vector<Screen> screenList{{QRectF(0, 0, 1920, 1080)}};
    bool watching = false;
};

}  // namespace velto::notchtest
