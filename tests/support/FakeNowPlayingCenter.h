#pragma once

#include <optional>
#include <vector>

#include "platform/NowPlayingCenter.h"
#include "platform/RemoteCommandCenter.h"

namespace velto {

// Records what a service publishes as Now Playing and lets a test send remote commands
// through the handlers it installed. No bus involved.
class FakeNowPlayingCenter final : public NowPlayingCenter, public RemoteCommandCenter {
public:
    void setPlaybackState(PlaybackState state) override { states.push_back(state); }
    void setInfo(const Info& value) override {
        info = value;
        ++infoUpdates;
        elapsedPublished.push_back(value.elapsed);
    }
    void clearInfo() override {
        info.reset();
        ++clears;
    }
    void setVolume(double value) override { volume = value; }
    void setHandlers(Handlers value) override { handlers = std::move(value); }

    std::optional<PlaybackState> state() const {
        return states.empty() ? std::nullopt : std::optional(states.back());
    }

    std::vector<PlaybackState> states;
    std::optional<Info> info;
    int infoUpdates = 0;
    std::vector<double> elapsedPublished;
    int clears = 0;
    Handlers handlers;
    std::optional<double> volume;
};

}  // namespace velto
