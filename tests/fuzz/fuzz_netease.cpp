// NetEase web answers: the record parsers on their own, and every endpoint end to end over a
// loopback HTTP server that answers with the fuzz input.
#include <httplib.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>

#include "FuzzCheck.h"
#include "FuzzReply.h"
#include "foundation/text/BoundedJson.h"
#include "foundation/Log.h"
#include "platform/HttpClient.h"
#include "sources/netease/NetEaseRuntimeDecorator.h"
#include "sources/netease/NetEaseWebClient.h"
#include "sources/model/SourceError.h"
#include "sources/model/SourceReleaseDate.h"
#include "sources/model/TrackQualityOption.h"
#include "sources/model/WebAddress.h"

using namespace velto;

namespace {

class NoSleep : public Sleeper {
  public:
    void sleep(std::chrono::nanoseconds, const std::stop_token&) override {}
};

std::mutex replyMutex;
fuzz::Reply currentReply;
httplib::Server* server = nullptr;
std::thread* serverThread = nullptr;
std::shared_ptr<NetEaseWebClient> client;
std::shared_ptr<NetEaseRuntimeDecorator> runtime;

// The RoVOz side behind the decorator, failing whenever it is asked.
class FailingRuntime : public SourceRuntime {
  public:
    SearchPage search(const std::string&, MusicSource, int, std::stop_token) override {
        throw SourceError::source("RoVOz 网易搜索返回数据异常");
    }
    LyricInfo lyric(const Track&, std::stop_token) override {
        throw SourceError::source("RoVOz 网易歌词返回数据异常");
    }
    std::string picURL(const Track&, std::stop_token) override {
        throw SourceError::source("网易云歌曲暂无封面");
    }
    std::vector<std::string> tipSearch(const std::string&, std::stop_token) override {
        throw SourceError::source("RoVOz 返回 JSON 异常");
    }
};

void stopServer() {
    server->stop();
    serverThread->join();
}

void checkTrack(const Track& track) {
    FUZZ_CHECK(track.source == MusicSource::wy);
    FUZZ_CHECK(!track.songmid.empty());
    (void)track.isPlayable();
    (void)track.durationSeconds();
    auto options = TrackQualityOption::available(track);
    for (const auto& option : options) FUZZ_CHECK(option.quality != Quality::master);
}

void checkDate(std::int64_t milliseconds) {
    auto date = NetEaseWebClient::dateString(milliseconds);
    // Within the years the release-date rule reads, both ways of reading a date agree.
    if (milliseconds >= -62135596800000 && milliseconds < 253402300800000) {
        FUZZ_CHECK(SourceReleaseDate::normalizedString(date) == date);
    }
}

void checkAddress(const std::string& text) {
    if (auto address = NetEaseWebClient::mediaURL(text)) {
        FUZZ_CHECK(address->starts_with("https:"));
        FUZZ_CHECK(NetEaseWebClient::mediaURL(*address) == address);
        auto parsed = WebAddress::parse(*address);
        FUZZ_CHECK(parsed && !parsed->host.empty());
    }
}

// Every object inside the answer through every record parser, as the endpoints hand them on.
void parseRecords(const nlohmann::json& value, int& budget) {
    if (--budget < 0) return;
    if (value.is_string()) {
        checkAddress(value.get<std::string>());
        return;
    }
    if (auto number = NetEaseWebClient::intValue(&value)) checkDate(*number);
    if (!value.is_structured()) return;
    if (value.is_object()) {
        if (auto track = NetEaseWebClient::trackFrom(value)) {
            checkTrack(*track);
            auto raw = nlohmann::json::parse(track->payload);
            FUZZ_CHECK(raw["types"] == NetEaseWebClient::qualityTypes(value));
        }
        if (auto artist = NetEaseWebClient::artistFrom(value)) FUZZ_CHECK(!artist->id.empty());
        if (auto album = NetEaseWebClient::albumFrom(value)) FUZZ_CHECK(!album->name.empty());
        if (auto playlist = NetEaseWebClient::playlistFrom(value))
            FUZZ_CHECK(!playlist->id.empty());
    }
    for (const auto& element : value) parseRecords(element, budget);
}

using Endpoint = void (*)(NetEaseWebClient&);

void tracksOf(const std::vector<Track>& tracks) {
    for (const auto& track : tracks) checkTrack(track);
}

const std::pair<const char*, Endpoint> endpoints[] = {
    {"searchSongs", [](NetEaseWebClient& c) { tracksOf(c.searchSongs("雾中河", 30, 0).tracks); }},
    {"searchArtists", [](NetEaseWebClient& c) { (void)c.searchArtists("林远舟", 30, 0); }},
    {"searchAlbums", [](NetEaseWebClient& c) { (void)c.searchAlbums("范特西", 30, 0); }},
    {"searchPlaylists", [](NetEaseWebClient& c) { (void)c.searchPlaylists("华语", 30, 0); }},
    {"hotSearches",
     [](NetEaseWebClient& c) {
         auto texts = c.hotSearches(10);
         FUZZ_CHECK(texts.size() <= 10);
         for (const auto& text : texts) FUZZ_CHECK(!text.empty());
     }},
    {"searchSuggestions",
     [](NetEaseWebClient& c) { FUZZ_CHECK(c.searchSuggestions("晴", 8).size() <= 8); }},
    {"artist",
     [](NetEaseWebClient& c) {
         static std::uint64_t next = 0;
         tracksOf(c.artist(std::to_string(++next), 1, 50).tracks);
     }},
    {"artistAlbums", [](NetEaseWebClient& c) { (void)c.artistAlbums("6452", 30, 0); }},
    {"album",
     [](NetEaseWebClient& c) {
         static std::uint64_t next = 0;
         tracksOf(c.album(std::to_string(++next)).tracks);
     }},
    {"songDetail",
     [](NetEaseWebClient& c) {
         tracksOf(c.songDetail({"186016", "5257138"}));
     }},
    {"lyric", [](NetEaseWebClient& c) { FUZZ_CHECK(!c.lyric("186016").lyric.empty()); }},
    {"privileges", [](NetEaseWebClient& c) { (void)c.privileges({"186016"}); }},
    {"songURL", [](NetEaseWebClient& c) { (void)c.songURL("186016", "lossless", "flac"); }},
    {"playableURL",
     [](NetEaseWebClient& c) {
         auto playable = c.playableURL("186016", "exhigh", "mp3");
         FUZZ_CHECK(playable.url.starts_with("https:"));
     }},
    {"playlistDetail",
     [](NetEaseWebClient& c) {
         auto detail = c.playlistDetail("3778678", 1000);
         tracksOf(detail.list);
         FUZZ_CHECK(!detail.hasMore());
     }},
    {"account", [](NetEaseWebClient& c) { (void)c.account(); }},
    // The runtime the program talks to, on the same answers.
    {"runtimeArtists",
     [](NetEaseWebClient&) {
         auto page = runtime->searchArtists("林远舟", MusicSource::wy, 2, 30, {});
         FUZZ_CHECK(page.page >= 1 && page.limit >= 1);
         FUZZ_CHECK(page.total >= std::int64_t(page.list.size()));
         if (page.list.empty()) FUZZ_CHECK(!page.hasMore);
     }},
    {"runtimeAlbums",
     [](NetEaseWebClient&) { (void)runtime->searchAlbums("范特西", MusicSource::wy, 3, 20, {}); }},
    {"runtimePlaylists",
     [](NetEaseWebClient&) { (void)runtime->playlistSearch("华语", MusicSource::wy, 1, {}); }},
    {"runtimeArtist",
     [](NetEaseWebClient&) {
         static std::uint64_t next = 0;
         auto artist = ArtistSummary::make(std::to_string(++next), MusicSource::wy, "林远舟",
                                           std::nullopt, std::nullopt, std::nullopt);
         try {
             artist = runtime->artistDetail(artist, {});
         } catch (const NetEaseWebClient::Failure&) {
         }
         tracksOf(runtime->artistPopularTracks(artist, {}));
         (void)runtime->artistAlbums(artist, 2, {});
     }},
    {"runtimeAlbum",
     [](NetEaseWebClient&) {
         static std::uint64_t next = 0;
         auto album = AlbumSummary::make(std::to_string(++next), MusicSource::wy, "远山集", "",
                                         std::nullopt, std::nullopt, std::nullopt);
         tracksOf(runtime->albumTracks(album, {}).tracks);
     }},
    {"runtimePlaylist",
     [](NetEaseWebClient&) {
         tracksOf(runtime->playlistDetail(MusicSource::wy, "3778678", 1, {}).list);
     }},
    {"runtimeLyric",
     [](NetEaseWebClient&) {
         auto song = Track::fromRaw(
             MusicSource::wy, {{"songmid", "186016"}, {"name", "雾中河"}, {"singer", "林远舟"}});
         (void)runtime->lyric(song, {});
     }},
    {"runtimeDetail",
     [](NetEaseWebClient&) {
         auto song = Track::fromRaw(
             MusicSource::wy, {{"songmid", "186016"}, {"name", "雾中河"}, {"singer", "林远舟"}});
         auto detail = runtime->trackDetail(song, {});
         checkTrack(detail);
         if (auto cover = NetEaseRuntimeDecorator::payloadCoverURL(detail))
             FUZZ_CHECK(!cover->empty());
     }},
    {"runtimeSuggestions",
     [](NetEaseWebClient&) {
         (void)runtime->tipSearch("晴", {});
         (void)runtime->hotSearch(MusicSource::wy, {});
     }},
};

void callEndpoint(const fuzz::Reply& reply) {
    const auto count = std::size(endpoints);
    std::size_t index = std::hash<std::string>{}(reply.body) % count;
    for (std::size_t i = 0; i < count; ++i)
        if (reply.word == endpoints[i].first) index = i;
    {
        std::lock_guard lock(replyMutex);
        currentReply = reply;
        // Informational answers would leave the client waiting for the final one.
        if (currentReply.status < 200) currentReply.status = 200;
    }
    try {
        endpoints[index].second(*client);
        // Nesting past the limit is refused before any recursive reader sees it. The runtime's
        // calls fall back or give up quietly, so only the client's own calls must fail.
        if (!std::string_view(endpoints[index].first).starts_with("runtime"))
            FUZZ_CHECK(!BoundedJson::nestsDeeperThan(reply.body, BoundedJson::maxDepth));
    } catch (const NetEaseWebClient::Failure& failure) {
        FUZZ_CHECK(std::string_view(failure.what()).starts_with("网易云"));
    } catch (const SourceError& error) {
        FUZZ_CHECK(!error.message().empty());
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    Log::setSink([](Log::Level, std::string_view, std::string_view) {});
    server = new httplib::Server;
    server->set_keep_alive_max_count(1 << 30);
    server->set_tcp_nodelay(true);
    server->Get(".*", [](const httplib::Request&, httplib::Response& response) {
        std::lock_guard lock(replyMutex);
        response.status = currentReply.status;
        response.set_content(currentReply.body, "application/json");
    });
    int port = server->bind_to_any_port("127.0.0.1");
    serverThread = new std::thread([] { server->listen_after_bind(); });
    while (!server->is_running()) std::this_thread::yield();
    std::atexit(stopServer);

    static std::atomic<std::int64_t> hours{0};
    static NoSleep noSleep;
    NetEaseWebClient::Options options;
    options.baseURL = "http://127.0.0.1:" + std::to_string(port);
    // Every look at the clock is an hour later, so the memo never answers in place of the server.
    options.clock = [] {
        return std::chrono::steady_clock::time_point(std::chrono::hours(++hours % (1 << 20)));
    };
    options.sleeper = &noSleep;
    NetEaseCookieStore cookies(nullptr, nullptr, "/nonexistent",
                               [](const std::string&) { return std::string("00A1B2C3"); });
    client = std::make_shared<NetEaseWebClient>(std::move(cookies), std::move(options));
    runtime = std::make_shared<NetEaseRuntimeDecorator>(std::make_shared<FailingRuntime>(), client);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    auto reply = fuzz::parseReply(fuzz::text(data, size));
    // Read as the client reads it: the record parsers never see anything deeper.
    auto value = BoundedJson::parse(reply.body);
    if (!value.is_discarded()) {
        int budget = 256;
        parseRecords(value, budget);
    }
    callEndpoint(reply);
    return 0;
}
