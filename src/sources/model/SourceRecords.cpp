#include "sources/model/SourceRecords.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>

#include "foundation/text/TextBounds.h"
#include "sources/model/JsonReading.h"
#include "sources/model/SourceArtworkURL.h"
#include "sources/model/SourceError.h"
#include "sources/model/SourceReleaseDate.h"

namespace velto {

namespace {

// Only whole numbers that fit: a fractional or out-of-range number gives none.
std::optional<std::int64_t> wholeNumber(const nlohmann::json& field) {
    if (!field.is_number_integer() && !field.is_number_float()) return std::nullopt;
    if (field.is_number_float() && std::trunc(field.get<double>()) != field.get<double>()) {
        return std::nullopt;
    }
    return readInteger(field);
}

// Pages needed for `total` items, `limit` a page; by division so that nothing can overflow.
std::int64_t pageCount(std::int64_t total, std::int64_t limit) {
    return total / limit + (total % limit != 0);
}

// Strict reading of coded records: `record` names the type in the error text.
class Reader {
  public:
    Reader(const nlohmann::json& value, const char* record) : value_(value), record_(record) {
        if (!value.is_object()) fail("the coded form is not an object");
    }

    [[noreturn]] void fail(const std::string& reason) const {
        throw std::invalid_argument(std::string(record_) + ": " + reason);
    }

    // The value under `key`; null counts as missing, as for any optional field.
    const nlohmann::json* find(const char* key) const {
        auto it = value_.find(key);
        if (it == value_.end() || it->is_null()) return nullptr;
        return &*it;
    }

    const nlohmann::json& require(const char* key) const {
        auto it = value_.find(key);
        if (it == value_.end()) fail(std::string("missing key \"") + key + "\"");
        return *it;
    }

    std::string text(const char* key) const { return asText(require(key), key); }

    std::optional<std::string> optionalText(const char* key) const {
        auto field = find(key);
        if (!field) return std::nullopt;
        return asText(*field, key);
    }

    std::int64_t integer(const char* key) const { return asInteger(require(key), key); }

    std::optional<std::int64_t> optionalInteger(const char* key) const {
        auto field = find(key);
        if (!field) return std::nullopt;
        return asInteger(*field, key);
    }

    MusicSource source(const char* key = "source") const {
        auto raw = text(key);
        auto source = musicSourceFromRaw(raw);
        if (!source) fail("unknown source \"" + raw + "\"");
        return *source;
    }

    template <typename Element>
    std::vector<Element> list(const char* key) const {
        const auto& field = require(key);
        if (!field.is_array()) fail(std::string("\"") + key + "\" is not a list");
        std::vector<Element> elements;
        elements.reserve(field.size());
        for (const auto& element : field) elements.push_back(Element::fromJSON(element));
        return elements;
    }

    std::string asText(const nlohmann::json& field, const char* key) const {
        if (!field.is_string()) fail(std::string("\"") + key + "\" is not a text");
        return field.get<std::string>();
    }

    std::int64_t asInteger(const nlohmann::json& field, const char* key) const {
        if (auto value = wholeNumber(field)) return *value;
        fail(std::string("\"") + key + "\" is not an integer");
    }

