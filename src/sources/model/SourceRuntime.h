#pragma once

#include <optional>
#include <stop_token>
#include <string>
#include <vector>

#include "sources/model/MusicSource.h"
#include "sources/model/SourceRecords.h"
#include "sources/model/Track.h"

namespace velto {

// A music-source back end: everything the rest of the program asks of an online catalogue.
// Every operation blocks, may be called from any thread several at a time, and throws
// (as a rule SourceError) on failure. Four operations are required; the others have defaults
// so that a back end lacking a feature still answers. A conformer that overrides one form of
// searchArtists adds `using SourceRuntime::searchArtists;` so the other stays callable on it.
class SourceRuntime {
  public:
    virtual ~SourceRuntime() = default;

    virtual SearchPage search(const std::string& query, MusicSource source, int page,
                              std::stop_token stop) = 0;
    virtual LyricInfo lyric(const Track& track, std::stop_token stop) = 0;
    // The cover address.
    virtual std::string picURL(const Track& track, std::stop_token stop) = 0;
    virtual std::vector<std::string> tipSearch(const std::string& query, std::stop_token stop) = 0;

    virtual std::vector<std::string> hotSearch(MusicSource source, std::stop_token stop);
    virtual PlaylistCatalogPage playlistSearch(const std::string& query, MusicSource source,
                                               int page, std::stop_token stop);
    virtual PlaylistCatalogPage playlistCatalog(MusicSource source, const std::string& sortId,
                                                const std::optional<std::string>& tagId, int page,
                                                std::stop_token stop);
    virtual PlaylistDetail playlistDetail(MusicSource source, const std::string& id, int page,
                                          std::stop_token stop);
    // Default: an empty page 1 of limit 1 for the given source.
    virtual ArtistSearchPage searchArtists(const std::string& query, MusicSource source, int page,
                                           std::stop_token stop);
    // Default: the three-argument form, dropping the page size.
    virtual ArtistSearchPage searchArtists(const std::string& query, MusicSource source, int page,
                                           int limit, std::stop_token stop);
    virtual AlbumPage searchAlbums(const std::string& query, MusicSource source, int page,
                                   int limit, std::stop_token stop);
    // Default: the artist unchanged.
    virtual ArtistSummary artistDetail(const ArtistSummary& artist, std::stop_token stop);
    virtual std::vector<Track> artistPopularTracks(const ArtistSummary& artist,
                                                   std::stop_token stop);
    virtual AlbumPage artistAlbums(const ArtistSummary& artist, int page, std::stop_token stop);
    virtual AlbumDetail albumTracks(const AlbumSummary& album, std::stop_token stop);
    // Default: the track unchanged.
    virtual Track trackDetail(const Track& track, std::stop_token stop);
};

}  // namespace velto
