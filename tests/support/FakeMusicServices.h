#pragma once

#include <atomic>
#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include "support/FakeHttpServer.h"

namespace velto {

// Both music services on one loopback HTTP server, with a small invented catalogue: the RoVOz
// API (search, lyrics, stream addresses, playlists for the import) and the NetEase web interface
// (searches of songs, artists, albums and playlists, suggestions, hot searches, artist, album
// and playlist pages, lyrics with a translation, song details, stream addresses), the songs' WAV
// streams (byte ranges honoured) and the covers. The last song's stream answers 404. Addresses
// in the answers point back at the server over plain http.
class FakeMusicServices {
  public:
    struct Song {
        std::string id;
        std::string title;
        std::string artist;
        std::string album;
        std::string lyric;        // LRC
        std::string translation;  // LRC, may be empty
    };
    struct Playlist {
        std::string id;
        std::string name;
        std::string author;
        std::vector<std::string> songIDs;
    };

    // Every song's stream is a tone `streamSeconds` long. `port` 0 takes any free one.
    explicit FakeMusicServices(double streamSeconds = 30, int port = 0);

    std::string origin() const { return server_.baseURL(); }
    const std::vector<Song>& songs() const { return songs_; }
    const std::vector<Playlist>& playlists() const { return playlists_; }
    // The song whose stream address answers 404.
    const Song& brokenSong() const { return songs_.back(); }
    // Makes the NetEase stream-address endpoint fail, so only the RoVOz path can play.
    void failNetEaseStreams(bool fail) { netEaseStreamsFail_ = fail; }
    // Makes the song searches of both services answer HTTP 500; the other scopes still answer.
    void failSongSearch(bool fail) { songSearchFails_ = fail; }
    // Streams answer the whole file to every request, like a media server without byte ranges.
    void ignoreRange(bool ignore) { ignoreRange_ = ignore; }
    // Every stream request (each byte range, each HEAD) is answered `delay` late, like a busy or
    // distant media server; the other endpoints answer at once.
    void delayMedia(std::chrono::milliseconds delay) { mediaDelay_ = delay; }
    // Writes BuildCredentials.json (a dummy RoVOz key and NetEase cookie) into `folder`.
    void writeResources(const std::filesystem::path& folder) const;
    // How often a path was asked for.
    std::size_t requestCount(const std::string& path) const;

  private:
    struct Named {
        std::string id;
        std::string name;
    };
    void serveRovoz();
    void serveNetEase();
    void serveMedia();
    std::string streamURL(const Song& song) const;
    std::string coverURL(std::size_t index) const;
    const Song* find(const std::string& id) const;
    std::vector<const Song*> matching(const std::string& keyword) const;
    std::vector<const Song*> songsWhere(const std::string Song::*field, const std::string& value) const;

    const double streamSeconds_;
    FakeHttpServer server_;
    std::vector<Song> songs_;
    std::vector<Named> artists_;
    std::vector<Named> albums_;
    std::vector<Playlist> playlists_;
    std::string wav_;
    std::vector<std::string> covers_;
    std::atomic<bool> netEaseStreamsFail_{false};
    std::atomic<bool> ignoreRange_{false};
    std::atomic<bool> songSearchFails_{false};
    std::atomic<std::chrono::milliseconds> mediaDelay_{std::chrono::milliseconds(0)};
};

}  // namespace velto
