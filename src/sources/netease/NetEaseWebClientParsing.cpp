#include <cinttypes>
#include <cstdio>

#include "sources/model/JsonReading.h"
#include "sources/netease/NetEaseReplyReading.h"
#include "sources/netease/NetEaseWebClient.h"
#include "sources/model/LoopbackAddresses.h"
#include "sources/model/WebAddress.h"

namespace velto {

using namespace NetEaseReplyReading;

namespace {

const nlohmann::json emptyObject = nlohmann::json::object();

struct QualityKey {
    std::string_view key;
    std::string_view type;
};

// Lowest to highest; the web interface never lists a master stream.
constexpr QualityKey qualityKeys[] = {
    {"l", "128k"},
    {"h", "320k"},
    {"sq", "flac"},
    {"hr", "flac24bit"},
};

// Days since 1970-01-01 to a civil date (proleptic Gregorian).
void civilFromDays(std::int64_t days, std::int64_t& year, unsigned& month, unsigned& day) {
    days += 719468;
    const std::int64_t era = (days >= 0 ? days : days - 146096) / 146097;
    const auto dayOfEra = static_cast<unsigned>(days - era * 146097);
    const unsigned yearOfEra =
        (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const unsigned dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const unsigned shiftedMonth = (5 * dayOfYear + 2) / 153;
    day = dayOfYear - (153 * shiftedMonth + 2) / 5 + 1;
    month = shiftedMonth < 10 ? shiftedMonth + 3 : shiftedMonth - 9;
    year = static_cast<std::int64_t>(yearOfEra) + era * 400 + (month <= 2 ? 1 : 0);
}

}  // namespace

std::optional<std::int64_t> NetEaseWebClient::intValue(const nlohmann::json* value) {
    if (!value) return std::nullopt;
    return readInteger(*value);
}

std::optional<Track> NetEaseWebClient::trackFrom(const nlohmann::json& song) {
    auto id = intValue(memberAt(song, "id"));
    auto name = textAt(song, "name");
    if (!id || !name) return std::nullopt;

    // "ar" wins whenever it is a list of objects, even an empty one.
    auto artists = objectListAt(song, "ar");
    if (!artists) artists = objectListAt(song, "artists");
    std::vector<const nlohmann::json*> artistList = artists.value_or(decltype(artistList){});
    const nlohmann::json* albumObject = objectAt(song, "al");
    if (!albumObject) albumObject = objectAt(song, "album");
    const nlohmann::json& album = albumObject ? *albumObject : emptyObject;

    std::string singer;
    std::size_t named = 0;
    for (const nlohmann::json* artist : artistList) {
        if (named == Track::mostArtists) break;
        auto artistName = textAt(*artist, "name");
        if (!artistName) continue;
        if (named++ != 0) singer += "/";
        singer += *artistName;
    }

    nlohmann::json raw = nlohmann::json::object();
    raw["songmid"] = std::to_string(*id);
    raw["name"] = *name;
    raw["singer"] = singer;
    raw["albumName"] = textAt(album, "name").value_or("");
    if (auto picture = textAt(album, "picUrl")) {
        raw["picUrl"] = *picture;
    } else if (auto songPicture = textAt(song, "picUrl")) {
        raw["picUrl"] = *songPicture;
    }
    if (auto albumID = intValue(memberAt(album, "id"))) raw["albumID"] = *albumID;
    if (!artistList.empty()) {
        if (auto artistID = intValue(memberAt(*artistList.front(), "id"))) {
            raw["artistID"] = *artistID;
            if (auto artistName = textAt(*artistList.front(), "name")) {
                raw["artistName"] = Track::boundedName(*artistName);
            }
        }
    }
    auto milliseconds = intValue(memberAt(song, "dt"));
    if (!milliseconds) milliseconds = intValue(memberAt(song, "duration"));
    if (milliseconds) {
        std::int64_t seconds = std::max<std::int64_t>(*milliseconds / 1000, 0);
        char text[48];
        std::snprintf(text, sizeof text, "%02" PRId64 ":%02" PRId64, seconds / 60, seconds % 60);
        raw["interval"] = text;
    }
    raw["types"] = qualityTypes(song);
    if (auto status = intValue(memberAt(song, "st"))) raw["st"] = *status;
    if (auto fee = intValue(memberAt(song, "fee"))) raw["fee"] = *fee;
    if (const nlohmann::json* privilege = objectAt(song, "privilege")) {
        raw["privilege"] = *privilege;
    }
    try {
        return Track::fromRaw(MusicSource::wy, raw);
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

nlohmann::json NetEaseWebClient::qualityTypes(const nlohmann::json& song) {
    nlohmann::json types = nlohmann::json::array();
    for (const auto& [key, type] : qualityKeys) {
        const nlohmann::json* entry = objectAt(song, key);
        if (!entry) continue;
        // "filesize" is read only when "size" gives no integer; a size of 0 counts as read.
        auto size = intValue(memberAt(*entry, "size"));
        if (!size) size = intValue(memberAt(*entry, "filesize"));
        if (size && *size >= 1) {
            types.push_back({{"type", std::string(type)}, {"size", std::to_string(*size)}});
        }
    }
    return types;
}

std::optional<ArtistSummary> NetEaseWebClient::artistFrom(const nlohmann::json& object) {
    auto id = intValue(memberAt(object, "id"));
    if (!id) id = intValue(memberAt(object, "artistId"));
    auto name = textAt(object, "name");
    if (!id || !name) return std::nullopt;
    auto image = textAt(object, "picUrl");
    if (!image) image = textAt(object, "img1v1Url");
    auto songCount = intValue(memberAt(object, "musicSize"));
    if (!songCount) songCount = intValue(memberAt(object, "songSize"));
    auto albumCount = intValue(memberAt(object, "albumSize"));
    try {
        return ArtistSummary::make(std::to_string(*id), MusicSource::wy, *name, image, songCount,
                                   albumCount);
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

std::optional<AlbumSummary> NetEaseWebClient::albumFrom(const nlohmann::json& object) {
    auto id = intValue(memberAt(object, "id"));
    auto name = textAt(object, "name");
    if (!id || !name) return std::nullopt;
    std::optional<std::string> artistName;
    if (const nlohmann::json* artist = objectAt(object, "artist")) {
        artistName = textAt(*artist, "name");
    }
    if (!artistName) {
        auto artists = objectsAt(object, "artists");
        if (!artists.empty()) artistName = textAt(*artists.front(), "name");
    }
    std::optional<std::string> releaseDate;
    if (auto published = intValue(memberAt(object, "publishTime"))) {
        releaseDate = dateString(*published);
    }
    auto image = textAt(object, "picUrl");
    if (!image) image = textAt(object, "blurPicUrl");
    auto trackCount = intValue(memberAt(object, "size"));
    if (!trackCount) trackCount = intValue(memberAt(object, "trackCount"));
    try {
        return AlbumSummary::make(std::to_string(*id), MusicSource::wy, *name,
                                  artistName.value_or(""), image, releaseDate, trackCount);
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

std::optional<PlaylistSummary> NetEaseWebClient::playlistFrom(const nlohmann::json& object) {
    auto id = intValue(memberAt(object, "id"));
    auto name = textAt(object, "name");
    if (!id || !name) return std::nullopt;
    PlaylistSummary summary;
    summary.id = std::to_string(*id);
    summary.name = Track::boundedName(*name);
    summary.img = textAt(object, "coverImgUrl");
    if (!summary.img) summary.img = textAt(object, "img");
    const nlohmann::json* creator = objectAt(object, "creator");
    summary.author = Track::boundedName(creator ? textAt(*creator, "nickname").value_or("") : "");
    auto playCount = intValue(memberAt(object, "playCount"));
    summary.playCount = playCount ? std::to_string(*playCount) : std::string();
    summary.total = intValue(memberAt(object, "trackCount"));
    if (auto description = textAt(object, "description"))
        summary.desc = PlaylistSummary::boundedDescription(*description);
    summary.time = std::nullopt;
    summary.source = MusicSource::wy;
    return summary;
}

std::string NetEaseWebClient::dateString(std::int64_t milliseconds) {
    constexpr std::int64_t millisecondsPerDay = 86'400'000;
    std::int64_t days = milliseconds / millisecondsPerDay;
    if (milliseconds % millisecondsPerDay < 0) --days;  // instants before 1970 round down
    std::int64_t year = 0;
    unsigned month = 0;
    unsigned day = 0;
    civilFromDays(days, year, month, day);
    char text[64];
    std::snprintf(text, sizeof text, "%04" PRId64 "-%02u-%02u", year, month, day);
    return text;
}

std::optional<std::string> NetEaseWebClient::mediaURL(std::string_view text) {
    auto address = WebAddress::parse(text);
    if (!address || address->host.empty()) return std::nullopt;
    if (address->lowercasedScheme() != "http" && address->lowercasedScheme() != "https") {
        return std::nullopt;
    }
    return address->withScheme(LoopbackAddresses::upgradedScheme(*address));
}

}  // namespace velto
