#include "sources/resolving/PlaybackURLCache.h"

#include <algorithm>

namespace velto {

PlaybackURLCache::Key::Key(std::string musicID, Quality quality)
    : musicID(std::move(musicID)), quality(quality) {}

PlaybackURLCache::Key::Key(const Track& track, Quality quality)
    : musicID(track.musicID()), quality(quality) {}

std::size_t PlaybackURLCache::KeyHash::operator()(const Key& key) const {
    const std::size_t first = std::hash<std::string>{}(key.musicID);
    const std::size_t second = std::hash<std::string_view>{}(rawValue(key.quality));
    return first ^ (second + 0x9e3779b97f4a7c15ULL + (first << 6) + (first >> 2));
}

PlaybackURLCache::PlaybackURLCache(double ttlSeconds, Clock now)
    : ttl_(std::chrono::duration_cast<std::chrono::steady_clock::duration>(
          std::chrono::duration<double>(ttlSeconds))),
      now_(now ? std::move(now) : Clock([] { return std::chrono::steady_clock::now(); })) {}

std::optional<std::string> PlaybackURLCache::value(const Key& key) {
    std::lock_guard lock(mutex_);
    auto it = entries_.find(key);
    if (it == entries_.end()) return std::nullopt;
    const auto now = now_();
    if (it->second.expiresAt > now && it->second.actualQuality >= key.quality) {
        return it->second.url;
    }
    entries_.erase(it);
    return std::nullopt;
}

void PlaybackURLCache::insert(const std::string& url, Quality actualQuality, const Key& key) {
    std::lock_guard lock(mutex_);
    if (actualQuality >= key.quality) store(url, actualQuality, key);
    store(url, actualQuality, Key(key.musicID, actualQuality));
}

void PlaybackURLCache::store(const std::string& url, Quality actualQuality, const Key& key) {
    const auto now = now_();
    // Without a sweep, every song ever played would stay in memory for the whole run.
    if (nextExpiry_ && *nextExpiry_ <= now) dropExpired(now);
    const auto expiresAt = now + ttl_;
    entries_.insert_or_assign(key, Entry{url, actualQuality, expiresAt});
    nextExpiry_ = nextExpiry_ ? std::min(*nextExpiry_, expiresAt) : expiresAt;
}

void PlaybackURLCache::dropExpired(std::chrono::steady_clock::time_point now) {
    nextExpiry_.reset();
    for (auto it = entries_.begin(); it != entries_.end();) {
        if (it->second.expiresAt <= now) {
            it = entries_.erase(it);
            continue;
        }
        nextExpiry_ =
            nextExpiry_ ? std::min(*nextExpiry_, it->second.expiresAt) : it->second.expiresAt;
        ++it;
    }
}

void PlaybackURLCache::removeValue(const Key& key) {
    std::lock_guard lock(mutex_);
    entries_.erase(key);
}

void PlaybackURLCache::removeAll() {
    std::lock_guard lock(mutex_);
    entries_.clear();
    nextExpiry_.reset();
}

std::size_t PlaybackURLCache::count() const {
    std::lock_guard lock(mutex_);
    return entries_.size();
}

}  // namespace velto
