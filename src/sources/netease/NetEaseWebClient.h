#pragma once

#include <any>
#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <nlohmann/json.hpp>
#include <optional>
#include <stdexcept>
#include <stop_token>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "foundation/Cancellation.h"
#include "sources/credentials/NetEaseCookieStore.h"
#include "sources/model/SourceRecords.h"
#include "sources/model/Track.h"

namespace velto {

class HttpSession;
struct HttpRequest;

// The one client of the NetEase Cloud Music web interface. Its own HTTP session (no shared
// connections, no cookie jar); a short memo of artist and album pages. The memo is guarded by a
// mutex that is never held while a request waits for the network, so requests overlap.
class NetEaseWebClient {
  public:
    static constexpr std::string_view defaultBaseURL = "https://music.163.com";

    class Failure : public std::runtime_error {
      public:
        enum class Kind { http, api, malformed, missingCookie };

        static Failure http(int status);
        static Failure api(std::int64_t code, std::string message);
        static Failure malformed(std::string text);
        static Failure missingCookie();

        Kind kind() const { return kind_; }
        // The HTTP status (http) or the service's code (api); 0 otherwise.
        std::int64_t code() const { return code_; }
        // The service's message (api) or the path or reason (malformed).
        const std::string& detail() const { return detail_; }

      private:
        Failure(Kind kind, std::int64_t code, std::string detail, const std::string& text);
        Kind kind_;
        std::int64_t code_;
        std::string detail_;
    };

    // What the service says about a stream it delivers.
    struct TrackQuality {
        std::string level;
        std::int64_t bitrate = 0;
        std::optional<std::int64_t> size;
        std::optional<std::string> format;
        bool operator==(const TrackQuality&) const = default;
    };

    struct SongSearch {
        std::vector<Track> tracks;
        std::int64_t total = 0;
    };
    struct ArtistSearch {
        std::vector<ArtistSummary> artists;
        std::int64_t total = 0;
    };
    struct AlbumSearch {
        std::vector<AlbumSummary> albums;
        std::int64_t total = 0;
    };
    struct PlaylistSearch {
        std::vector<PlaylistSummary> playlists;
        std::int64_t total = 0;
    };
    struct ArtistPage {
        ArtistSummary artist;
        std::vector<Track> tracks;
    };
    struct PlayableURL {
        std::string url;
        TrackQuality quality;
    };
    struct Account {
        std::string nickname;
        std::int64_t vipType = 0;
    };

    using Clock = std::function<std::chrono::steady_clock::time_point()>;

    struct Options {
        std::string baseURL = std::string(defaultBaseURL);
        Clock clock;                 // the memo's clock; steady_clock when empty
        Sleeper* sleeper = nullptr;  // the pause before the retry; a real wait when null
    };

    NetEaseWebClient(NetEaseCookieStore cookieStore, Options options);
    explicit NetEaseWebClient(NetEaseCookieStore cookieStore)
        : NetEaseWebClient(std::move(cookieStore), Options{}) {}
    ~NetEaseWebClient();
    NetEaseWebClient(const NetEaseWebClient&) = delete;
    NetEaseWebClient& operator=(const NetEaseWebClient&) = delete;

    const std::string& baseURL() const { return baseURL_; }
    // Entries in the memo, expired ones included until they are purged.
    std::size_t cachedEntryCount();

    // Endpoints. Each is one GET; failures are Failure, HttpError (transport, after one retry;
    // an answer over the body limit without a retry) and CancellationError.
    SongSearch searchSongs(const std::string& keyword, std::int64_t limit, std::int64_t offset,
                           std::stop_token stop = {});
    ArtistSearch searchArtists(const std::string& keyword, std::int64_t limit, std::int64_t offset,
                               std::stop_token stop = {});
    AlbumSearch searchAlbums(const std::string& keyword, std::int64_t limit, std::int64_t offset,
                             std::stop_token stop = {});
    PlaylistSearch searchPlaylists(const std::string& keyword, std::int64_t limit,
                                   std::int64_t offset, std::stop_token stop = {});
    std::vector<std::string> hotSearches(std::size_t limit, std::stop_token stop = {});
    std::vector<std::string> searchSuggestions(const std::string& keyword, std::size_t limit,
                                               std::stop_token stop = {});
    // `page` and `limit` change nothing: the service always answers the popular songs.
    ArtistPage artist(const std::string& id, std::int64_t page, std::int64_t limit,
                      std::stop_token stop = {});
    std::vector<AlbumSummary> artistAlbums(const std::string& id, std::int64_t limit,
                                           std::int64_t offset, std::stop_token stop = {});
    AlbumDetail album(const std::string& id, std::stop_token stop = {});
    std::vector<Track> songDetail(const std::vector<std::string>& ids, std::stop_token stop = {});
    LyricInfo lyric(const std::string& id, std::stop_token stop = {});
    std::map<std::string, nlohmann::json> privileges(const std::vector<std::string>& ids,
                                                     std::stop_token stop = {});
    TrackQuality songURL(const std::string& id, const std::string& level,
                         const std::string& encodeType, std::stop_token stop = {});
    PlayableURL playableURL(const std::string& id, const std::string& level,
                            const std::string& encodeType, std::stop_token stop = {});
    PlaylistDetail playlistDetail(const std::string& id, std::int64_t limit,
                                  std::stop_token stop = {});
    Account account(std::stop_token stop = {});

    using Query = std::vector<std::pair<std::string, std::string>>;
    // The request one attempt sends for `path` and `query`: its headers, its limits and the
    // cookie as the store gives it now.
    HttpRequest request(const std::string& path, const Query& query) const;

    // Record parsing; pure, never failing: an unusable object gives none.
    static std::optional<std::int64_t> intValue(const nlohmann::json* value);
    static std::optional<Track> trackFrom(const nlohmann::json& song);
    static nlohmann::json qualityTypes(const nlohmann::json& song);
    static std::optional<ArtistSummary> artistFrom(const nlohmann::json& object);
    static std::optional<AlbumSummary> albumFrom(const nlohmann::json& object);
    static std::optional<PlaylistSummary> playlistFrom(const nlohmann::json& object);
    static std::string dateString(std::int64_t milliseconds);
    // A stream address with a host and an http or https scheme, answered as https.
    static std::optional<std::string> mediaURL(std::string_view text);

  private:
    struct CacheEntry {
        std::any value;
        std::chrono::steady_clock::time_point expiresAt;
    };

    // Everything but the unreserved characters percent-encoded; for query items and path ids.
    static std::string percentEncoded(std::string_view text);
    std::optional<std::string> usableCookie() const;
    HttpRequest request(const std::string& path, const Query& query,
                        const std::optional<std::string>& cookie) const;
    nlohmann::json get(const std::string& path, const Query& query, std::stop_token stop);
    nlohmann::json performGet(const std::string& path, const Query& query,
                              const std::stop_token& stop);
    std::optional<std::any> cachedValue(const std::string& key);
    void store(std::any value, const std::string& key, std::chrono::seconds ttl);
    std::chrono::steady_clock::time_point now() const;

    std::unique_ptr<HttpSession> session_;
    NetEaseCookieStore cookieStore_;
    std::string baseURL_;
    Clock clock_;
    Sleeper* sleeper_;

    std::mutex cacheMutex_;
    std::map<std::string, CacheEntry> cache_;
};

}  // namespace velto
