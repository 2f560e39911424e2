#pragma once

#include <atomic>
#include <filesystem>
#include <string>
#include <vector>

#include "support/FakeHttpServer.h"

namespace velto {

// Both music services on one loopback HTTP server, with three invented songs: the RoVOz API
// (search, lyrics, stream addresses, playlists) and the NetEase web interface (search, lyrics,
// song details, stream addresses, playlists), the songs' WAV streams and one cover. Addresses
// in the answers point back at the server over plain http.
class FakeMusicServices {
  public:
    struct Song {
        std::string id;
        std::string title;
        std::string artist;
        std::string album;
        std::string lyric;  // LRC
    };

    FakeMusicServices();

    std::string origin() const { return server_.baseURL(); }
    const std::vector<Song>& songs() const { return songs_; }
    // Makes the NetEase stream-address endpoint fail, so only the RoVOz path can play.
    void failNetEaseStreams(bool fail) { netEaseStreamsFail_ = fail; }
    // Writes BuildCredentials.json (a dummy RoVOz key and NetEase cookie) into `folder`.
    void writeResources(const std::filesystem::path& folder) const;
    // How often a path was asked for.
    std::size_t requestCount(const std::string& path) const;

    static constexpr double streamSeconds = 6;

  private:
    std::string streamURL(const Song& song) const;
    std::string coverURL() const { return server_.url("/cover.jpg"); }
    const Song* find(const std::string& id) const;

    FakeHttpServer server_;
    std::vector<Song> songs_;
    std::string wav_;
    std::string jpeg_;
    std::atomic<bool> netEaseStreamsFail_{false};
};

}  // namespace velto
