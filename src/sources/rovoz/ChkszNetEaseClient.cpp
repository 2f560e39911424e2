#include "sources/rovoz/ChkszNetEaseClient.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdio>

#include "foundation/text/BoundedJson.h"
#include "sources/rovoz/ChkszAPIClient.h"
#include "sources/rovoz/ChkszMediaURL.h"
#include "sources/model/JsonReading.h"
#include "sources/netease/NetEaseLevel.h"
#include "sources/model/SourceError.h"

namespace velto {

namespace {

constexpr const char* searchShapeMessage = "RoVOz 网易搜索返回数据异常";
constexpr const char* missingTrackMessage = "RoVOz 网易搜索结果缺少曲目信息";

const nlohmann::json* member(const nlohmann::json& object, const char* key) {
    if (!object.is_object()) return nullptr;
    const auto found = object.find(key);
    return found == object.end() ? nullptr : &*found;
}

std::string numberText(const nlohmann::json& number) {
    return number.is_number_float() ? shortestNumberText(number.get<double>()) : number.dump();
}

// Text (not empty) as it is, or a number's decimal text.
std::optional<std::string> string(const nlohmann::json* value) {
    if (!value) return std::nullopt;
    if (value->is_string()) {
        const auto& text = value->get_ref<const std::string&>();
        if (text.empty()) return std::nullopt;
        return text;
    }
    if (value->is_number()) return numberText(*value);
    return std::nullopt;
}

std::optional<std::string> nonEmptyString(const nlohmann::json* value) {
    if (!value || !value->is_string()) return std::nullopt;
    std::string text = trimmed(value->get_ref<const std::string&>());
    if (text.empty()) return std::nullopt;
    return text;
}

std::optional<std::string> joinedNames(const std::vector<std::string>& names) {
    std::string joined;
    for (const auto& name : names) {
        if (!joined.empty()) joined += "、";
        joined += name;
    }
    if (joined.empty()) return std::nullopt;
    return joined;
}

std::optional<std::string> artistName(const nlohmann::json* value) {
    if (!value) return std::nullopt;
    if (value->is_string()) return nonEmptyString(value);
    if (!value->is_array()) return std::nullopt;
    const bool allTexts = std::all_of(value->begin(), value->end(),
                                      [](const nlohmann::json& item) { return item.is_string(); });
    const bool allObjects = std::all_of(
        value->begin(), value->end(), [](const nlohmann::json& item) { return item.is_object(); });
    if (!allTexts && !allObjects) return std::nullopt;
    std::vector<std::string> names;
    for (const auto& item : *value) {
        if (names.size() == Track::mostArtists) break;
        if (auto name = nonEmptyString(allTexts ? &item : member(item, "name"))) {
            names.push_back(*name);
        }
    }
    return joinedNames(names);
}

bool isPositiveDecimal(std::string_view text) {
    const auto value = parseDecimalInteger(text);
    return value && *value > 0;
}

void requireNetEaseTrack(const Track& track) {
    if (track.source != MusicSource::wy || !isPositiveDecimal(track.songmid)) {
        throw SourceError::source("网易云歌曲标识无效");
    }
}

nlohmann::json parsedObject(const std::string& body) {
    auto document = BoundedJson::parse(body);
    if (!document.is_object()) throw SourceError::source("RoVOz 返回 JSON 异常");
    return document;
}

std::string minutesAndSeconds(std::int64_t minutes, std::int64_t seconds) {
    char text[48];
    std::snprintf(text, sizeof text, "%lld:%02lld", static_cast<long long>(minutes),
                  static_cast<long long>(seconds));
    return text;
}

Track track(const nlohmann::json& hit) {
    const auto id = string(member(hit, "id"));
    const auto name = nonEmptyString(member(hit, "name"));
    const auto singer = artistName(member(hit, "artists"));
    if (!id || !isPositiveDecimal(*id) || !name || !singer) {
        throw SourceError::source(missingTrackMessage);
    }
    nlohmann::json raw = {
        {"songmid", *id},
        {"name", *name},
        {"singer", *singer},
        {"albumName", nonEmptyString(member(hit, "album")).value_or("")},
    };
    if (const auto duration = ChkszAPIClient::integer(member(hit, "duration"));
        duration && *duration > 0) {
        raw["interval"] = minutesAndSeconds(*duration / 60000, (*duration / 1000) % 60);
    }
    if (const auto cover = nonEmptyString(member(hit, "picUrl"))) {
        if (auto address = chkszMediaURL(*cover)) raw["picUrl"] = *address;
    }
    return Track::fromRaw(MusicSource::wy, raw);
}

}  // namespace

ChkszNetEaseClient::ChkszNetEaseClient(std::shared_ptr<ChkszAPIRequesting> api)
    : api_(std::move(api)) {}

Quality ChkszNetEaseClient::quality(const std::optional<std::string>& level,
                                    std::optional<std::int64_t> bitrate) {
    if (level) {
        std::string name = *level;
        for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        if (name == "standard") return Quality::standard;
        if (name == "exhigh") return Quality::high;
        if (name == "lossless") return Quality::lossless;
        if (name == "hires" || name == "sky" || name == "jyeffect") return Quality::hiRes;
        if (name == "jymaster") return Quality::master;
    }
    if (!bitrate) return Quality::standard;
    if (*bitrate >= 1'500'000) return Quality::hiRes;
    if (*bitrate >= 700'000) return Quality::lossless;
    if (*bitrate >= 300'000) return Quality::high;
    return Quality::standard;
}

SearchPage ChkszNetEaseClient::search(const std::string& keyword, int page, int limit,
                                      std::stop_token stop) {
    const std::int64_t size = std::clamp(limit, 1, 100);
    const std::int64_t pageNumber = std::max(page, 1);
    const std::string body = api_->request("/api/163_search",
                                           {{"keyword", keyword},
                                            {"limit", std::to_string(size)},
                                            {"offset", std::to_string((pageNumber - 1) * size)}},
                                           stop);
    const auto document = parsedObject(body);

    std::vector<const nlohmann::json*> hits;
    std::int64_t total = 0;
    const auto* data = member(document, "data");
    const auto isListOfObjects = [](const nlohmann::json* value) {
        return value && value->is_array() &&
               std::all_of(value->begin(), value->end(),
                           [](const nlohmann::json& item) { return item.is_object(); });
    };
    if (data && data->is_object()) {
        if (const auto* songs = member(*data, "songs"); isListOfObjects(songs)) {
            for (const auto& song : *songs) hits.push_back(&song);
        }
        total = ChkszAPIClient::integer(member(*data, "total"))
                    .value_or(static_cast<std::int64_t>(hits.size()));
    } else if (isListOfObjects(data)) {
        for (const auto& song : *data) hits.push_back(&song);
        total = static_cast<std::int64_t>(hits.size());
    } else {
        throw SourceError::source(searchShapeMessage);
    }

    SearchPage result;
    for (const auto* hit : hits) {
        // A server may send far more songs than asked for; only the page asked for is read.
        if (result.list.size() == static_cast<std::size_t>(size)) break;
        try {
            result.list.push_back(track(*hit));
        } catch (const SourceError&) {
            // An unusable hit is left out; only a page of nothing but such hits fails.
        }
    }
    if (!hits.empty() && result.list.empty()) throw SourceError::source(missingTrackMessage);

    const std::int64_t counted = std::max(static_cast<std::int64_t>(result.list.size()), total);
    result.total = total;
    result.allPage = std::max<std::int64_t>(1, counted / size + (counted % size > 0 ? 1 : 0));
    return result;
}

LyricInfo ChkszNetEaseClient::lyric(const Track& track, std::stop_token stop) {
    requireNetEaseTrack(track);
    const auto document =
        parsedObject(api_->request("/api/163_lyric", {{"id", track.songmid}}, stop));
    const auto* data = member(document, "data");
    const auto* lrc = data && data->is_object() ? member(*data, "lrc") : nullptr;
    if (!lrc || !lrc->is_string()) throw SourceError::source("RoVOz 网易歌词返回数据异常");
    LyricInfo info;
    info.lyric = lrc->get<std::string>();
    info.tlyric = nonEmptyString(member(*data, "tlyric"));
    info.rlyric = nonEmptyString(member(*data, "romalrc"));
    info.lxlyric = nonEmptyString(member(*data, "klyric"));
    return info;
}

ChkszPlaybackResult ChkszNetEaseClient::musicURL(const Track& track, Quality wished,
                                                 std::stop_token stop) {
    requireNetEaseTrack(track);
    const auto document = parsedObject(api_->request(
        "/api/163_music", {{"id", track.songmid}, {"level", netEaseLevelName(wished)}, {"type", "json"}},
        stop));
    const auto* data = member(document, "data");
    const auto* url = data && data->is_object() ? member(*data, "url") : nullptr;
    std::optional<std::string> address;
    if (url && url->is_string()) address = chkszMediaURL(url->get_ref<const std::string&>());
    if (!address) throw SourceError::source("RoVOz 网易播放未返回可用链接");

    std::optional<std::string> level;
    if (const auto* answered = member(*data, "level"); answered && answered->is_string()) {
        level = answered->get<std::string>();
    }
    return {*address, quality(level, ChkszAPIClient::integer(member(*data, "br")))};
}

}  // namespace velto
