#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <stop_token>
#include <string>
#include <vector>

#include "sources/netease/NetEaseWebClient.h"
#include "sources/model/SourceRuntime.h"

namespace velto {

// The runtime the whole program talks to: NetEase songs, artists, albums and playlists straight
// from the NetEase web interface, everything else (and song search) from the base runtime, which
// also stands in when the web answer for suggestions, hot searches, song details or lyrics fails.
// Holds no mutable state of its own.
class NetEaseRuntimeDecorator : public SourceRuntime {
  public:
    NetEaseRuntimeDecorator(std::shared_ptr<SourceRuntime> base,
                            std::shared_ptr<NetEaseWebClient> client);

    SearchPage search(const std::string& query, MusicSource source, int page,
                      std::stop_token stop) override;
    LyricInfo lyric(const Track& track, std::stop_token stop) override;
    std::string picURL(const Track& track, std::stop_token stop) override;
    std::vector<std::string> tipSearch(const std::string& query, std::stop_token stop) override;
    std::vector<std::string> hotSearch(MusicSource source, std::stop_token stop) override;
    PlaylistCatalogPage playlistSearch(const std::string& query, MusicSource source, int page,
                                       std::stop_token stop) override;
    PlaylistCatalogPage playlistCatalog(MusicSource source, const std::string& sortId,
                                        const std::optional<std::string>& tagId, int page,
                                        std::stop_token stop) override;
    PlaylistDetail playlistDetail(MusicSource source, const std::string& id, int page,
                                  std::stop_token stop) override;
    ArtistSearchPage searchArtists(const std::string& query, MusicSource source, int page,
                                   std::stop_token stop) override;
    ArtistSearchPage searchArtists(const std::string& query, MusicSource source, int page,
                                   int limit, std::stop_token stop) override;
    AlbumPage searchAlbums(const std::string& query, MusicSource source, int page, int limit,
                           std::stop_token stop) override;
    ArtistSummary artistDetail(const ArtistSummary& artist, std::stop_token stop) override;
    std::vector<Track> artistPopularTracks(const ArtistSummary& artist,
                                           std::stop_token stop) override;
    AlbumPage artistAlbums(const ArtistSummary& artist, int page, std::stop_token stop) override;
    AlbumDetail albumTracks(const AlbumSummary& album, std::stop_token stop) override;
    Track trackDetail(const Track& track, std::stop_token stop) override;

    // The request offset of a page: (max(page, 1) - 1) x limit, 0 for a negative limit. A product
    // beyond 64 bits throws SourceError rather than sending a wrapped offset.
    static std::int64_t pageOffset(std::int64_t page, std::int64_t limit);
    // The "picUrl" of the song's payload as a safe cover address (see SourceArtworkURL).
    static std::optional<std::string> payloadCoverURL(const Track& track);

  private:
    ArtistSearchPage webArtistPage(const std::string& query, int page, std::int64_t limit,
                                   std::stop_token stop);

    std::shared_ptr<SourceRuntime> base_;
    std::shared_ptr<NetEaseWebClient> client_;
};

}  // namespace velto
