#include "library/online/OnlinePlaylistImportService.h"

#include <algorithm>
#include <cstdio>
#include <unordered_set>

#include "foundation/Cancellation.h"
#include "foundation/text/UnicodeTrim.h"
#include "library/online/OnlinePlaylistImportError.h"
#include "library/online/OnlinePlaylistInput.h"
#include "foundation/text/BoundedJson.h"
#include "library/exchange/PlaylistBackup.h"
#include "sources/model/JsonReading.h"
#include "sources/model/SourceError.h"
#include "sources/model/WebAddress.h"

namespace velto {

namespace {

using nlohmann::json;
using Kind = OnlinePlaylistImportError::Kind;

[[noreturn]] void fail(Kind kind) { throw OnlinePlaylistImportError(kind); }

const json* member(const json& object, const char* key) {
    auto it = object.find(key);
    return it == object.end() ? nullptr : &*it;
}

// The value under `key`, else under `fallback` when `key` is missing altogether; a `key` that
// is there with the wrong type is not replaced.
const json* memberOr(const json& object, const char* key, const char* fallback) {
    if (const json* value = member(object, key)) return value;
    return member(object, fallback);
}

// The service writes identifiers as numbers or as text; a number reads as its decimal text.
std::optional<std::string> string(const json* value) {
    if (!value) return std::nullopt;
    switch (value->type()) {
        case json::value_t::string:
            return value->get<std::string>();
        case json::value_t::boolean:
            return value->get<bool>() ? "1" : "0";
        case json::value_t::number_integer:
            return std::to_string(value->get<std::int64_t>());
        case json::value_t::number_unsigned:
            return std::to_string(value->get<std::uint64_t>());
        case json::value_t::number_float:
            return shortestNumberText(value->get<double>());
        default:
            return std::nullopt;
    }
}

// A whole decimal number written as a number or as text; fractions and other text give none.
std::optional<std::int64_t> integer(const json* value) {
    if (!value) return std::nullopt;
    if (value->is_boolean()) return value->get<bool>() ? 1 : 0;
    if (!value->is_number() && !value->is_string()) return std::nullopt;
    return parseDecimalInteger(*string(value));
}

std::string joinedArtists(const json& artists) {
    std::string joined;
    for (const auto& artist : artists) {
        auto name = readText(artist, "name");
        if (!name || name->empty()) continue;
        if (!joined.empty()) joined += "、";
        joined += *name;
    }
    return joined;
}

std::optional<std::string> artworkAddress(const json& album) {
    auto picture = readText(album, "picUrl");
    if (!picture) return std::nullopt;
    auto address = WebAddress::parse(*picture);
    if (!address || address->host.empty() || address->hasUserInfo) return std::nullopt;
    const std::string scheme = address->lowercasedScheme();
    if (scheme != "http" && scheme != "https") return std::nullopt;
    return address->withScheme("https");
}

// One delivered entry as a song; throws invalidResponse (or the song model's error).
Track netEaseTrack(const json& entry) {
    auto id = string(member(entry, "id"));
    auto songmid = id ? OnlinePlaylistReference::normalizedID(*id) : std::nullopt;
    if (!songmid) fail(Kind::invalidResponse);
    auto title = readText(entry, "name");
    if (!title) fail(Kind::invalidResponse);
    const json* artists = memberOr(entry, "ar", "artists");
    if (!artists || !artists->is_array()) fail(Kind::invalidResponse);
    for (const auto& artist : *artists) {
        if (!artist.is_object()) fail(Kind::invalidResponse);
    }
    const std::string singer = joinedArtists(*artists);
    if (UnicodeTrim::trimBlanksAndNewlines(*title).empty() || singer.empty())
        fail(Kind::invalidResponse);
    const json* albumValue = memberOr(entry, "al", "album");
    static const json noAlbum = json::object();
    const json& album = albumValue && albumValue->is_object() ? *albumValue : noAlbum;

    json raw = {{"songmid", *songmid},
                {"name", *title},
                {"singer", singer},
                {"albumName", readText(album, "name").value_or("")}};
    auto milliseconds = integer(memberOr(entry, "dt", "duration"));
    if (milliseconds && *milliseconds > 0) {
        char interval[32];
        std::snprintf(interval, sizeof interval, "%lld:%02lld",
                      static_cast<long long>(*milliseconds / 60'000),
                      static_cast<long long>((*milliseconds / 1'000) % 60));
        raw["interval"] = interval;
    }
    if (auto img = artworkAddress(album)) raw["img"] = *img;
    return Track::fromRaw(MusicSource::wy, raw);
}

}  // namespace

OnlinePlaylistImportService::OnlinePlaylistImportService(
    std::shared_ptr<ChkszAPIRequesting> chkszAPI,
    std::shared_ptr<PlaylistShareLinkResolving> shareLinks)
    : chkszAPI_(std::move(chkszAPI)), shareLinks_(std::move(shareLinks)) {}

OnlinePlaylistPreview OnlinePlaylistImportService::preview(std::string_view text, MusicSource source,
                                                           std::stop_token stop) {
    throwIfCancelled(stop);
    const OnlinePlaylistInput input = OnlinePlaylistInput::parse(text, source);
    OnlinePlaylistReference reference;
    if (const auto* link = input.shortLink()) {
        const auto linkSource = OnlinePlaylistReference::sourceFor(link->url);
        if (!linkSource) fail(Kind::unsupportedLink);
        // A switched-off service's short link is refused before any network access.
        requireEnabled(*linkSource);
        const std::string resolved = shareLinks_->resolve(link->url, stop);
        throwIfCancelled(stop);
        reference = OnlinePlaylistReference::from(resolved);
    } else {
        reference = *input.reference();
    }
    throwIfCancelled(stop);
    requireEnabled(reference.source);
    if (reference.source != MusicSource::wy) fail(Kind::unsupportedLink);
    return readNetEase(reference, stop);
}

OnlinePlaylistPreview OnlinePlaylistImportService::readNetEase(const OnlinePlaylistReference& reference,
                                                               std::stop_token stop) {
    // One byte more than allowed is enough to tell that an answer is too large.
    const std::string body =
        chkszAPI_->requestCapped("/api/163_playlist", {{"id", reference.id}}, maximumBodyBytes + 1, stop);
    throwIfCancelled(stop);
    if (body.size() > maximumBodyBytes) fail(Kind::tooLarge);
    const auto parsed = BoundedJson::parse(body);
    if (parsed.is_discarded()) throw OnlinePlaylistJSONError();
    const json* document = &parsed;

    if (!document->is_object()) fail(Kind::unavailable);
    const json* data = member(*document, "data");
    if (!data || !data->is_object()) fail(Kind::unavailable);
    // A service that answers with another playlist is refused.
    auto id = string(member(*data, "id"));
    if (!id || OnlinePlaylistReference::normalizedID(*id) != reference.id) fail(Kind::unavailable);
    auto name = readText(*data, "name");
    if (!name) fail(Kind::unavailable);
    const json* entries = member(*data, "tracks");
    if (!entries || !entries->is_array()) fail(Kind::unavailable);
    auto reported = integer(member(*data, "trackCount"));
    if (!reported || *reported < 0) fail(Kind::unavailable);
    if (*reported > std::int64_t(maximumTrackCount) || entries->size() > maximumTrackCount)
        fail(Kind::tooLarge);

    std::vector<Track> songs;
    songs.reserve(entries->size());
    for (const auto& entry : *entries) {
        if (!entry.is_object()) continue;
        try {
            songs.push_back(netEaseTrack(entry));
        } catch (const OnlinePlaylistImportError&) {
        } catch (const SourceError&) {
        }
    }
    const std::string trimmedName(UnicodeTrim::trimBlanksAndNewlines(*name));
    if (trimmedName.empty()) fail(Kind::invalidResponse);

    std::vector<Track> distinct;
    distinct.reserve(songs.size());
    std::unordered_set<std::string> keys;
    for (auto& song : songs) {
        if (keys.insert(song.musicID()).second) distinct.push_back(std::move(song));
    }
    const auto delivered = static_cast<std::int64_t>(entries->size());
    const auto readable = static_cast<std::int64_t>(songs.size());
    const auto kept = static_cast<std::int64_t>(distinct.size());

    // Through the backup format, so an online playlist obeys exactly a backup file's rules.
    auto contents = PlaylistBackup::decode(PlaylistBackup::encode(trimmedName, distinct));

    OnlinePlaylistPreview preview;
    preview.reference = reference;
    preview.name = trimmedName;
    preview.tracks = std::move(contents.tracks);
    preview.remoteTrackCount = static_cast<int>(std::max(*reported, delivered));
    preview.missingTrackCount = static_cast<int>(std::max<std::int64_t>(*reported - delivered, 0));
    preview.invalidTrackCount = static_cast<int>(delivered - readable);
    preview.duplicateTrackCount = static_cast<int>(readable - kept);
    return preview;
}

}  // namespace velto
