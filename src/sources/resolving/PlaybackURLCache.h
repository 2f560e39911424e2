#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>

#include "sources/model/Quality.h"
#include "sources/model/Track.h"

namespace velto {

// Stream addresses of the RoVOz path, per song and quality, for a fixed lifetime. Access is
// serialised; two resolutions of one song may both miss and both store (the later wins).
class PlaybackURLCache {
  public:
    using Clock = std::function<std::chrono::steady_clock::time_point()>;

    struct Key {
        std::string musicID;
        Quality quality = Quality::standard;

        Key(std::string musicID, Quality quality);
        Key(const Track& track, Quality quality);
        bool operator==(const Key&) const = default;
    };

    struct KeyHash {
        std::size_t operator()(const Key& key) const;
    };

    // `now` must be callable from any thread; it defaults to the steady clock.
    explicit PlaybackURLCache(double ttlSeconds, Clock now = {});

    // The cached address when it is still alive and good enough for the key's quality; a dead
    // or unsuitable entry is dropped.
    std::optional<std::string> value(const Key& key);
    // Stored under the delivered quality always, and under the key when the delivered quality
    // satisfies it. Expired entries of other keys are dropped on the way.
    void insert(const std::string& url, Quality actualQuality, const Key& key);
    void removeValue(const Key& key);
    void removeAll();
    std::size_t count() const;

  private:
    struct Entry {
        std::string url;
        Quality actualQuality;
        std::chrono::steady_clock::time_point expiresAt;
    };

    void store(const std::string& url, Quality actualQuality, const Key& key);
    void dropExpired(std::chrono::steady_clock::time_point now);

    mutable std::mutex mutex_;
    std::unordered_map<Key, Entry, KeyHash> entries_;
    std::chrono::steady_clock::duration ttl_;
    Clock now_;
    // The earliest expiry among the entries, so that most stores skip the sweep.
    std::optional<std::chrono::steady_clock::time_point> nextExpiry_;
};

}  // namespace velto
