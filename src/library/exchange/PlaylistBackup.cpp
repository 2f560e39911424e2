#include "library/exchange/PlaylistBackup.h"

#include <unicode/utf8.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <map>
#include <optional>
#include <variant>

#include "foundation/text/JsonWriter.h"
#include "foundation/text/UnicodeTrim.h"
#include "library/exchange/ExchangeText.h"
#include "foundation/text/BoundedJson.h"
#include "library/exchange/PlaylistBackupError.h"
#include "sources/model/Quality.h"
#include "sources/model/WebAddress.h"

namespace velto {

namespace {

using nlohmann::json;
using Kind = PlaylistBackupError::Kind;

constexpr std::string_view formatName = "velto.personal-playlist";
constexpr std::size_t nameLimit = 512;
// Eight bytes a character, as for a song's texts.
constexpr std::size_t nameBytes = 4096;
constexpr std::size_t textLimit = 2048;
// Room for 2,048 characters of several code points each; a text past it is no name but a load.
constexpr std::size_t textBytes = 16'384;
constexpr std::size_t intervalLimit = 32;
constexpr std::size_t identifierLimit = 256;
constexpr std::size_t localPathBytes = 4096;
constexpr std::size_t artworkLimit = 4096;
constexpr std::size_t sizeTextLimit = 64;
constexpr std::size_t qualityLimit = 5;

// A song or album identifier, kept in the form the source used: text or a number.
using Identifier = std::variant<std::string, std::int64_t>;

struct QualityDescriptor {
    Quality type;
    std::optional<std::string> size;
};

struct Metadata {
    std::optional<std::string> strMediaMid;
    std::optional<Identifier> songId;
    std::optional<Identifier> albumId;
    std::optional<std::string> albumMid;
    std::optional<std::string> img;
    std::optional<std::vector<QualityDescriptor>> types;
    std::optional<std::map<std::string, std::optional<std::string>>> qualitySizes;  // "_types"
};

struct Entry {
    MusicSource source;
    std::string songmid;
    std::string title;
    std::string artist;
    std::string album;
    std::optional<std::string> interval;
    Metadata metadata;
};

[[noreturn]] void fail(Kind kind) { throw PlaylistBackupError(kind); }

// --- Reading the document's structure. Any mismatch makes the file unreadable. ---

struct Malformed {};

const json* member(const json& object, const char* key) {
    auto it = object.find(key);
    if (it == object.end() || it->is_null()) return nullptr;
    return &*it;
}

const json& required(const json& object, const char* key) {
    const json* value = member(object, key);
    if (!value) throw Malformed{};
    return *value;
}

std::string text(const json& value) {
    if (!value.is_string()) throw Malformed{};
    return value.get<std::string>();
}

std::optional<std::string> optionalText(const json& object, const char* key) {
    const json* value = member(object, key);
    if (!value) return std::nullopt;
    return text(*value);
}

// A JSON number that is a whole signed 64-bit value; integral fractions like 1.0 count.
std::optional<std::int64_t> wholeNumber(const json& value) {
    switch (value.type()) {
        case json::value_t::number_integer:
            return value.get<std::int64_t>();
        case json::value_t::number_unsigned: {
            const auto number = value.get<std::uint64_t>();
            if (number > std::uint64_t(std::numeric_limits<std::int64_t>::max())) return std::nullopt;
            return static_cast<std::int64_t>(number);
        }
        case json::value_t::number_float: {
            const double number = value.get<double>();
            // 2^63 itself is out of range; the cast below is only defined inside it.
            if (!std::isfinite(number) || number != std::trunc(number) || number < -0x1p63 ||
                number >= 0x1p63) {
                return std::nullopt;
            }
            return static_cast<std::int64_t>(number);
        }
        default:
            return std::nullopt;
    }
}

std::optional<Identifier> readIdentifier(const json& object, const char* key) {
    const json* value = member(object, key);
    if (!value) return std::nullopt;
    if (auto number = wholeNumber(*value)) return Identifier(*number);
    if (value->is_string()) return Identifier(value->get<std::string>());
    throw Malformed{};
}

Metadata readMetadata(const json& value) {
    if (!value.is_object()) throw Malformed{};
    Metadata metadata;
    metadata.strMediaMid = optionalText(value, "strMediaMid");
    metadata.songId = readIdentifier(value, "songId");
    metadata.albumId = readIdentifier(value, "albumId");
    metadata.albumMid = optionalText(value, "albumMid");
    metadata.img = optionalText(value, "img");
    if (const json* types = member(value, "types")) {
        if (!types->is_array()) throw Malformed{};
        metadata.types.emplace();
        for (const auto& descriptor : *types) {
            if (!descriptor.is_object()) throw Malformed{};
            auto quality = qualityFromRaw(text(required(descriptor, "type")));
            if (!quality) throw Malformed{};
            metadata.types->push_back({*quality, optionalText(descriptor, "size")});
        }
    }
    if (const json* sizes = member(value, "_types")) {
        if (!sizes->is_object()) throw Malformed{};
        metadata.qualitySizes.emplace();
        for (const auto& [name, size] : sizes->items()) {
            if (!size.is_object()) throw Malformed{};
            (*metadata.qualitySizes)[name] = optionalText(size, "size");
        }
    }
    return metadata;
}

Entry readEntry(const json& value) {
    if (!value.is_object()) throw Malformed{};
    auto source = musicSourceFromRaw(text(required(value, "source")));
    if (!source) throw Malformed{};
    Entry entry{*source,
                text(required(value, "songmid")),
                text(required(value, "title")),
                text(required(value, "artist")),
                text(required(value, "album")),
                optionalText(value, "interval"),
                readMetadata(required(value, "metadata"))};
    return entry;
}

// --- The rules every song obeys, on reading and on writing. ---

bool tooLong(std::string_view text, std::size_t limit) {
    return ExchangeText::exceedsCharacters(text, limit);
}

void validateIdentifier(std::string_view identifier, bool allowEmpty) {
    if (identifier.empty() && !allowEmpty) fail(Kind::invalidTrack);
    if (!isValidUTF8(identifier) || tooLong(identifier, identifierLimit)) fail(Kind::invalidTrack);
    const auto length = static_cast<std::int32_t>(identifier.size());
    for (std::int32_t i = 0; i < length;) {
        UChar32 scalar;
        U8_NEXT(identifier.data(), i, length, scalar);
        if (scalar == '_' || scalar == '-') continue;
        if (scalar < 0 || !ExchangeText::isAlphanumeric(static_cast<char32_t>(scalar)))
            fail(Kind::invalidTrack);
    }
}

// A local song is known by its absolute file path, which no identifier rule would admit.
void validateLocalPath(std::string_view path) {
    if (!path.starts_with('/') || path.size() > localPathBytes ||
        ExchangeText::hasControlOrInvalid(path)) {
        fail(Kind::invalidTrack);
    }
}

// The cover address in the one form a backup keeps: https, no query, no fragment.
std::optional<std::string> cleanArtwork(const std::optional<std::string>& address) {
    if (!address || address->empty()) return std::nullopt;
    if (!isValidUTF8(*address) || tooLong(*address, artworkLimit)) fail(Kind::invalidTrack);
    auto parsed = WebAddress::parse(*address);
    if (!parsed) fail(Kind::invalidTrack);
    const std::string scheme = parsed->lowercasedScheme();
    if ((scheme != "http" && scheme != "https") || parsed->host.empty() || parsed->hasUserInfo)
        fail(Kind::invalidTrack);
    std::string cleaned = "https://" + parsed->host;
    if (!parsed->port.empty()) cleaned += ":" + parsed->port;
    return cleaned + parsed->path;
}

bool isIntervalText(std::string_view interval) {
    if (interval.empty()) return true;
    int groups = 0;
    while (true) {
        const auto colon = interval.find(':');
        const auto group = interval.substr(0, colon);
        if (group.empty() || ++groups > 3) return false;
        for (char c : group) {
            if (c < '0' || c > '9') return false;
        }
        if (colon == std::string_view::npos) return true;
        interval.remove_prefix(colon + 1);
    }
}

void validateSize(const std::optional<std::string>& size) {
    if (size && (!isValidUTF8(*size) || tooLong(*size, sizeTextLimit))) fail(Kind::invalidTrack);
}

void validateText(std::string_view text) {
    if (text.size() > textBytes || !isValidUTF8(text) || tooLong(text, textLimit))
        fail(Kind::invalidTrack);
}

void validateIdentifierValue(const std::optional<Identifier>& identifier) {
    if (!identifier) return;
    if (const auto* number = std::get_if<std::int64_t>(&*identifier)) {
        if (*number < 0) fail(Kind::invalidTrack);
    } else {
        validateIdentifier(std::get<std::string>(*identifier), /*allowEmpty=*/true);
    }
}

void validateEntry(const Entry& entry) {
    if (entry.source == MusicSource::local) {
        validateLocalPath(entry.songmid);
    } else {
        validateIdentifier(entry.songmid, /*allowEmpty=*/false);
    }
    validateText(entry.title);
    if (UnicodeTrim::trimBlanksAndNewlines(entry.title).empty()) fail(Kind::invalidTrack);
    validateText(entry.artist);
    validateText(entry.album);
    if (entry.interval && (!isValidUTF8(*entry.interval) || tooLong(*entry.interval, intervalLimit) ||
                           !isIntervalText(*entry.interval))) {
        fail(Kind::invalidTrack);
    }
    const Metadata& metadata = entry.metadata;
    if (metadata.strMediaMid) validateIdentifier(*metadata.strMediaMid, /*allowEmpty=*/true);
    if (metadata.albumMid) validateIdentifier(*metadata.albumMid, /*allowEmpty=*/true);
    validateIdentifierValue(metadata.songId);
    validateIdentifierValue(metadata.albumId);
    if (metadata.types) {
        if (metadata.types->size() > qualityLimit) fail(Kind::invalidTrack);
        for (const auto& descriptor : *metadata.types) validateSize(descriptor.size);
    }
    if (metadata.qualitySizes) {
        if (metadata.qualitySizes->size() > qualityLimit) fail(Kind::invalidTrack);
        for (const auto& [name, size] : *metadata.qualitySizes) {
            if (!qualityFromRaw(name)) fail(Kind::invalidTrack);
            validateSize(size);
        }
    }
    (void)cleanArtwork(metadata.img);
}

std::string validateName(std::string_view name) {
    if (!isValidUTF8(name)) fail(Kind::invalidFile);
    const std::string_view trimmedName = UnicodeTrim::trimBlanksAndNewlines(name);
    if (trimmedName.empty() || trimmedName.size() > nameBytes || tooLong(trimmedName, nameLimit))
        fail(Kind::invalidFile);
    return std::string(trimmedName);
}

// Name, count, then every entry in order; the first failure ends it.
std::string validate(std::string_view name, const std::vector<Entry>& entries) {
    std::string trimmedName = validateName(name);
    if (entries.size() > PlaylistBackup::maximumTrackCount) fail(Kind::tooLarge);
    for (const auto& entry : entries) validateEntry(entry);
    return trimmedName;
}

json identifierJSON(const Identifier& identifier) {
    if (const auto* number = std::get_if<std::int64_t>(&identifier)) return *number;
    return std::get<std::string>(identifier);
}

json sizeJSON(const std::optional<std::string>& size) { return size ? json(*size) : json(nullptr); }

Track trackFrom(const Entry& entry) {
    json raw = {{"source", rawValue(entry.source)},
                {"songmid", entry.songmid},
                {"name", entry.title},
                {"singer", entry.artist},
                {"albumName", entry.album}};
    if (entry.interval) raw["interval"] = *entry.interval;
    const Metadata& metadata = entry.metadata;
    if (metadata.strMediaMid) raw["strMediaMid"] = *metadata.strMediaMid;
    if (metadata.albumMid) raw["albumMid"] = *metadata.albumMid;
    if (metadata.songId) raw["songId"] = identifierJSON(*metadata.songId);
    if (metadata.albumId) raw["albumId"] = identifierJSON(*metadata.albumId);
    if (auto img = cleanArtwork(metadata.img)) raw["img"] = *img;
    if (metadata.types) {
        json types = json::array();
        for (const auto& descriptor : *metadata.types)
            types.push_back({{"type", rawValue(descriptor.type)}, {"size", sizeJSON(descriptor.size)}});
        raw["types"] = std::move(types);
    }
    if (metadata.qualitySizes) {
        json sizes = json::object();
        for (const auto& [name, size] : *metadata.qualitySizes) sizes[name] = {{"size", sizeJSON(size)}};
        raw["_types"] = std::move(sizes);
    }
    return Track::fromRaw(entry.source, raw);
}

// --- Writing. ---

std::optional<std::string> payloadText(const json& payload, const char* key) {
    auto it = payload.find(key);
    if (it == payload.end() || !it->is_string()) return std::nullopt;
    return it->get<std::string>();
}

std::optional<Identifier> payloadIdentifier(const json& payload, const char* key) {
    auto it = payload.find(key);
    if (it == payload.end()) return std::nullopt;
    if (it->is_string()) return Identifier(it->get<std::string>());
    if (auto number = wholeNumber(*it)) return Identifier(*number);
    return std::nullopt;
}

Metadata metadataFrom(const json& payload) {
    Metadata metadata;
    if (auto types = payload.find("types"); types != payload.end() && types->is_array()) {
        bool allObjects = true;
        for (const auto& item : *types) allObjects = allObjects && item.is_object();
        if (allObjects) {
            metadata.types.emplace();
            for (const auto& item : *types) {
                auto type = payloadText(item, "type");
                auto quality = type ? qualityFromRaw(*type) : std::nullopt;
                if (quality) metadata.types->push_back({*quality, payloadText(item, "size")});
            }
        }
    }
    if (auto sizes = payload.find("_types"); sizes != payload.end() && sizes->is_object()) {
        std::map<std::string, std::optional<std::string>> members;
        for (const auto& [name, value] : sizes->items()) {
            if (qualityFromRaw(name) && value.is_object()) members[name] = payloadText(value, "size");
        }
        if (!members.empty()) metadata.qualitySizes = std::move(members);
    }
    metadata.strMediaMid = payloadText(payload, "strMediaMid");
    metadata.albumMid = payloadText(payload, "albumMid");
    metadata.songId = payloadIdentifier(payload, "songId");
    metadata.albumId = payloadIdentifier(payload, "albumId");
    // Catalogue songs keep their cover under "picUrl"; a bad one there only loses the cover.
    auto img = payloadText(payload, "img");
    if (img && !img->empty()) {
        metadata.img = cleanArtwork(img);
    } else if (auto picture = payloadText(payload, "picUrl")) {
        try {
            metadata.img = cleanArtwork(picture);
        } catch (const PlaylistBackupError&) {
        }
    }
    return metadata;
}

Entry entryFrom(const Track& track) {
    return {track.source, track.songmid,  track.title,
            track.artist, track.album,    track.interval,
            metadataFrom(*track.rawPayload())};
}

json entryJSON(const Entry& entry) {
    json metadata = json::object();
    const Metadata& m = entry.metadata;
    if (m.strMediaMid) metadata["strMediaMid"] = *m.strMediaMid;
    if (m.songId) metadata["songId"] = identifierJSON(*m.songId);
    if (m.albumId) metadata["albumId"] = identifierJSON(*m.albumId);
    if (m.albumMid) metadata["albumMid"] = *m.albumMid;
    if (m.img) metadata["img"] = *m.img;
    if (m.types) {
        json types = json::array();
        for (const auto& descriptor : *m.types) {
            json item = {{"type", rawValue(descriptor.type)}};
            if (descriptor.size) item["size"] = *descriptor.size;
            types.push_back(std::move(item));
        }
        metadata["types"] = std::move(types);
    }
    if (m.qualitySizes) {
        json sizes = json::object();
        for (const auto& [name, size] : *m.qualitySizes) {
            json item = json::object();
            if (size) item["size"] = *size;
            sizes[name] = std::move(item);
        }
        metadata["_types"] = std::move(sizes);
    }
    json value = {{"source", rawValue(entry.source)},
                  {"songmid", entry.songmid},
                  {"title", entry.title},
                  {"artist", entry.artist},
                  {"album", entry.album},
                  {"metadata", std::move(metadata)}};
    if (entry.interval) value["interval"] = *entry.interval;
    return value;
}

}  // namespace

std::string PlaylistBackup::encode(std::string_view name, const std::vector<Track>& tracks) {
    std::vector<Entry> entries;
    entries.reserve(tracks.size());
    for (const auto& track : tracks) entries.push_back(entryFrom(track));
    // The writer holds itself to the reader's rules; the name goes out as given.
    (void)validate(name, entries);

    json document = {{"format", formatName},
                     {"version", 1},
                     {"name", std::string(name)},
                     {"tracks", json::array()}};
    json& list = document["tracks"];
    for (const auto& entry : entries) list.push_back(entryJSON(entry));
    // Object keys come out sorted (the object type is ordered), slashes stay as they are, and one
    // tab per level keeps a full 50,000-song list inside the size limit.
    std::string bytes = document.dump(1, '\t');
    if (bytes.size() > maximumFileSize) fail(Kind::tooLarge);
    return bytes;
}

PlaylistBackup::Contents PlaylistBackup::decode(std::string_view bytes) {
    if (bytes.size() > maximumFileSize) fail(Kind::tooLarge);
    const json document = BoundedJson::parse(bytes);
    if (document.is_discarded() || !document.is_object()) fail(Kind::invalidFile);

    std::vector<Entry> entries;
    std::string name;
    try {
        // The header alone first, so another version is told apart whatever else it holds.
        if (text(required(document, "format")) != formatName) fail(Kind::invalidFile);
        auto version = wholeNumber(required(document, "version"));
        if (!version) throw Malformed{};
        if (*version != 1) fail(Kind::unsupportedVersion);

        name = text(required(document, "name"));
        const json& list = required(document, "tracks");
        if (!list.is_array()) throw Malformed{};
        entries.reserve(list.size());
        for (const auto& item : list) entries.push_back(readEntry(item));
    } catch (const Malformed&) {
        fail(Kind::invalidFile);
    }

    Contents contents;
    contents.name = validate(name, entries);
    contents.tracks.reserve(entries.size());
    for (const auto& entry : entries) contents.tracks.push_back(trackFrom(entry));
    return contents;
}

}  // namespace velto
