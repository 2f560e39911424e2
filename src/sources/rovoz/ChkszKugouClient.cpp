#include "sources/rovoz/ChkszKugouClient.h"

#include <cctype>
#include <cmath>
#include <cstdio>

#include "foundation/text/BoundedJson.h"
#include "sources/rovoz/ChkszAPIClient.h"
#include "sources/rovoz/ChkszMediaURL.h"
#include "sources/rovoz/ChkszQuality.h"
#include "sources/model/JsonReading.h"
#include "sources/model/SourceError.h"

namespace velto {

namespace {

constexpr const char* path = "/api/kugou_music";
constexpr const char* malformedMessage = "酷狗返回 JSON 异常";
constexpr const char* noCoverMessage = "酷狗歌曲暂无封面";

const nlohmann::json* member(const nlohmann::json& object, const char* key) {
    if (!object.is_object()) return nullptr;
    const auto found = object.find(key);
    return found == object.end() ? nullptr : &*found;
}

// Trimmed text, or a number's decimal text; nothing when empty or of another type.
std::optional<std::string> string(const nlohmann::json* value) {
    if (!value) return std::nullopt;
    std::string text;
    if (value->is_string()) {
        text = trimmed(value->get_ref<const std::string&>());
    } else if (value->is_number_float()) {
        text = shortestNumberText(value->get<double>());
    } else if (value->is_number()) {
        text = value->dump();
    }
    if (text.empty()) return std::nullopt;
    return text;
}

std::optional<std::string> mediaURL(const nlohmann::json* value) {
    const auto text = string(value);
    return text ? chkszMediaURL(*text) : std::nullopt;
}

nlohmann::json parsedObject(const std::string& body) {
    auto document = BoundedJson::parse(body);
    if (!document.is_object()) throw SourceError::source(malformedMessage);
    return document;
}

std::string lowercased(std::string text) {
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

SearchPage emptyPage() {
    SearchPage page;
    page.total = 0;
    page.allPage = 1;
    return page;
}

}  // namespace

ChkszKugouClient::ChkszKugouClient(std::shared_ptr<ChkszAPIRequesting> api,
                                   KugouMetadataCache::Clock clock, EnabledCheck requireEnabled)
    : api_(std::move(api)),
      metadata_(std::move(clock)),
      requireEnabled_(std::move(requireEnabled)) {}

std::string ChkszKugouClient::sizeName(Quality quality) {
    // The raw quality names but for hi-res.
    return quality == Quality::hiRes ? "hires" : std::string(rawValue(quality));
}

void ChkszKugouClient::requireTrack(const Track& track) const {
    requireEnabled_(track.source);
    if (track.source != MusicSource::kg || trimmed(track.songmid).empty()) {
        throw SourceError::source("酷狗歌曲标识无效");
    }
}

SearchPage ChkszKugouClient::search(const std::string& keyword, int page, std::stop_token stop) {
    requireEnabled_(MusicSource::kg);
    if (page > 1) return emptyPage();

    const auto document =
        parsedObject(api_->request(path, {{"msg", keyword}, {"type", "json"}}, stop));
    const auto* list = member(document, "list");
    if (!list || !list->is_array()) throw SourceError::source("酷狗搜索返回数据异常");
    for (const auto& hit : *list) {
        if (!hit.is_object()) throw SourceError::source("酷狗搜索返回数据异常");
    }
    if (list->empty()) return emptyPage();

    SearchPage result;
    for (const auto& hit : *list) {
        const auto id = string(member(hit, "id"));
        const auto name = string(member(hit, "name"));
        const auto singer = string(member(hit, "singer"));
        if (!id || !name || !singer) continue;
        nlohmann::json raw = {
            {"songmid", *id},
            {"name", *name},
            {"singer", *singer},
            {"albumName", string(member(hit, "album")).value_or("")},
        };
        if (const auto* duration = member(hit, "duration"); duration && duration->is_number()) {
            if (const auto seconds = ChkszAPIClient::integer(duration); seconds && *seconds >= 1) {
                char text[48];
                std::snprintf(text, sizeof text, "%lld:%02lld",
                              static_cast<long long>(*seconds / 60),
                              static_cast<long long>(*seconds % 60));
                raw["interval"] = text;
            }
        }
        if (auto cover = mediaURL(member(hit, "cover"))) raw["img"] = *cover;
        try {
            result.list.push_back(Track::fromRaw(MusicSource::kg, raw));
        } catch (const SourceError&) {
            // Left out like a hit without its names.
        }
    }
    if (result.list.empty()) throw SourceError::source("酷狗搜索结果缺少曲目信息");
    result.total = static_cast<std::int64_t>(result.list.size());
    result.allPage = 1;
    return result;
}

std::string ChkszKugouClient::detail(const Track& track, Quality quality, std::stop_token stop) {
    requireTrack(track);
    std::string body = api_->request(
        path, {{"id", track.songmid}, {"size", sizeName(quality)}, {"type", "json"}}, stop);
    const auto document = parsedObject(body);
    const auto id = string(member(document, "id"));
    if (!id || lowercased(*id) != lowercased(track.songmid)) {
        throw SourceError::source("酷狗返回曲目与所选歌曲不一致");
    }
    metadata_.insert(body, track.songmid);
    return body;
}

ChkszPlaybackResult ChkszKugouClient::musicURL(const Track& track, Quality quality,
                                               std::stop_token stop) {
    const auto document = parsedObject(detail(track, quality, stop));
    const auto address = mediaURL(member(document, "url"));
    if (!address) throw SourceError::source("酷狗播放未返回可用链接");
    return {*address, chkszQuality(document)};
}

LyricInfo ChkszKugouClient::lyric(const Track& track, std::stop_token stop) {
    requireTrack(track);
    auto body = metadata_.value(track.songmid);
    if (!body) body = detail(track, Quality::master, stop);
    const auto document = parsedObject(*body);
    const auto* lrc = member(document, "lrc");
    if (!lrc || !lrc->is_string()) throw SourceError::source("酷狗暂未提供歌词");
    LyricInfo info;
    info.lyric = lrc->get<std::string>();
    return info;
}

std::string ChkszKugouClient::picURL(const Track& track, std::stop_token /*stop*/) {
    requireTrack(track);
    const auto payload = track.rawPayload();
    const auto* stored = member(*payload, "img");
    if (!stored) stored = member(*payload, "picUrl");
    if (auto address = mediaURL(stored)) return *address;

    const auto body = metadata_.value(track.songmid);
    if (!body) throw SourceError::source(noCoverMessage);
    const auto document = parsedObject(*body);
    if (auto address = mediaURL(member(document, "cover"))) return *address;
    throw SourceError::source(noCoverMessage);
}

Track ChkszKugouClient::trackDetail(const Track& track, std::stop_token /*stop*/) {
    requireTrack(track);
    const auto body = metadata_.value(track.songmid);
    if (!body) return track;
    const auto document = parsedObject(*body);
    nlohmann::json raw = *track.rawPayload();
    if (auto cover = mediaURL(member(document, "cover"))) raw["img"] = *cover;
    if (auto interval = string(member(document, "interval"))) raw["interval"] = *interval;
    return Track::fromRaw(MusicSource::kg, raw);
}

}  // namespace velto