  private:
    const nlohmann::json& value_;
    const char* record_;
};

void putOptional(nlohmann::json& value, const char* key, const auto& field) {
    if (field) value[key] = *field;
}

template <typename Element>
nlohmann::json listJSON(const std::vector<Element>& elements) {
    auto list = nlohmann::json::array();
    for (const auto& element : elements) list.push_back(element.toJSON());
    return list;
}

std::string sourceText(MusicSource source) {
    return std::string(rawValue(source));
}

// Names from outside are cut as a song's are (Track::boundedName) wherever a record is made.
std::optional<std::string> cutName(const std::optional<std::string>& text) {
    if (!text) return std::nullopt;
    return Track::boundedName(*text);
}

std::optional<std::string> cutDescription(const std::optional<std::string>& text) {
    if (!text) return std::nullopt;
    return PlaylistSummary::boundedDescription(*text);
}

std::optional<std::int64_t> nonNegative(std::optional<std::int64_t> count) {
    if (count && *count < 0) return std::nullopt;
    return count;
}

// Mixes one field's hash into the running value.
template <typename Value>
void combine(std::size_t& seed, const Value& value) {
    seed ^= std::hash<Value>{}(value) + 0x9e3779b97f4a7c15ULL + (seed << 6) + (seed >> 2);
}

}  // namespace

nlohmann::json SearchPage::toJSON() const {
    return {{"list", listJSON(list)}, {"total", total}, {"allPage", allPage}};
}

SearchPage SearchPage::fromJSON(const nlohmann::json& value) {
    Reader reader(value, "SearchPage");
    SearchPage page;
    page.list = reader.list<Track>("list");
    page.total = reader.integer("total");
    page.allPage = reader.integer("allPage");
    return page;
}

ArtistSummary ArtistSummary::make(const std::string& id, MusicSource source,
                                  const std::string& name,
                                  const std::optional<std::string>& imageURL,
                                  std::optional<std::int64_t> songCount,
                                  std::optional<std::int64_t> albumCount) {
    ArtistSummary artist;
    artist.id = trimmed(id);
    artist.name = Track::boundedName(trimmed(name));
    if (artist.id.empty() || artist.name.empty()) throw SourceError::source("歌手结果缺少身份信息");
    artist.source = source;
    artist.imageURL = SourceArtworkURL::normalizedString(imageURL);
    artist.songCount = nonNegative(songCount);
    artist.albumCount = nonNegative(albumCount);
    return artist;
}

std::string ArtistSummary::stableID() const {
    return sourceText(source) + "_artist_" + id;
}

nlohmann::json ArtistSummary::toJSON() const {
    nlohmann::json value = {{"id", id}, {"source", sourceText(source)}, {"name", name}};
    putOptional(value, "imageURL", imageURL);
    putOptional(value, "songCount", songCount);
    putOptional(value, "albumCount", albumCount);
    return value;
}

ArtistSummary ArtistSummary::fromJSON(const nlohmann::json& value) {
    Reader reader(value, "ArtistSummary");
    ArtistSummary artist;
    artist.id = reader.text("id");
    artist.source = reader.source();
    artist.name = Track::boundedName(reader.text("name"));
    artist.imageURL = reader.optionalText("imageURL");
    artist.songCount = reader.optionalInteger("songCount");
    artist.albumCount = reader.optionalInteger("albumCount");
    return artist;
}

ArtistSearchPage::ArtistSearchPage(std::vector<ArtistSummary> list, std::int64_t total,
                                   MusicSource source, std::int64_t page, std::int64_t limit,
                                   std::optional<bool> hasMore)
    : list(std::move(list)), source(source) {
    auto count = std::int64_t(this->list.size());
    this->page = std::max<std::int64_t>(page, 1);
    this->limit = std::max<std::int64_t>(limit > 0 ? limit : count, 1);
    this->total = std::max<std::int64_t>(total < 0 ? 0 : total, count);
    if (this->list.empty()) {
        this->hasMore = false;
    } else if (hasMore) {
        this->hasMore = *hasMore;
    } else {
        this->hasMore = this->page < pageCount(this->total, this->limit);
    }
}

AlbumSummary AlbumSummary::make(const std::string& id, MusicSource source, const std::string& name,
                                const std::string& artist,
                                const std::optional<std::string>& imageURL,
                                const std::optional<std::string>& releaseDate,
                                std::optional<std::int64_t> trackCount) {
    AlbumSummary album;
    album.id = trimmed(id);
    album.name = Track::boundedName(trimmed(name));
    if (album.id.empty() || album.name.empty()) throw SourceError::source("专辑结果缺少身份信息");
    album.source = source;
    album.artist = Track::boundedName(trimmed(artist));
    album.imageURL = SourceArtworkURL::normalizedString(imageURL);
    album.releaseDate = SourceReleaseDate::normalizedString(releaseDate);
    album.trackCount = nonNegative(trackCount);
    return album;
}

std::string AlbumSummary::stableID() const {
    return sourceText(source) + "_album_" + id;
}

nlohmann::json AlbumSummary::toJSON() const {
    nlohmann::json value = {
        {"id", id}, {"source", sourceText(source)}, {"name", name}, {"artist", artist}};
    putOptional(value, "imageURL", imageURL);
    putOptional(value, "releaseDate", releaseDate);
    putOptional(value, "trackCount", trackCount);
    return value;
}

AlbumSummary AlbumSummary::fromJSON(const nlohmann::json& value) {
    Reader reader(value, "AlbumSummary");
    AlbumSummary album;
    album.id = reader.text("id");
    album.source = reader.source();
    album.name = Track::boundedName(reader.text("name"));
    album.artist = Track::boundedName(reader.text("artist"));
    album.imageURL = reader.optionalText("imageURL");
    album.releaseDate = reader.optionalText("releaseDate");
    album.trackCount = reader.optionalInteger("trackCount");
    return album;
}

std::string PlaylistSummary::boundedDescription(std::string_view text) {
    static constexpr TextBounds bounds{longestDescription, 4 * longestDescription,
                                       12 * longestDescription, Track::mostCodePointsPerCharacter};
    return bounds.cut(text);
}

std::string PlaylistSummary::key() const {
    return sourceText(source) + ":" + id;
}

nlohmann::json PlaylistSummary::toJSON() const {
    nlohmann::json value = {{"id", id}, {"name", name}, {"author", author}};
    putOptional(value, "img", img);
    putOptional(value, "total", total);
    putOptional(value, "desc", desc);
    putOptional(value, "time", time);
    value["source"] = sourceText(source);
    value["play_count"] = playCount;
    return value;
}

PlaylistSummary PlaylistSummary::fromJSON(const nlohmann::json& value) {
    Reader reader(value, "PlaylistSummary");
    PlaylistSummary playlist;
    auto id = value.find("id");
    if (id != value.end() && id->is_string()) {
        playlist.id = id->get<std::string>();
    } else if (auto number = id != value.end() ? wholeNumber(*id) : std::nullopt) {
        playlist.id = std::to_string(*number);
    } else {
        throw std::invalid_argument("歌单缺少有效 ID");
    }
    playlist.name = Track::boundedName(reader.text("name"));
    playlist.img = reader.optionalText("img");
    playlist.author = cutName(reader.optionalText("author")).value_or("");
    playlist.playCount = reader.optionalText("play_count").value_or("");
    playlist.total = reader.optionalInteger("total");
    playlist.desc = cutDescription(reader.optionalText("desc"));
    playlist.time = reader.optionalText("time");
    playlist.source = reader.source();
    return playlist;
}

nlohmann::json PlaylistCatalogPage::toJSON() const {
    return {{"list", listJSON(list)},
            {"total", total},
            {"page", page},
            {"limit", limit},
            {"source", sourceText(source)}};
}

PlaylistCatalogPage PlaylistCatalogPage::fromJSON(const nlohmann::json& value) {
    Reader reader(value, "PlaylistCatalogPage");
    PlaylistCatalogPage catalog;
    catalog.list = reader.list<PlaylistSummary>("list");
    catalog.source = reader.source();
    auto count = std::int64_t(catalog.list.size());
    catalog.total = reader.optionalInteger("total").value_or(count);
    catalog.page = reader.optionalInteger("page").value_or(1);
    catalog.limit = reader.optionalInteger("limit").value_or(std::max<std::int64_t>(count, 20));
    return catalog;
}

nlohmann::json PlaylistDetailInfo::toJSON() const {
    nlohmann::json value = {{"name", name}, {"author", author}, {"play_count", playCount}};
    putOptional(value, "img", img);
    putOptional(value, "desc", desc);
    return value;
}

PlaylistDetailInfo PlaylistDetailInfo::fromJSON(const nlohmann::json& value) {
    Reader reader(value, "PlaylistDetailInfo");
    PlaylistDetailInfo info;
    info.name = Track::boundedName(reader.text("name"));
    info.img = reader.optionalText("img");
    info.desc = cutDescription(reader.optionalText("desc"));
    info.author = Track::boundedName(reader.text("author"));
    info.playCount = reader.text("play_count");
    return info;
}

bool PlaylistDetail::supportsPagination() const {
    return supportsCatalog(source);
}

bool PlaylistDetail::hasMore() const {
    if (!supportsPagination() || list.empty() || limit <= 0) return false;
    return page < pageCount(total, limit);
}

nlohmann::json LyricInfo::toJSON() const {
    nlohmann::json value = {{"lyric", lyric}};
    putOptional(value, "tlyric", tlyric);
    putOptional(value, "rlyric", rlyric);
    putOptional(value, "lxlyric", lxlyric);
    return value;
}

LyricInfo LyricInfo::fromJSON(const nlohmann::json& value) {
    Reader reader(value, "LyricInfo");
    LyricInfo info;
    info.lyric = reader.text("lyric");
    info.tlyric = reader.optionalText("tlyric");
    info.rlyric = reader.optionalText("rlyric");
    info.lxlyric = reader.optionalText("lxlyric");
    return info;
}

}  // namespace velto

std::size_t std::hash<velto::ArtistSummary>::operator()(
    const velto::ArtistSummary& artist) const noexcept {
    std::size_t seed = 0;
    velto::combine(seed, artist.id);
    velto::combine(seed, artist.source);
    velto::combine(seed, artist.name);
    velto::combine(seed, artist.imageURL);
    velto::combine(seed, artist.songCount);
    velto::combine(seed, artist.albumCount);
    return seed;
}

std::size_t std::hash<velto::AlbumSummary>::operator()(
    const velto::AlbumSummary& album) const noexcept {
    std::size_t seed = 0;
    velto::combine(seed, album.id);
    velto::combine(seed, album.source);
    velto::combine(seed, album.name);
    velto::combine(seed, album.artist);
    velto::combine(seed, album.imageURL);
    velto::combine(seed, album.releaseDate);
    velto::combine(seed, album.trackCount);
    return seed;
}
