#include <algorithm>
#include <unordered_set>

#include "sources/model/JsonReading.h"
#include "sources/netease/NetEaseReplyReading.h"
#include "sources/netease/NetEaseWebClient.h"

namespace velto {

using namespace NetEaseReplyReading;

namespace {

constexpr std::chrono::seconds memoLifetime{60};
const nlohmann::json emptyObject = nlohmann::json::object();

const nlohmann::json& objectOrEmpty(const nlohmann::json& reply, std::string_view key) {
    const nlohmann::json* object = objectAt(reply, key);
    return object ? *object : emptyObject;
}

std::string bracketedIDs(const std::vector<std::string>& ids) {
    std::string text = "[";
    for (std::size_t i = 0; i < ids.size(); ++i) {
        if (i > 0) text += ",";
        text += ids[i];
    }
    return text + "]";
}

template <class Record, class Parser>
std::vector<Record> parsedList(const std::vector<const nlohmann::json*>& elements, Parser parser) {
    std::vector<Record> records;
    records.reserve(elements.size());
    for (const nlohmann::json* element : elements) {
        if (auto record = parser(*element)) records.push_back(std::move(*record));
    }
    return records;
}

// The searches share one shape: result.<list key> parsed, result.<count key> or the number of
// listed elements (parsed or not).
template <class Record, class Parser>
std::pair<std::vector<Record>, std::int64_t> searchResult(const nlohmann::json& reply,
                                                          std::string_view listKey,
                                                          std::string_view countKey,
                                                          Parser parser) {
    const nlohmann::json& result = objectOrEmpty(reply, "result");
    auto elements = objectsAt(result, listKey);
    auto records = parsedList<Record>(elements, parser);
    auto total = NetEaseWebClient::intValue(memberAt(result, countKey))
                     .value_or(static_cast<std::int64_t>(elements.size()));
    return {std::move(records), total};
}

// Trimmed, non-empty texts under `key` of result.<listKey>, in order, each cut as a name.
std::vector<std::string> trimmedTexts(const nlohmann::json& reply, std::string_view listKey,
                                      std::string_view key) {
    std::vector<std::string> texts;
    for (const nlohmann::json* element : objectsAt(objectOrEmpty(reply, "result"), listKey)) {
        auto text = textAt(*element, key);
        if (!text) continue;
        std::string clean = Track::boundedName(trimmed(*text));
        if (!clean.empty()) texts.push_back(std::move(clean));
    }
    return texts;
}

// The query of /api/search/get; `type` names what is searched (songs, artists, albums, playlists).
std::vector<std::pair<std::string, std::string>> searchQuery(const std::string& keyword,
                                                             std::string type, std::int64_t limit,
                                                             std::int64_t offset) {
    return {{"s", keyword},
            {"type", std::move(type)},
            {"limit", std::to_string(limit)},
            {"offset", std::to_string(offset)}};
}

std::vector<std::pair<std::string, std::string>> playerURLQuery(const std::string& id,
                                                                const std::string& level,
                                                                const std::string& encodeType) {
    return {{"ids", "[" + id + "]"}, {"level", level}, {"encodeType", encodeType}};
}

NetEaseWebClient::TrackQuality streamQuality(const nlohmann::json& element,
                                             const std::string& level) {
    NetEaseWebClient::TrackQuality quality;
    quality.level = textAt(element, "level").value_or(level);
    quality.bitrate = NetEaseWebClient::intValue(memberAt(element, "br")).value_or(0);
    quality.size = NetEaseWebClient::intValue(memberAt(element, "size"));
    quality.format = textAt(element, "type");
    return quality;
}

NetEaseWebClient::Failure noPlayableAddress(const nlohmann::json& element) {
    return NetEaseWebClient::Failure::api(
        NetEaseWebClient::intValue(memberAt(element, "code")).value_or(0), "没有可用播放地址");
}

}  // namespace

NetEaseWebClient::SongSearch NetEaseWebClient::searchSongs(const std::string& keyword,
                                                           std::int64_t limit, std::int64_t offset,
                                                           std::stop_token stop) {
    auto reply = get("/api/search/get", searchQuery(keyword, "1", limit, offset), stop);
    const nlohmann::json& result = objectOrEmpty(reply, "result");
    auto [tracks, total] = searchResult<Track>(
        reply, "songs", "songCount", [](const nlohmann::json& o) { return trackFrom(o); });
    if (tracks.empty() && !objectsAt(result, "songs").empty()) {
        throw Failure::malformed("搜索结果缺少曲目信息");
    }
    return {std::move(tracks), total};
}

NetEaseWebClient::ArtistSearch NetEaseWebClient::searchArtists(const std::string& keyword,
                                                               std::int64_t limit,
                                                               std::int64_t offset,
                                                               std::stop_token stop) {
    auto reply = get("/api/search/get", searchQuery(keyword, "100", limit, offset), stop);
    auto [artists, total] = searchResult<ArtistSummary>(
        reply, "artists", "artistCount", [](const nlohmann::json& o) { return artistFrom(o); });
    return {std::move(artists), total};
}

NetEaseWebClient::AlbumSearch NetEaseWebClient::searchAlbums(const std::string& keyword,
                                                             std::int64_t limit,
                                                             std::int64_t offset,
                                                             std::stop_token stop) {
    auto reply = get("/api/search/get", searchQuery(keyword, "10", limit, offset), stop);
    auto [albums, total] = searchResult<AlbumSummary>(
        reply, "albums", "albumCount", [](const nlohmann::json& o) { return albumFrom(o); });
    return {std::move(albums), total};
}

NetEaseWebClient::PlaylistSearch NetEaseWebClient::searchPlaylists(const std::string& keyword,
                                                                   std::int64_t limit,
                                                                   std::int64_t offset,
                                                                   std::stop_token stop) {
    auto reply = get("/api/search/get", searchQuery(keyword, "1000", limit, offset), stop);
    auto [playlists, total] =
        searchResult<PlaylistSummary>(reply, "playlists", "playlistCount",
                                      [](const nlohmann::json& o) { return playlistFrom(o); });
    return {std::move(playlists), total};
}

std::vector<std::string> NetEaseWebClient::hotSearches(std::size_t limit, std::stop_token stop) {
    auto reply = get("/api/search/hot", {{"type", "1111"}}, stop);
    auto texts = trimmedTexts(reply, "hots", "first");
    if (texts.size() > limit) texts.resize(limit);
    return texts;
}

std::vector<std::string> NetEaseWebClient::searchSuggestions(const std::string& keyword,
                                                             std::size_t limit,
                                                             std::stop_token stop) {
    auto reply = get("/api/search/suggest/keyword", {{"s", keyword}}, stop);
    std::vector<std::string> suggestions;
    std::unordered_set<std::string> seen;
    for (auto& text : trimmedTexts(reply, "allMatch", "keyword")) {
        if (suggestions.size() >= limit) break;
        if (seen.insert(text).second) suggestions.push_back(std::move(text));
    }
    return suggestions;
}

NetEaseWebClient::ArtistPage NetEaseWebClient::artist(const std::string& id, std::int64_t,
                                                      std::int64_t, std::stop_token stop) {
    const std::string key = "artist:" + id;
    if (auto cached = cachedValue(key)) return std::any_cast<ArtistPage>(*cached);
    auto reply = get("/api/v1/artist/" + percentEncoded(id), {}, stop);
    auto summary = artistFrom(objectOrEmpty(reply, "artist"));
    if (!summary) throw Failure::malformed("歌手信息缺失");
    ArtistPage page{std::move(*summary),
                    parsedList<Track>(objectsAt(reply, "hotSongs"),
                                      [](const nlohmann::json& o) { return trackFrom(o); })};
    store(page, key, memoLifetime);
    return page;
}

std::vector<AlbumSummary> NetEaseWebClient::artistAlbums(const std::string& id, std::int64_t limit,
                                                         std::int64_t offset,
                                                         std::stop_token stop) {
    auto reply = get("/api/artist/albums/" + percentEncoded(id),
                     {{"limit", std::to_string(limit)}, {"offset", std::to_string(offset)}}, stop);
    return parsedList<AlbumSummary>(objectsAt(reply, "hotAlbums"),
                                    [](const nlohmann::json& o) { return albumFrom(o); });
}

AlbumDetail NetEaseWebClient::album(const std::string& id, std::stop_token stop) {
    const std::string key = "album:" + id;
    if (auto cached = cachedValue(key)) return std::any_cast<AlbumDetail>(*cached);
    auto reply = get("/api/v1/album/" + percentEncoded(id), {}, stop);
    auto summary = albumFrom(objectOrEmpty(reply, "album"));
    if (!summary) throw Failure::malformed("专辑信息缺失");
    AlbumDetail detail{std::move(*summary),
                       parsedList<Track>(objectsAt(reply, "songs"),
                                         [](const nlohmann::json& o) { return trackFrom(o); })};
    store(detail, key, memoLifetime);
    return detail;
}

std::vector<Track> NetEaseWebClient::songDetail(const std::vector<std::string>& ids,
                                                std::stop_token stop) {
    auto reply = get("/api/song/detail", {{"ids", bracketedIDs(ids)}}, stop);
    return parsedList<Track>(objectsAt(reply, "songs"),
                             [](const nlohmann::json& o) { return trackFrom(o); });
}

LyricInfo NetEaseWebClient::lyric(const std::string& id, std::stop_token stop) {
    auto reply =
        get("/api/song/lyric", {{"id", id}, {"lv", "-1"}, {"kv", "-1"}, {"tv", "-1"}}, stop);
    auto textUnder = [&reply](std::string_view key) -> std::optional<std::string> {
        const nlohmann::json* object = objectAt(reply, key);
        if (!object) return std::nullopt;
        auto text = textAt(*object, "lyric");
        if (!text || text->empty()) return std::nullopt;
        return text;
    };
    auto lrc = textUnder("lrc");
    if (!lrc) throw Failure::malformed("歌词为空");
    LyricInfo info;
    info.lyric = std::move(*lrc);
    info.tlyric = textUnder("tlyric");
    info.rlyric = textUnder("romalrc");
    info.lxlyric = textUnder("klyric");
    return info;
}

std::map<std::string, nlohmann::json> NetEaseWebClient::privileges(
    const std::vector<std::string>& ids, std::stop_token stop) {
    auto reply = get("/api/song/enhance/privilege", {{"ids", bracketedIDs(ids)}}, stop);
    std::map<std::string, nlohmann::json> answer;
    for (const nlohmann::json* element : objectsAt(reply, "data")) {
        if (auto songID = intValue(memberAt(*element, "id"))) {
            answer[std::to_string(*songID)] = *element;
        }
    }
    return answer;
}

NetEaseWebClient::TrackQuality NetEaseWebClient::songURL(const std::string& id,
                                                         const std::string& level,
                                                         const std::string& encodeType,
                                                         std::stop_token stop) {
    auto reply =
        get("/api/song/enhance/player/url/v1", playerURLQuery(id, level, encodeType), stop);
    auto data = objectsAt(reply, "data");
    if (data.empty()) throw Failure::malformed("播放地址为空");
    const nlohmann::json& first = *data.front();
    auto url = textAt(first, "url");
    if (!url || url->empty()) throw noPlayableAddress(first);
    return streamQuality(first, level);
}

NetEaseWebClient::PlayableURL NetEaseWebClient::playableURL(const std::string& id,
                                                            const std::string& level,
                                                            const std::string& encodeType,
                                                            std::stop_token stop) {
    auto reply =
        get("/api/song/enhance/player/url/v1", playerURLQuery(id, level, encodeType), stop);
    auto data = objectsAt(reply, "data");
    if (data.empty()) throw Failure::api(0, "没有可用播放地址");
    const nlohmann::json& first = *data.front();
    auto text = textAt(first, "url");
    std::optional<std::string> address = text ? mediaURL(*text) : std::nullopt;
    if (!address) throw noPlayableAddress(first);
    return {std::move(*address), streamQuality(first, level)};
}

PlaylistDetail NetEaseWebClient::playlistDetail(const std::string& id, std::int64_t limit,
                                                std::stop_token stop) {
    auto reply = get("/api/v6/playlist/detail", {{"id", id}, {"n", std::to_string(limit)}}, stop);
    const nlohmann::json* playlist = objectAt(reply, "playlist");
    std::optional<std::string> name = playlist ? textAt(*playlist, "name") : std::nullopt;
    if (!name) throw Failure::malformed("歌单信息缺失");
    auto tracks = parsedList<Track>(objectsAt(*playlist, "tracks"),
                                    [](const nlohmann::json& o) { return trackFrom(o); });
    auto count = static_cast<std::int64_t>(tracks.size());
    auto total = intValue(memberAt(*playlist, "trackCount")).value_or(count);
    auto playCount = intValue(memberAt(*playlist, "playCount"));

    PlaylistDetailInfo info;
    info.name = Track::boundedName(*name);
    info.img = textAt(*playlist, "coverImgUrl");
    if (auto description = textAt(*playlist, "description"))
        info.desc = PlaylistSummary::boundedDescription(*description);
    info.author =
        Track::boundedName(textAt(objectOrEmpty(*playlist, "creator"), "nickname").value_or(""));
    info.playCount = playCount ? std::to_string(*playCount) : std::string();

    PlaylistDetail detail;
    detail.list = std::move(tracks);
    detail.total = total;
    detail.page = 1;
    detail.limit = std::max(total, count);
    detail.source = MusicSource::wy;
    detail.info = std::move(info);
    return detail;
}

NetEaseWebClient::Account NetEaseWebClient::account(std::stop_token stop) {
    auto reply = get("/api/nuser/account/get", {}, stop);
    const nlohmann::json* profile = objectAt(reply, "profile");
    if (!profile) throw Failure::malformed("账号信息缺失");
    Account account;
    account.nickname = Track::boundedName(textAt(*profile, "nickname").value_or(""));
    account.vipType = intValue(memberAt(objectOrEmpty(reply, "account"), "vipType")).value_or(0);
    return account;
}

}  // namespace velto
