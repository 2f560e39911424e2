#pragma once

#include <optional>
#include <string>

namespace velto {

// What the desktop shows as the song being played (media keys overlay, sound menu, lock
// screen). Main thread only.
class NowPlayingCenter {
public:
    enum class PlaybackState { stopped, playing, paused };

    struct Info {
        std::string trackId;  // stable per song; a change means another song
        std::string title;
        std::string artist;
        std::string album;
        std::optional<double> duration;     // seconds, when known
        std::optional<std::string> artUrl;  // file, http or https URL of the cover
        double elapsed = 0;                 // seconds into the song when this was set
        double rate = 1.0;                  // speed at which `elapsed` moves on while playing
        // Playing as asked, but waiting for the song's data: nothing is heard, and the
        // position stands at `elapsed` until they come.
        bool waiting = false;
    };

    virtual ~NowPlayingCenter() = default;

    virtual void setPlaybackState(PlaybackState state) = 0;
    // Replaces the whole information; the position moves on from `elapsed` while playing.
    virtual void setInfo(const Info& info) = 0;
    virtual void clearInfo() = 0;
    // The player's volume, 0...1, which the desktop shows and may change (RemoteCommandCenter).
    virtual void setVolume(double volume) = 0;
};

}  // namespace velto
