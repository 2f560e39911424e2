#pragma once

#include <QObject>
#include <QRect>
#include <cstdint>
#include <memory>

#include "app/notch/NotchPanel.h"

class QQuickWindow;

namespace velto {

// The notch panel as a frameless Qt Quick window above all others, kept out of the taskbar; on
// X11 it also bypasses the window manager, so it sits exactly where it is put, on every
// workspace, and clicks on it do not activate it. It takes keyboard focus only when asked.
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

    QQuickWindow* window() const { return window_.get(); }

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void showIfPlaced();

    std::unique_ptr<QQuickWindow> window_;
    Handlers handlers_;
    QRect frame_;
    bool wantsFront_ = false;
    // The X window that had keyboard focus before the panel took it.
    std::uint32_t previousFocus_ = 0;
};

}  // namespace velto
