#pragma once

#include <QObject>
#include <QRect>
#include <cstdint>
#include <functional>
#include <utility>
#include <memory>
#include <vector>

#include "app/notch/NotchPanel.h"

class QQuickWindow;

namespace velto {

// The notch panel as a frameless Qt Quick window above all others, kept out of the taskbar; on
// X11 it also bypasses the window manager, so it sits exactly where it is put, on every
// workspace, and clicks on it do not activate it. It takes keyboard focus only when asked.
// On X11 its window is cut to the view's rounded outline, so the corners are round where no
// compositor blends the transparent ones away.
class QuickNotchPanel final : public QObject, public NotchPanel {
    Q_OBJECT
  public:
    static constexpr const char* title = "Velto 刘海播放器";

    explicit QuickNotchPanel(std::unique_ptr<QQuickWindow> window, QObject* parent = nullptr);
    ~QuickNotchPanel() override;

    void setHandlers(Handlers handlers) override { handlers_ = std::move(handlers); }
    void setFrame(const QRectF& frame) override;
    void orderFront() override;
    void orderOut() override;
    void makeKey() override;
    void resignKey() override;
    // The outline's corner radii as the view draws them (top, bottom; the bottom ones animate),
    // read now and on each `refreshCorners`.
    void setCornerSource(std::function<std::pair<double, double>()> radii);

    // The window's outline at `size` with those radii (each at most half the smaller side), as
    // row bands: a pixel is inside when its centre is inside the rounded outline.
    static std::vector<QRect> outline(QSize size, double topRadius, double bottomRadius);

    QQuickWindow* window() const { return window_.get(); }

  public slots:
    void refreshCorners();

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void showIfPlaced();
    void applyOutline();

    std::unique_ptr<QQuickWindow> window_;
    Handlers handlers_;
    QRect frame_;
    bool wantsFront_ = false;
    std::function<std::pair<double, double>()> cornerSource_;
    double topRadius_ = 0;
    double bottomRadius_ = 0;
    // The X window that had keyboard focus before the panel took it.
    std::uint32_t previousFocus_ = 0;
};

}  // namespace velto
