// RoVOz answers: the HTTP status and JSON envelope checks of the API client, and the search,
// lyric and music-address answers of its NetEase and Kugou clients, with the fuzz input as
// the service's answer to every request.
#include <cstddef>
#include <cstdint>
#include <memory>

#include "FuzzCheck.h"
#include "FuzzReply.h"
#include "foundation/text/BoundedJson.h"
#include "foundation/Log.h"
#include "playback/LRCParser.h"
#include "sources/rovoz/ChkszAPIClient.h"
#include "sources/rovoz/ChkszKugouClient.h"
#include "sources/rovoz/ChkszMediaURL.h"
#include "sources/rovoz/ChkszNetEaseClient.h"
#include "sources/rovoz/ChkszSourceRuntime.h"
#include "sources/credentials/InMemoryCredentialStore.h"
#include "sources/model/SourceError.h"

using namespace velto;

namespace {

constexpr const char* apiKey = "k3y-f0r-fuzz";

class NoSleep : public Sleeper {
  public:
    void sleep(std::chrono::nanoseconds, const std::stop_token&) override {}
};

class ReplayingHTTPClient : public PlaybackHTTPClient {
  public:
    explicit ReplayingHTTPClient(const fuzz::Reply& reply) {
        response_.statusCode = reply.status;
        response_.headers = reply.headers;
        response_.body = reply.body;
        response_.bodyTruncated = reply.headers.contains("x-fuzz-truncated");
    }
    PlaybackHTTPResponse send(const PlaybackHTTPRequest& request, std::stop_token) override {
        // The key only ever travels in the query.
        FUZZ_CHECK(request.url.find(apiKey) != std::string::npos);
        return response_;
    }

  private:
    PlaybackHTTPResponse response_;
};

// Failures are source errors with a text to show; the key never shows in one.
void checkFailure(const SourceError& error) {
    FUZZ_CHECK(error.kind() == SourceError::Kind::source);
    FUZZ_CHECK(!error.message().empty());
    FUZZ_CHECK(error.message().find(apiKey) == std::string::npos);
}

template <typename Call>
void attempt(Call call) {
    try {
        call();
    } catch (const SourceError& error) {
        checkFailure(error);
    }
}

void checkPlayback(const ChkszPlaybackResult& result) {
    FUZZ_CHECK(result.url.starts_with("https:"));
    FUZZ_CHECK(chkszMediaURL(result.url) == result.url);
}

void checkPage(const SearchPage& page, MusicSource source, ChkszSourceRuntime& runtime) {
    FUZZ_CHECK(page.allPage >= 1);
    for (const auto& track : page.list) {
        FUZZ_CHECK(track.source == source && !track.songmid.empty());
        (void)track.durationSeconds();
        if (source == MusicSource::wy)
            attempt([&] { checkPlayback({runtime.picURL(track, {}), {}}); });
    }
}

Track kugouTrack(const std::string& body) {
    // The detail answer must name the song asked for, so ask for the one it names.
    std::string songmid = "0A1B2C3D4E5F";
    auto value = nlohmann::json::parse(body, nullptr, /*allow_exceptions=*/false);
    if (value.is_object() && value.contains("id")) {
        const auto& id = value["id"];
        if (id.is_string() && !id.get<std::string>().empty()) songmid = id.get<std::string>();
        if (id.is_number_integer()) songmid = id.dump();
    }
    return Track::fromRaw(MusicSource::kg,
                          {{"songmid", songmid}, {"name", "山高水长"}, {"singer", "Beyond"}});
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    Log::setSink([](Log::Level, std::string_view, std::string_view) {});
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static NoSleep noSleep;
    auto reply = fuzz::parseReply(fuzz::text(data, size));
    auto api = std::make_shared<ChkszAPIClient>(std::make_shared<ReplayingHTTPClient>(reply),
                                                std::make_shared<InMemoryCredentialStore>(apiKey),
                                                std::make_shared<ChkszCircuitBreaker>(),
                                                "https://api.rovoz.test", 8.0, noSleep);

    const bool tooDeep = BoundedJson::nestsDeeperThan(reply.body, BoundedJson::maxDepth);
    attempt([&] {
        auto body = api->request("/api/163_search", {{"keyword", "雾中河"}}, {});
        FUZZ_CHECK(body == reply.body);
        // Nesting past the limit is refused before any recursive reader sees it.
        FUZZ_CHECK(!tooDeep);
    });
    // A refused key or a rate limit holds the breaker: a fresh one for each client below.
    api = std::make_shared<ChkszAPIClient>(std::make_shared<ReplayingHTTPClient>(reply),
                                           std::make_shared<InMemoryCredentialStore>(apiKey),
                                           std::make_shared<ChkszCircuitBreaker>(),
                                           "https://api.rovoz.test", 8.0, noSleep);

    auto netease = std::make_shared<ChkszNetEaseClient>(api);
    ChkszSourceRuntime runtime(netease);
    auto song = Track::fromRaw(MusicSource::wy,
                               {{"songmid", "186016"}, {"name", "雾中河"}, {"singer", "林远舟"}});
    attempt([&] { checkPage(netease->search("雾中河", 1, 25, {}), MusicSource::wy, runtime); });
    attempt([&] {
        auto info = netease->lyric(song, {});
        (void)LRCParser::document(info.lyric, info.tlyric);
    });
    attempt([&] { checkPlayback(netease->musicURL(song, Quality::lossless, {})); });

    ChkszKugouClient kugou(
        api, [] { return std::chrono::steady_clock::now(); }, [](MusicSource) {});
    auto kugouSong = kugouTrack(reply.body);
    attempt([&] { checkPage(kugou.search("山高水长", 1, {}), MusicSource::kg, runtime); });
    attempt([&] { checkPlayback(kugou.musicURL(kugouSong, Quality::high, {})); });
    attempt([&] { (void)kugou.lyric(kugouSong, {}); });
    attempt([&] { checkPlayback({kugou.picURL(kugouSong, {}), {}}); });
    attempt([&] { FUZZ_CHECK(kugou.trackDetail(kugouSong, {}).musicID() == kugouSong.musicID()); });
    return 0;
}
