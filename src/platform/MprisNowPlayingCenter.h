#pragma once

#include <cstddef>
#include <memory>
#include <string>

#include "foundation/MainQueue.h"
#include "platform/NowPlayingCenter.h"
#include "platform/RemoteCommandCenter.h"

namespace velto {

// Now Playing and remote commands as an MPRIS player on the session bus. The bus connection
// lives on a private thread with its own GLib main loop; commands from the bus are handed to
// the main queue. Without a session bus it logs once and does nothing else.
class MprisNowPlayingCenter final : public NowPlayingCenter, public RemoteCommandCenter {
public:
    static constexpr const char* defaultBusName = "org.mpris.MediaPlayer2.velto";

    explicit MprisNowPlayingCenter(MainQueue& mainQueue, std::string busName = defaultBusName);
    ~MprisNowPlayingCenter() override;
    MprisNowPlayingCenter(const MprisNowPlayingCenter&) = delete;
    MprisNowPlayingCenter& operator=(const MprisNowPlayingCenter&) = delete;

    void setPlaybackState(PlaybackState state) override;
    void setInfo(const Info& info) override;
    void clearInfo() override;
    void setVolume(double volume) override;
    void setHandlers(Handlers handlers) override;

    // Whether the bus name is owned; follows the bus through the main queue.
    bool published() const;

    // How many changes were handed to the bus thread to announce (those close together make
    // one announcement there); a count of work for tests.
    std::size_t flushesScheduled() const;

    // The object path that stands for a song in the MPRIS metadata.
    static std::string trackObjectPath(const std::string& trackId);

private:
    struct Bus;
    std::shared_ptr<Bus> bus_;
};

}  // namespace velto
