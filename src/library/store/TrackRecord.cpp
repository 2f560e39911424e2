#include "library/store/TrackRecord.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>

namespace velto {

namespace {
std::int64_t wholeSeconds(const Track& track) {
    auto seconds = track.durationSeconds();
    if (!seconds || !std::isfinite(*seconds)) return 0;
    constexpr double limit = static_cast<double>(std::numeric_limits<std::int32_t>::max());
    return static_cast<std::int64_t>(std::trunc(std::clamp(*seconds, -limit, limit)));
}
}  // namespace

TrackRecord::TrackRecord(const Track& track, std::optional<std::string> accent)
    : musicId(track.musicID()), accentHex(std::move(accent)) {
    update(track);
}

void TrackRecord::update(const Track& track) {
    title = track.title;
    artist = track.artist;
    album = track.album;
    duration = wholeSeconds(track);
    source = std::string(rawValue(track.source));
    payload = track.payload;
}

std::optional<Track> TrackRecord::track() const {
    auto kind = musicSourceFromRaw(source);
    if (!kind) return std::nullopt;
    const std::string prefix = source + "_";
    if (!musicId.starts_with(prefix) || musicId.size() == prefix.size()) return std::nullopt;
    Track song;
    song.source = *kind;
    song.songmid = musicId.substr(prefix.size());
    song.title = title;
    song.artist = artist;
    song.album = album;
    song.payload = payload;
    if (duration >= 1) {
        char text[48];
        std::snprintf(text, sizeof text, "%02lld:%02lld", static_cast<long long>(duration / 60),
                      static_cast<long long>(duration % 60));
        song.interval = text;
    }
    return std::move(song).bounded();
}

}  // namespace velto
