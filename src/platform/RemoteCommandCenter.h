#pragma once

#include <functional>

namespace velto {

// Commands from outside the program (media keys, the desktop's sound menu). Each handler runs
// on the main thread; a missing handler leaves its command disabled.
class RemoteCommandCenter {
public:
    struct Handlers {
        std::function<void()> play;
        std::function<void()> pause;
        std::function<void()> togglePlayPause;
        std::function<void()> nextTrack;
        std::function<void()> previousTrack;
        std::function<void(double seconds)> changePlaybackPosition;
        // Any number the desktop sends, unchecked.
        std::function<void(double volume)> changeVolume;
    };

    virtual ~RemoteCommandCenter() = default;

    // Replaces all handlers.
    virtual void setHandlers(Handlers handlers) = 0;
};

}  // namespace velto
