#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "sources/resolving/URLSessionPlaybackHTTPClient.h"

namespace velto {

// The real client for tests against the plain-http loopback server: the RoVOz path hands out
// https addresses only, so the probe puts the scheme back before it goes out.
class LoopbackPlaybackHTTPClient : public URLSessionPlaybackHTTPClient {
  public:
    using URLSessionPlaybackHTTPClient::URLSessionPlaybackHTTPClient;

    PlaybackHTTPResponse probe(const PlaybackHTTPRequest& request, int maxBytes, double timeout,
                               std::stop_token stop) override {
        {
            std::lock_guard lock(mutex_);
            probed_.push_back(request.url);
        }
        PlaybackHTTPRequest plain = request;
        if (plain.url.starts_with("https://")) plain.url.replace(0, 5, "http");
        return URLSessionPlaybackHTTPClient::probe(plain, maxBytes, timeout, stop);
    }

    // The addresses the probe was asked for, as given.
    std::vector<std::string> probed() const {
        std::lock_guard lock(mutex_);
        return probed_;
    }

  private:
    mutable std::mutex mutex_;
    std::vector<std::string> probed_;
};

}  // namespace velto
