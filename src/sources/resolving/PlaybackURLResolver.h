#pragma once

#include <memory>
#include <optional>
#include <string>

#include "sources/resolving/PlaybackHTTPClient.h"
#include "sources/resolving/PlaybackURLResolving.h"

namespace velto {

class ChkszAPIRequesting;
class ChkszCircuitBreaker;
class ChkszNetEaseProviding;
class CredentialStore;
class PlaybackURLCache;

// The RoVOz path and local files. NetEase songs are resolved through the RoVOz music API; every
// address is made https, probed for real audio and cached per song and quality. Local songs
// resolve to their file.
class PlaybackURLResolver : public PlaybackURLRefreshing {
  public:
    // Without `chkszAPI` an API client over `client`, `credentials` and `breaker` (8 s per
    // request) is built; without `netease` a RoVOz NetEase client over that API.
    PlaybackURLResolver(std::shared_ptr<PlaybackHTTPClient> client,
                        std::shared_ptr<const CredentialStore> credentials,
                        std::shared_ptr<ChkszCircuitBreaker> breaker,
                        std::shared_ptr<PlaybackURLCache> cache,
                        std::shared_ptr<ChkszAPIRequesting> chkszAPI = nullptr,
                        std::shared_ptr<ChkszNetEaseProviding> netease = nullptr);

    std::string musicURL(const Track& track, Quality quality, std::stop_token stop) override;
    // Drops the address cached for exactly this song and quality and resolves anew.
    std::string refreshMusicURL(const Track& track, Quality quality, std::stop_token stop) override;
    bool supportsPlayback(MusicSource source) const override;

    // A service address as https; none without host, with user or password, or with a scheme
    // other than http and https.
    static std::optional<std::string> mediaURL(const std::string& text);
    // Whether a probe answer carries audio rather than an error page or document.
    static bool looksLikeMedia(const PlaybackHTTPResponse& response);
    // The file:// address of a local song; throws SourceError when there is no such file or it
    // does not answer within the bound of the user's file reads, CancellationError at once on a
    // stop even while the check hangs.
    static std::string localFileURL(const Track& track, std::stop_token stop = {});

  private:
    std::string resolveProbeAndCache(const Track& track, Quality quality,
                                     const std::stop_token& stop);
    void validateChkszMediaURL(const std::string& url, const std::stop_token& stop);

    const std::shared_ptr<PlaybackHTTPClient> client_;
    const std::shared_ptr<ChkszNetEaseProviding> netease_;
    const std::shared_ptr<PlaybackURLCache> cache_;
};

}  // namespace velto
