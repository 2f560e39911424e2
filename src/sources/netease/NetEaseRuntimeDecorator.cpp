#include "sources/netease/NetEaseRuntimeDecorator.h"

#include <algorithm>
#include <exception>
#include <utility>

#include "foundation/Cancellation.h"
#include "sources/model/SourceArtworkURL.h"
#include "sources/model/SourceError.h"
#include "sources/model/TrackPayloadCache.h"

namespace velto {

namespace {

constexpr std::size_t suggestionLimit = 8;
constexpr std::size_t hotSearchLimit = 12;
constexpr std::int64_t searchPageSize = 20;
constexpr std::int64_t artistAlbumPageSize = 24;
constexpr std::int64_t playlistSongLimit = 1000;
// The artist endpoint ignores both; it always answers the popular songs.
constexpr std::int64_t artistPage = 1;
constexpr std::int64_t artistLimit = searchPageSize;

// What a base runtime without hot searches answers; see SourceRuntime::hotSearch.
constexpr std::string_view noHotSearchMessage = "音源运行时不支持热门搜索";

}  // namespace

NetEaseRuntimeDecorator::NetEaseRuntimeDecorator(std::shared_ptr<SourceRuntime> base,
                                                 std::shared_ptr<NetEaseWebClient> client)
    : base_(std::move(base)), client_(std::move(client)) {}

std::int64_t NetEaseRuntimeDecorator::pageOffset(std::int64_t page, std::int64_t limit) {
    std::int64_t offset = 0;
    if (__builtin_mul_overflow(std::max<std::int64_t>(page, 1) - 1, limit, &offset)) {
        throw SourceError::source("页码超出范围");
    }
    return std::max<std::int64_t>(offset, 0);
}

std::optional<std::string> NetEaseRuntimeDecorator::payloadCoverURL(const Track& track) {
    const auto payload = TrackPayloadCache::shared().payload(track.payload);
    const auto value = payload->find("picUrl");
    if (value == payload->end() || !value->is_string()) return std::nullopt;
    // The same rule as every other cover: http and https with a host and no user, as https.
    try {
        return SourceArtworkURL::normalizedString(value->get<std::string>());
    } catch (const SourceError&) {
        return std::nullopt;
    }
}

SearchPage NetEaseRuntimeDecorator::search(const std::string& query, MusicSource source, int page,
                                           std::stop_token stop) {
    return base_->search(query, source, page, stop);
}

LyricInfo NetEaseRuntimeDecorator::lyric(const Track& track, std::stop_token stop) {
    if (track.source != MusicSource::wy) return base_->lyric(track, stop);
    try {
        return client_->lyric(track.songmid, stop);
    } catch (const CancellationError&) {
        throw CancellationError();
    } catch (...) {
        // Any other web failure is dropped; the base's answer or failure stands.
    }
    return base_->lyric(track, stop);
}

std::string NetEaseRuntimeDecorator::picURL(const Track& track, std::stop_token stop) {
    if (auto address = payloadCoverURL(track)) return *address;
    return base_->picURL(track, stop);
}

std::vector<std::string> NetEaseRuntimeDecorator::tipSearch(const std::string& query,
                                                            std::stop_token stop) {
    try {
        auto suggestions = client_->searchSuggestions(query, suggestionLimit, stop);
        if (!suggestions.empty()) return suggestions;
    } catch (...) {
        // Suggestions are a convenience: even a cancelled request falls back quietly.
    }
    return base_->tipSearch(query, stop);
}

std::vector<std::string> NetEaseRuntimeDecorator::hotSearch(MusicSource source,
                                                            std::stop_token stop) {
    if (source != MusicSource::wy) return base_->hotSearch(source, stop);
    std::exception_ptr webFailure;
    try {
        auto hots = client_->hotSearches(hotSearchLimit, stop);
        if (!hots.empty()) return hots;
    } catch (...) {
        webFailure = std::current_exception();
    }
    if (!webFailure) return base_->hotSearch(MusicSource::wy, stop);

    // A base that has no hot searches would otherwise hide why the web request failed.
    std::vector<std::string> hots;
    try {
        hots = base_->hotSearch(MusicSource::wy, stop);
    } catch (const SourceError& error) {
        if (error.kind() != SourceError::Kind::source || error.message() != noHotSearchMessage) {
            throw;
        }
        std::rethrow_exception(webFailure);
    }
    if (hots.empty()) std::rethrow_exception(webFailure);
    return hots;
}

PlaylistCatalogPage NetEaseRuntimeDecorator::playlistSearch(const std::string& query,
                                                            MusicSource source, int page,
                                                            std::stop_token stop) {
    if (source != MusicSource::wy) return base_->playlistSearch(query, source, page, stop);
    auto result =
        client_->searchPlaylists(query, searchPageSize, pageOffset(page, searchPageSize), stop);
    PlaylistCatalogPage catalog;
    catalog.list = std::move(result.playlists);
    catalog.total = result.total;
    catalog.page = page;
    catalog.limit = searchPageSize;
    catalog.source = MusicSource::wy;
    return catalog;
}

PlaylistCatalogPage NetEaseRuntimeDecorator::playlistCatalog(
    MusicSource source, const std::string& sortId, const std::optional<std::string>& tagId,
    int page, std::stop_token stop) {
    return base_->playlistCatalog(source, sortId, tagId, page, stop);
}

PlaylistDetail NetEaseRuntimeDecorator::playlistDetail(MusicSource source, const std::string& id,
                                                       int page, std::stop_token stop) {
    if (source != MusicSource::wy) return base_->playlistDetail(source, id, page, stop);
    return client_->playlistDetail(id, playlistSongLimit, stop);
}

ArtistSearchPage NetEaseRuntimeDecorator::searchArtists(const std::string& query,
                                                        MusicSource source, int page,
                                                        std::stop_token stop) {
    if (source != MusicSource::wy) {
        return base_->searchArtists(query, source, page, int(searchPageSize), stop);
    }
    return webArtistPage(query, page, searchPageSize, stop);
}

ArtistSearchPage NetEaseRuntimeDecorator::searchArtists(const std::string& query,
                                                        MusicSource source, int page, int limit,
                                                        std::stop_token stop) {
    if (source != MusicSource::wy) return base_->searchArtists(query, source, page, limit, stop);
    return webArtistPage(query, page, limit, stop);
}

ArtistSearchPage NetEaseRuntimeDecorator::webArtistPage(const std::string& query, int page,
                                                        std::int64_t limit, std::stop_token stop) {
    auto result = client_->searchArtists(query, limit, pageOffset(page, limit), stop);
    const auto count = std::int64_t(result.artists.size());
    const std::int64_t reportedPage = std::max(page, 1);
    const std::int64_t reportedLimit = std::max<std::int64_t>(limit > 0 ? limit : count, 1);
    const std::int64_t total =
        std::max<std::int64_t>(count, std::max<std::int64_t>(result.total, 0));
    std::int64_t seen = 0;
    // A product beyond 64 bits is past any total.
    const bool hasMore =
        count > 0 && !__builtin_mul_overflow(reportedPage, reportedLimit, &seen) && seen < total;
    return ArtistSearchPage(std::move(result.artists), total, MusicSource::wy, reportedPage,
                            reportedLimit, hasMore);
}

AlbumPage NetEaseRuntimeDecorator::searchAlbums(const std::string& query, MusicSource source,
                                                int page, int limit, std::stop_token stop) {
    if (source != MusicSource::wy) return base_->searchAlbums(query, source, page, limit, stop);
    auto result = client_->searchAlbums(query, limit, pageOffset(page, limit), stop);
    return AlbumPage{std::move(result.albums), result.total, MusicSource::wy};
}

ArtistSummary NetEaseRuntimeDecorator::artistDetail(const ArtistSummary& artist,
                                                    std::stop_token stop) {
    if (artist.source != MusicSource::wy) return base_->artistDetail(artist, stop);
    return client_->artist(artist.id, artistPage, artistLimit, stop).artist;
}

std::vector<Track> NetEaseRuntimeDecorator::artistPopularTracks(const ArtistSummary& artist,
                                                                std::stop_token stop) {
    if (artist.source != MusicSource::wy) return base_->artistPopularTracks(artist, stop);
    return client_->artist(artist.id, artistPage, artistLimit, stop).tracks;
}

AlbumPage NetEaseRuntimeDecorator::artistAlbums(const ArtistSummary& artist, int page,
                                                std::stop_token stop) {
    if (artist.source != MusicSource::wy) return base_->artistAlbums(artist, page, stop);
    auto albums = client_->artistAlbums(artist.id, artistAlbumPageSize,
                                        pageOffset(page, artistAlbumPageSize), stop);
    const auto total = artist.albumCount.value_or(std::int64_t(albums.size()));
    return AlbumPage{std::move(albums), total, MusicSource::wy};
}

AlbumDetail NetEaseRuntimeDecorator::albumTracks(const AlbumSummary& album, std::stop_token stop) {
    if (album.source != MusicSource::wy) return base_->albumTracks(album, stop);
    return client_->album(album.id, stop);
}

Track NetEaseRuntimeDecorator::trackDetail(const Track& track, std::stop_token stop) {
    if (track.source != MusicSource::wy) return base_->trackDetail(track, stop);
    try {
        auto songs = client_->songDetail({track.songmid}, stop);
        if (!songs.empty()) return std::move(songs.front());
    } catch (...) {
        // Even a cancelled web request falls back: the base answers from what it has.
    }
    return base_->trackDetail(track, stop);
}

}  // namespace velto
