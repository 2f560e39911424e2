#include <gtest/gtest.h>

#include <functional>
#include <nlohmann/json.hpp>
#include <string>

#include "library/online/OnlinePlaylistImportError.h"
#include "library/online/OnlinePlaylistImportService.h"
#include "library/exchange/PlaylistBackup.h"
#include "library/exchange/PlaylistBackupError.h"
#include "platform/HttpClient.h"
#include "sources/RecordingChkszAPI.h"
#include "sources/credentials/InMemoryCredentialStore.h"
#include "sources/model/SourceError.h"
#include "sources/resolving/URLSessionPlaybackHTTPClient.h"
#include "sources/rovoz/ChkszAPIClient.h"
#include "support/FakeHttpServer.h"

namespace velto {
namespace {

using nlohmann::json;
using Kind = OnlinePlaylistImportError::Kind;

class FixedShareLinks : public PlaylistShareLinkResolving {
public:
    std::string target;
    std::vector<std::string> asked;
    std::string resolve(const std::string& link, std::stop_token) override {
        asked.push_back(link);
        return target;
    }
};

json song(json id, std::string name = "雾中河") {
    return {{"id", std::move(id)}, {"name", std::move(name)}, {"ar", {{{"name", "林远舟"}}}}, {"dt", 245000}};
}

std::string answer(json tracks, json trackCount, json id = 123, json name = "夜行") {
    return json({{"code", 200},
                 {"data", {{"id", std::move(id)}, {"name", std::move(name)}, {"tracks", std::move(tracks)},
                           {"trackCount", std::move(trackCount)}}}})
        .dump();
}

json with(json base, const json& change) {
    base.update(change);
    return base;
}
json without(json base, const char* key) {
    base.erase(key);
    return base;
}

// The import error kind `call` throws, or none when it succeeds.
std::optional<Kind> importErrorOf(const std::function<void()>& call) {
    try {
        call();
    } catch (const OnlinePlaylistImportError& error) {
        return error.kind();
    }
    return std::nullopt;
}

class OnlinePlaylistImportServiceTest : public ::testing::Test {
protected:
    std::shared_ptr<RecordingChkszAPI> api = std::make_shared<RecordingChkszAPI>();
    std::shared_ptr<FixedShareLinks> links = std::make_shared<FixedShareLinks>();
    OnlinePlaylistImportService service{api, links};

    OnlinePlaylistPreview preview(const std::string& body, const std::string& text = "123") {
        api->answer(body);
        return service.preview(text, MusicSource::wy, {});
    }

