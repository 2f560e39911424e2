#pragma once

#include <functional>
#include <memory>

#include <QPointer>
#include <QQmlEngine>

#include "app/NotchControllerFactory.h"

namespace velto {

// Makes the application model's notch controller: the notch panel with the player view on this
// display, and the desktop watcher. `openStatusPanel` runs when the player asks for the panel.
class QuickNotchControllerFactory final : public NotchControllerFactory {
  public:
    QuickNotchControllerFactory(QQmlEngine* engine, std::function<void()> openStatusPanel);

    std::unique_ptr<NotchController> make(MacAppModel& model) override;
    void collectGarbage() override;

  private:
    QPointer<QQmlEngine> engine_;
    std::function<void()> openStatusPanel_;
};

}  // namespace velto
