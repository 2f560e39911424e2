#include "app/search/WidgetPlaybackSnapshot.h"

#include <cmath>
#include <limits>
#include <nlohmann/json.hpp>

#include "foundation/text/BoundedJson.h"

namespace velto {

namespace {

// 2001-01-01 00:00:00 UTC in seconds since 1970.
constexpr double referenceDateOffset = 978307200.0;

std::optional<std::string> textField(const nlohmann::json& object, const char* key) {
    auto it = object.find(key);
    if (it == object.end() || !it->is_string()) return std::nullopt;
    return it->get<std::string>();
}

std::optional<bool> boolField(const nlohmann::json& object, const char* key) {
    auto it = object.find(key);
    if (it == object.end() || !it->is_boolean()) return std::nullopt;
    return it->get<bool>();
}

std::optional<std::int64_t> integerField(const nlohmann::json& object, const char* key) {
    auto it = object.find(key);
    if (it == object.end()) return std::nullopt;
    if (it->is_number_integer() && !it->is_number_unsigned()) return it->get<std::int64_t>();
    if (it->is_number_unsigned()) {
        auto value = it->get<std::uint64_t>();
        if (value > std::uint64_t(std::numeric_limits<std::int64_t>::max())) return std::nullopt;
        return std::int64_t(value);
    }
    if (it->is_number_float()) {
        // A whole number written with a fraction part still counts.
        const double value = it->get<double>();
        if (std::trunc(value) != value || std::abs(value) >= 9.2e18) return std::nullopt;
        return std::int64_t(value);
    }
    return std::nullopt;
}

}  // namespace

const WidgetPlaybackSnapshot& WidgetPlaybackSnapshot::empty() {
    static const WidgetPlaybackSnapshot snapshot{"暂无播放", "点按开启随心听", "", "", false,
                                                 false,      false,            0,  std::chrono::system_clock::now()};
    return snapshot;
}

bool WidgetPlaybackSnapshot::sameContent(const WidgetPlaybackSnapshot& other) const {
    return title == other.title && artist == other.artist && album == other.album &&
           quality == other.quality && isPlaying == other.isPlaying &&
           hasTrack == other.hasTrack && isShuffleOn == other.isShuffleOn &&
           favoritesCount == other.favoritesCount;
}

std::chrono::system_clock::time_point WidgetPlaybackSnapshot::fromSecondsSince2001(double seconds) {
    const double sinceEpoch = seconds + referenceDateOffset;
    return std::chrono::system_clock::time_point(std::chrono::duration_cast<std::chrono::system_clock::duration>(
        std::chrono::duration<double>(sinceEpoch)));
}

double WidgetPlaybackSnapshot::secondsSince2001(std::chrono::system_clock::time_point time) {
    return std::chrono::duration<double>(time.time_since_epoch()).count() - referenceDateOffset;
}

std::optional<std::string> WidgetPlaybackSnapshot::toJSON() const {
    nlohmann::ordered_json object;
    object["title"] = title;
    object["artist"] = artist;
    object["album"] = album;
    object["quality"] = quality;
    object["isPlaying"] = isPlaying;
    object["hasTrack"] = hasTrack;
    object["isShuffleOn"] = isShuffleOn;
    object["favoritesCount"] = favoritesCount;
    object["updatedAt"] = secondsSince2001(updatedAt);
    try {
        return object.dump();
    } catch (const nlohmann::json::exception&) {
        return std::nullopt;
    }
}

std::optional<WidgetPlaybackSnapshot> WidgetPlaybackSnapshot::fromJSON(std::string_view text) {
    auto object = BoundedJson::parse(text);
    if (!object.is_object()) return std::nullopt;
    auto title = textField(object, "title");
    auto artist = textField(object, "artist");
    auto album = textField(object, "album");
    auto quality = textField(object, "quality");
    auto isPlaying = boolField(object, "isPlaying");
    auto hasTrack = boolField(object, "hasTrack");
    auto favoritesCount = integerField(object, "favoritesCount");
    auto updatedAt = object.find("updatedAt");
    if (!title || !artist || !album || !quality || !isPlaying || !hasTrack || !favoritesCount ||
        updatedAt == object.end() || !updatedAt->is_number()) {
        return std::nullopt;
    }
    bool isShuffleOn = false;
    if (auto shuffle = object.find("isShuffleOn"); shuffle != object.end() && !shuffle->is_null()) {
        if (!shuffle->is_boolean()) return std::nullopt;
        isShuffleOn = shuffle->get<bool>();
    }
    const double seconds = updatedAt->get<double>();
    // Beyond about ±290 years the clock's nanoseconds overflow.
    if (!std::isfinite(seconds) || std::abs(seconds) > 9.0e9) return std::nullopt;
    return WidgetPlaybackSnapshot{*title,     *artist,     *album,          *quality,
                                  *isPlaying, *hasTrack,   isShuffleOn,     *favoritesCount,
                                  fromSecondsSince2001(seconds)};
}

}  // namespace velto
