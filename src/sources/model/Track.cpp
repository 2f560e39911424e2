#include "sources/model/Track.h"

#include <charconv>
#include <cmath>
#include <memory>
#include <stdexcept>

#include "foundation/text/Base64.h"
#include "foundation/text/BoundedJson.h"
#include "foundation/text/JsonWriter.h"
#include "foundation/text/TextBounds.h"
#include "sources/model/JsonReading.h"
#include "sources/model/SourceError.h"
#include "sources/model/TrackPayloadCache.h"

namespace velto {

namespace {

constexpr const char* missingTrackInfo = "搜索结果缺少曲目信息";

std::optional<std::string> songmidText(const nlohmann::json& value) {
    using Type = nlohmann::json::value_t;
    switch (value.type()) {
        case Type::string:
            return value.get<std::string>();
        case Type::number_integer:
            return std::to_string(value.get<std::int64_t>());
        case Type::number_unsigned:
            return std::to_string(value.get<std::uint64_t>());
        case Type::number_float:
            return shortestNumberText(value.get<double>());
        default:
            return std::nullopt;
    }
}

std::optional<double> parseDouble(std::string_view text) {
    // from_chars takes no leading plus sign, which a decimal number may carry.
    if (text.starts_with('+')) {
        text.remove_prefix(1);
        if (text.starts_with('-') || text.starts_with('+')) return std::nullopt;
    }
    double value = 0;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
    // "nan" and "inf" read as numbers but are no durations.
    if (!std::isfinite(value)) return std::nullopt;
    return value;
}

bool isNegative(const nlohmann::json& object, std::string_view key) {
    auto value = readInteger(object, key);
    return value && *value < 0;
}

const nlohmann::json& requireKey(const nlohmann::json& value, const char* key) {
    auto it = value.find(key);
    if (it == value.end())
        throw std::invalid_argument(std::string("Track: missing key \"") + key + "\"");
    return *it;
}

std::string requireText(const nlohmann::json& value, const char* key) {
    const auto& field = requireKey(value, key);
    if (!field.is_string())
        throw std::invalid_argument(std::string("Track: \"") + key + "\" is not a text");
    return field.get<std::string>();
}

// Cuts the text under `key` of `bounded` (a copy of `raw`, made on the first cut) to match `text`.
void cutName(std::string& text, const char* key, const nlohmann::json& raw, nlohmann::json& bounded) {
    auto cut = Track::boundedName(text);
    if (cut.size() == text.size()) return;
    text = std::move(cut);
    if (bounded.is_null()) bounded = raw;
    bounded[key] = text;
}

}  // namespace

std::string Track::boundedName(std::string_view text) {
    static constexpr TextBounds bounds{longestName, longestNameCodePoints, longestNameBytes,
                                       mostCodePointsPerCharacter};
    return bounds.cut(text);
}

Track Track::fromRaw(MusicSource source, const nlohmann::json& raw) {
    if (!raw.is_object() || raw.empty()) throw SourceError::source(missingTrackInfo);
    auto songmidValue = raw.find("songmid");
    if (songmidValue == raw.end()) throw SourceError::source(missingTrackInfo);
    auto songmid = songmidText(*songmidValue);
    if (!songmid || songmid->empty()) throw SourceError::source(missingTrackInfo);
    auto title = readText(raw, "name");
    if (!title) throw SourceError::source(missingTrackInfo);
    auto artist = readText(raw, "singer");
    if (!artist) throw SourceError::source(missingTrackInfo);

    Track track;
    track.source = source;
    track.songmid = std::move(*songmid);
    track.title = std::move(*title);
    track.artist = std::move(*artist);
    track.album = readText(raw, "albumName").value_or("");
    track.interval = readText(raw, "interval");
    nlohmann::json bounded;
    cutName(track.title, "name", raw, bounded);
    cutName(track.artist, "singer", raw, bounded);
    cutName(track.album, "albumName", raw, bounded);
    track.payload = writeSortedJSON(bounded.is_null() ? raw : bounded);
    return track;
}

std::string Track::musicID() const {
    return std::string(rawValue(source)) + "_" + songmid;
}

std::shared_ptr<const nlohmann::json> Track::rawPayload() const {
    return TrackPayloadCache::shared().payload(payload);
}

bool Track::isPlayable() const {
    auto raw = rawPayload();
    if (isNegative(*raw, "st")) return false;
    auto privilege = raw->find("privilege");
    if (privilege != raw->end() && privilege->is_object()) {
        if (isNegative(*privilege, "st") || isNegative(*privilege, "status")) return false;
    }
    return true;
}

std::optional<double> Track::durationSeconds() const {
    if (!interval) return std::nullopt;
    std::vector<double> pieces;
    std::string_view rest = *interval;
    while (true) {
        auto colon = rest.find(':');
        auto piece = rest.substr(0, colon);
        if (!piece.empty()) {
            if (auto value = parseDouble(piece)) pieces.push_back(*value);
        }
        if (colon == std::string_view::npos) break;
        rest.remove_prefix(colon + 1);
    }
    if (pieces.empty()) return std::nullopt;
    double total = 0;
    for (std::size_t i = 0; i < pieces.size(); ++i)
        total += pieces[pieces.size() - 1 - i] * std::pow(60.0, double(i));
    if (!std::isfinite(total)) return std::nullopt;
    return total;
}

Track Track::bounded() && {
    nlohmann::json raw;
    bool cut = false;
    for (auto [name, key] : {std::pair{&title, "name"}, std::pair{&artist, "singer"},
                             std::pair{&album, "albumName"}}) {
        auto kept = boundedName(*name);
        if (kept.size() == name->size()) continue;
        *name = std::move(kept);
        // The payload holds the names under a source record's keys.
        if (!cut) raw = BoundedJson::parse(payload);
        cut = true;
        if (raw.is_object()) {
            auto field = raw.find(key);
            if (field != raw.end() && field->is_string())
                *field = boundedName(field->get_ref<const std::string&>());
        }
    }
    if (cut && raw.is_object()) payload = writeSortedJSON(raw);
    return std::move(*this);
}

nlohmann::json Track::toJSON() const {
    nlohmann::json value = {
        {"source", rawValue(source)}, {"songmid", songmid}, {"title", title},
        {"artist", artist},           {"album", album},     {"payload", Base64::encode(payload)},
    };
    if (interval) value["interval"] = *interval;
    return value;
}

Track Track::fromJSON(const nlohmann::json& value) {
    if (!value.is_object()) throw std::invalid_argument("Track: coded form is not an object");
    Track track;
    auto sourceText = requireText(value, "source");
    auto source = musicSourceFromRaw(sourceText);
    if (!source) throw std::invalid_argument("Track: unknown source \"" + sourceText + "\"");
    track.source = *source;
    track.songmid = requireText(value, "songmid");
    track.title = requireText(value, "title");
    track.artist = requireText(value, "artist");
    track.album = requireText(value, "album");
    auto interval = value.find("interval");
    if (interval != value.end() && !interval->is_null()) {
        if (!interval->is_string())
            throw std::invalid_argument("Track: \"interval\" is not a text");
        track.interval = interval->get<std::string>();
    }
    auto bytes = Base64::decode(requireText(value, "payload"));
    if (!bytes) throw std::invalid_argument("Track: \"payload\" is not Base64");
    track.payload.assign(bytes->begin(), bytes->end());
    return std::move(track).bounded();
}

}  // namespace velto
