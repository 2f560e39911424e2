#pragma once

#include <QObject>
#include <QPointF>
#include <functional>
#include <memory>
#include <optional>

#include "app/NotchController.h"
#include "app/notch/NotchDesktopWatcher.h"
#include "app/notch/NotchGeometry.h"
#include "app/notch/NotchPanel.h"
#include "foundation/MainQueue.h"

namespace velto {

// Owns the notch player's panel: shows it while the player is switched on, places it on the
// screen, expands it on hover (after a short delay), a header click or a request, and collapses
// it on hover out (after a longer delay), Escape, presses outside it, another program coming to
// the front and focus loss. Main thread; the delays run on the main queue.
class NotchWindowController : public QObject, public NotchController {
    Q_OBJECT
    Q_PROPERTY(bool expanded READ expanded NOTIFY expandedChanged)
    Q_PROPERTY(bool pinned READ pinned WRITE setPinned NOTIFY pinnedChanged)
    Q_PROPERTY(velto::NotchGeometry geometry READ geometry NOTIFY geometryChanged)
    // As the desktop tells: nobody can see the notch, whether or not its window is shown.
    Q_PROPERTY(bool obscured READ obscured NOTIFY obscuredChanged)

  public:
    static constexpr double openDelay = 0.17;
    static constexpr double closeDelay = 0.5;

    // Makes the panel on the first switch-on; may answer none (nothing can be shown), and is
    // asked again on the next switch-on then.
    using PanelFactory = std::function<std::unique_ptr<NotchPanel>(NotchWindowController&)>;

    NotchWindowController(MainQueue& queue, std::unique_ptr<NotchDesktopWatcher> desktop,
                          PanelFactory makePanel, QObject* parent = nullptr);
    ~NotchWindowController() override;

    void setEnabled(bool enabled) override;
    Q_INVOKABLE void hover(bool inside);
    Q_INVOKABLE void expand(bool keyboard) override;
    Q_INVOKABLE void collapse();
    // Measures the screen again and moves the panel to the frame of the current state.
    void reposition();

    // The header's tap: collapses an expanded player, opens a collapsed one for the keyboard.
    Q_INVOKABLE void toggleFromHeader();
    // A seek or volume drag began or ended: while it lasts hover out does not close, and one
    // that ends outside the panel starts the usual delayed close.
    Q_INVOKABLE void sliderEditingChanged(bool editing);
    // Collapses, then asks for the status panel.
    Q_INVOKABLE void openStatusPanel();
    Q_INVOKABLE void cancelPendingAction();

    bool expanded() const { return expanded_; }
    bool pinned() const { return pinned_; }
    void setPinned(bool pinned);
    const NotchGeometry& geometry() const { return geometry_; }
    bool obscured() const { return obscured_; }
    // The collapsed frame while the panel is on screen, else empty: other windows of the
    // program keep clear of it.
    QRectF shownFrame() const { return shownFrame_; }
    bool enabled() const { return enabled_; }
    bool interacting() const { return interacting_; }
    void setInteracting(bool interacting) { interacting_ = interacting; }
    bool pointerInside() const { return pointerInside_; }
    bool keyboardOpen() const { return keyboardOpen_; }
    bool hasPendingAction() const { return pending_.has_value(); }
    NotchPanel* panel() const { return panel_.get(); }

  signals:
    void expandedChanged();
    void pinnedChanged();
    void geometryChanged();
    void obscuredChanged();
    void openStatusPanelRequested();
    void shownFrameChanged();

  private:
    void setExpanded(bool expanded);
    void schedule(double delay, void (NotchWindowController::*action)());
    void openAfterDelay();
    void closeAfterDelay();
    void startOutsideClickMonitoring();
    void stopOutsideClickMonitoring();
    void dismissIfOutside(QPointF position);
    void applicationActivated(std::optional<qint64> pid);
    void updateShownFrame();

    MainQueue& queue_;
    std::unique_ptr<NotchDesktopWatcher> desktop_;
    PanelFactory makePanel_;
    std::unique_ptr<NotchPanel> panel_;
    std::optional<MainQueue::TimerId> pending_;
    bool monitoring_ = false;

    bool expanded_ = false;
    bool pinned_ = false;
    NotchGeometry geometry_;
    bool obscured_ = false;
    QRectF shownFrame_;
    bool enabled_ = false;
    bool interacting_ = false;
    bool pointerInside_ = false;
    bool keyboardOpen_ = false;
};

}  // namespace velto
