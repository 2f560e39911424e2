#pragma once

#include <functional>
#include <memory>

#include "foundation/MainQueue.h"
#include "ui/notch/QuickNotchPanel.h"

class QQmlEngine;

namespace velto {

class NotchPlayerViewModel;
class NotchWindowController;
class PlaybackService;
class TrackListActions;

// Makes the notch panel: a window showing the notch player view over its own view model.
// Answers none where windows cannot be placed, or when the view does not load (logged).
class QuickNotchPanelFactory {
  public:
    struct Parts {
        QQmlEngine* engine = nullptr;  // with the view types registered
        MainQueue* mainQueue = nullptr;
        PlaybackService* playback = nullptr;
        TrackListActions* actions = nullptr;  // may be null: no favourites
        // Hands the view model what only the application knows (lyrics, cover), now and later.
        std::function<void(NotchPlayerViewModel&)> attach;
    };

    explicit QuickNotchPanelFactory(Parts parts) : parts_(std::move(parts)) {}

    std::unique_ptr<QuickNotchPanel> operator()(NotchWindowController& controller) const;

  private:
    Parts parts_;
};

}  // namespace velto