    std::optional<Kind> failure(const std::string& body) {
        return importErrorOf([&] { preview(body); });
    }
};

TEST_F(OnlinePlaylistImportServiceTest, SourcesAndShortLinks) {
    EXPECT_EQ(preview(answer(json::array({song(1)}), 1)).reference, (OnlinePlaylistReference{MusicSource::wy, "123"}));
    EXPECT_EQ(api->calls[0].path, "/api/163_playlist");
    EXPECT_EQ(api->calls[0].parameters, (std::map<std::string, std::string>{{"id", "123"}}));
    // Switched-off sources stop before any network access; a local identifier is no playlist.
    EXPECT_THROW(service.preview("123", MusicSource::local, {}), OnlinePlaylistImportError);
    EXPECT_THROW(service.preview("https://url.cn/abc", MusicSource::wy, {}), SourceError);
    EXPECT_THROW(service.preview("5", MusicSource::tx, {}), SourceError);
    EXPECT_TRUE(links->asked.empty());
    EXPECT_EQ(api->calls.size(), 1u);

    links->target = "https://music.163.com/playlist?id=00123&userid=9";
    EXPECT_EQ(preview(answer(json::array(), 0), "分享 http://163cn.tv/Ab1").reference.id, "123");
    EXPECT_EQ(links->asked, std::vector<std::string>{"https://163cn.tv/Ab1"});
    links->target = "https://163cn.tv/Ab1";  // not followed anywhere
    EXPECT_THROW(service.preview("http://163cn.tv/Ab1", MusicSource::wy, {}), OnlinePlaylistImportError);
}

TEST_F(OnlinePlaylistImportServiceTest, AnswerStructureAndLimits) {
    const json five = json::array({song(1)});
    std::string exact = answer(five, 1);
    exact += std::string(OnlinePlaylistImportService::maximumBodyBytes - exact.size(), ' ');
    json many = json::array();
    for (int i = 1; i <= 5000; ++i) many.push_back(song(i));
    json tooMany = many;
    tooMany.push_back(song(5001));
    const std::pair<std::string, std::optional<Kind>> cases[] = {
        {answer(five, 1, "00123"), std::nullopt},
        {answer(five, 1, 124), Kind::unavailable},
        {answer(five, 1, nullptr), Kind::unavailable},
        {answer(five, "7"), std::nullopt},
        {answer(five, -1), Kind::unavailable},
        {answer(five, 2.5), Kind::unavailable},
        {answer(five, nullptr), Kind::unavailable},
        {answer(five, 5001), Kind::tooLarge},
        {answer(many, 5000), std::nullopt},
        {answer(tooMany, 1), Kind::tooLarge},  // delivered entries count even when the total is low
        {answer(five, 1, 123, 7), Kind::unavailable},
        {answer(five, 1, 123, " \n "), Kind::invalidResponse},
        {answer("tracks", 1), Kind::unavailable},
        {R"({"data":[]})", Kind::unavailable},
        {"[1]", Kind::unavailable},
        {exact, std::nullopt},
        {exact + " ", Kind::tooLarge},
    };
    for (const auto& [body, expected] : cases) EXPECT_EQ(failure(body), expected) << body.substr(0, 120);

    EXPECT_THROW(preview("<html>"), OnlinePlaylistJSONError);
    // A name a backup refuses fails the preview the same way.
    EXPECT_THROW(preview(answer(five, 1, 123, std::string(513, 'n'))), PlaylistBackupError);
}

TEST_F(OnlinePlaylistImportServiceTest, EntriesCountsAndSongFields) {
    const json artists = {{{"name", "甲"}}, {{"name", ""}}, {{"name", "乙"}}};
    const auto read = preview(answer(
        json::array({song(1), "not a song", without(song(4), "ar"), song("0001"),
                     with(without(song(5), "ar"), {{"artists", artists}}),
                     with(song(6), {{"ar", "林远舟"}, {"artists", artists}}),
                     with(song(7), {{"al", {{"name", "远山"}, {"picUrl", "http://p.example/c.jpg?s=2#x"}}}, {"dt", 61999}}),
                     with(without(song(8), "dt"), {{"al", {{"picUrl", "/c.jpg"}}}, {"duration", "4500000"}})}),
        10));
    EXPECT_EQ(std::make_tuple(read.remoteTrackCount, read.missingTrackCount, read.invalidTrackCount,
                              read.duplicateTrackCount, read.isIncomplete()),
              std::make_tuple(10, 2, 3, 1, true));
    ASSERT_EQ(read.tracks.size(), 4u);
    EXPECT_EQ(read.tracks[0].interval, "4:05");
    EXPECT_EQ(read.tracks[1].artist, "甲、乙");
    EXPECT_EQ(read.tracks[2].interval, "1:01");
    EXPECT_EQ(read.tracks[2].album, "远山");
    EXPECT_EQ(json::parse(read.tracks[2].payload)["img"], "https://p.example/c.jpg");
    EXPECT_EQ(read.tracks[3].interval, "75:00");
    EXPECT_FALSE(json::parse(read.tracks[3].payload).contains("img"));

    const auto extra = preview(answer(
        json::array({song(1), with(song(9), {{"ar", {{{"name", ""}}}}}), with(song(2), {{"dt", 0}})}), 1, 123, " 夜行 "));
    EXPECT_EQ(extra.name, "夜行");
    EXPECT_EQ(std::make_tuple(extra.remoteTrackCount, extra.missingTrackCount, extra.invalidTrackCount),
              std::make_tuple(3, 0, 1));
    EXPECT_EQ(extra.tracks[1].interval, std::nullopt);
    EXPECT_EQ(PlaylistBackup::decode(extra.backupData()).tracks, extra.tracks);
}

TEST(OnlinePlaylistImportLoopbackTest, ReadsThePlaylistFromTheService) {
    FakeHttpServer server;
    std::string body = answer(json::array({song(1), song(2)}), 2);
    server.get("/api/163_playlist", [&body](const httplib::Request&, httplib::Response& response) {
        response.set_content(body, "application/json");
    });
    HttpSession session;
    auto api = std::make_shared<ChkszAPIClient>(std::make_shared<URLSessionPlaybackHTTPClient>(session),
                                                std::make_shared<InMemoryCredentialStore>("k3y"),
                                                std::make_shared<ChkszCircuitBreaker>(), server.baseURL());
    OnlinePlaylistImportService service(api, std::make_shared<FixedShareLinks>());
    EXPECT_EQ(service.preview("https://music.163.com/#/playlist?id=123", MusicSource::wy, {}).tracks.size(), 2u);
    ASSERT_EQ(server.requests().size(), 1u);
    EXPECT_EQ(server.requests()[0].param("id"), "123");
    EXPECT_EQ(server.requests()[0].param("apikey"), "k3y");

    // An answer past the limit (and past the client's usual cut) is refused as too large.
    body = answer(json::array({song(1)}), 1, 123, std::string(std::size_t{17} << 20, 'n'));
    EXPECT_EQ(importErrorOf([&] { service.preview("123", MusicSource::wy, {}); }), Kind::tooLarge);
}

}  // namespace
}  // namespace velto
