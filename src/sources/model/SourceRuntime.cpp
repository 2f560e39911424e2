#include "sources/model/SourceRuntime.h"

#include "sources/model/SourceError.h"

namespace velto {

std::vector<std::string> SourceRuntime::hotSearch(MusicSource, std::stop_token) {
    throw SourceError::source("音源运行时不支持热门搜索");
}

PlaylistCatalogPage SourceRuntime::playlistSearch(const std::string&, MusicSource, int,
                                                  std::stop_token) {
    throw SourceError::source("音源运行时不支持歌单搜索");
}

PlaylistCatalogPage SourceRuntime::playlistCatalog(MusicSource, const std::string&,
                                                   const std::optional<std::string>&, int,
                                                   std::stop_token) {
    throw SourceError::source("音源运行时不支持歌单广场");
}

PlaylistDetail SourceRuntime::playlistDetail(MusicSource, const std::string&, int,
                                             std::stop_token) {
    throw SourceError::source("音源运行时不支持歌单详情");
}

ArtistSearchPage SourceRuntime::searchArtists(const std::string&, MusicSource source, int,
                                              std::stop_token) {
    return ArtistSearchPage({}, 0, source, 1, 1, false);
}

ArtistSearchPage SourceRuntime::searchArtists(const std::string& query, MusicSource source,
                                              int page, int, std::stop_token stop) {
    return searchArtists(query, source, page, stop);
}

AlbumPage SourceRuntime::searchAlbums(const std::string&, MusicSource, int, int, std::stop_token) {
    throw SourceError::source("音源运行时不支持专辑搜索");
}

ArtistSummary SourceRuntime::artistDetail(const ArtistSummary& artist, std::stop_token) {
    return artist;
}

std::vector<Track> SourceRuntime::artistPopularTracks(const ArtistSummary&, std::stop_token) {
    throw SourceError::source("音源运行时不支持歌手热门歌曲");
}

AlbumPage SourceRuntime::artistAlbums(const ArtistSummary&, int, std::stop_token) {
    throw SourceError::source("音源运行时不支持歌手专辑");
}

AlbumDetail SourceRuntime::albumTracks(const AlbumSummary&, std::stop_token) {
    throw SourceError::source("音源运行时不支持专辑曲目");
}

Track SourceRuntime::trackDetail(const Track& track, std::stop_token) {
    return track;
}

}  // namespace velto
