#include <gtest/gtest.h>

#include <functional>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>

#include "library/exchange/PlaylistBackup.h"
#include "library/exchange/PlaylistBackupError.h"
#include "support/HostileNames.h"

namespace velto {
namespace {

using nlohmann::json;
using Kind = PlaylistBackupError::Kind;

json entry() {
    return {{"source", "wy"}, {"songmid", "186016"}, {"title", "雾中河"},
            {"artist", "林远舟"}, {"album", "远山"}, {"interval", "04:05"},
            {"metadata", json::object()}};
}

json with(json base, const json& change) {
    base.update(change);
    return base;
}

json document(json tracks, json name = "我的歌单") {
    return {{"format", "velto.personal-playlist"}, {"version", 1}, {"name", std::move(name)},
            {"tracks", std::move(tracks)}};
}

// The error kind of a call, or none when it succeeds.
std::optional<Kind> failure(const std::function<void()>& call) {
    try {
        call();
    } catch (const PlaylistBackupError& error) {
        return error.kind();
    }
    return std::nullopt;
}

std::optional<Kind> decodeFailure(const std::string& bytes) {
    return failure([&] { (void)PlaylistBackup::decode(bytes); });
}

TEST(PlaylistBackupTest, SizeHeaderAndStructureInThatOrder) {
    // Exactly at the limit is read; one byte more is refused before parsing.
    std::string full = document(json::array({entry()})).dump();
    full += std::string(PlaylistBackup::maximumFileSize - full.size(), ' ');
    EXPECT_EQ(decodeFailure(full), std::nullopt);
    EXPECT_EQ(decodeFailure(full + " "), Kind::tooLarge);
    EXPECT_EQ(decodeFailure(std::string(PlaylistBackup::maximumFileSize + 1, '{')), Kind::tooLarge);

    const std::pair<std::string, std::optional<Kind>> cases[] = {
        {R"({"format":"velto.personal-playlist","version":2})", Kind::unsupportedVersion},
        {R"({"format":"velto.personal-playlist","version":1})", Kind::invalidFile},
        {R"({"format":"other","version":2})", Kind::invalidFile},
        {R"({"format":"velto.personal-playlist","version":"1","name":"a","tracks":[]})", Kind::invalidFile},
        {"not json", Kind::invalidFile},
        {std::string(100'000, '[') + std::string(100'000, ']'), Kind::invalidFile},
        // Structure before name and count: a bad source wins over a blank name.
        {document(json::array({entry(), with(entry(), {{"source", "xx"}})}), "  ").dump(),
         Kind::invalidFile},
        {document(json::array(), "  ").dump(), Kind::invalidFile},
        {document(json::array()).dump(), std::nullopt},
    };
    for (const auto& [bytes, expected] : cases) EXPECT_EQ(decodeFailure(bytes), expected) << bytes.substr(0, 80);
}

TEST(PlaylistBackupTest, NameAndCountLimits) {
    const std::string name512(512, 'n');
    const auto read = PlaylistBackup::decode(document(json::array(), " \n" + name512 + "\u3000").dump());
    EXPECT_EQ(read.name, name512);
    std::string name(511, 'n');
    name += "e\u0301";  // one character of two scalars
    EXPECT_EQ(decodeFailure(document(json::array(), name).dump()), std::nullopt);
    EXPECT_EQ(decodeFailure(document(json::array(), name + "x").dump()), Kind::invalidFile);
    // A megabyte is refused whether it makes one character or 500.
    EXPECT_EQ(decodeFailure(document(json::array(), markedLetter(1 << 20)).dump()), Kind::invalidFile);
    EXPECT_EQ(decodeFailure(document(json::array(), markedLetters(500, 2048)).dump()), Kind::invalidFile);

    json tracks = json::array();
    json small = {{"source", "wy"}, {"songmid", "1"}, {"title", "t"},
                  {"artist", ""},   {"album", ""},    {"metadata", json::object()}};
    for (int i = 0; i < 50'000; ++i) tracks.push_back(small);
    EXPECT_EQ(PlaylistBackup::decode(document(tracks).dump()).tracks.size(), 50'000u);
    tracks.push_back(small);
    EXPECT_EQ(decodeFailure(document(tracks).dump()), Kind::tooLarge);
}

TEST(PlaylistBackupTest, EntryRules) {
    const std::string long2049(2049, 'a');
    const std::pair<json, std::optional<Kind>> cases[] = {
        {{{"source", "kg"}}, std::nullopt},
        {{{"source", "qq"}}, Kind::invalidFile},
        {{{"songmid", "ab_C-9字"}}, std::nullopt},
        {{{"songmid", "a b"}}, Kind::invalidTrack},
        {{{"songmid", ""}}, Kind::invalidTrack},
        {{{"songmid", std::string(257, '1')}}, Kind::invalidTrack},
        {{{"songmid", 186016}}, Kind::invalidFile},
        {{{"title", " \n "}}, Kind::invalidTrack},
        {{{"title", long2049}}, Kind::invalidTrack},
        {{{"artist", long2049}}, Kind::invalidTrack},
        // A megabyte is refused whether it makes one character or 500.
        {{{"title", markedLetter(1 << 20)}}, Kind::invalidTrack},
        {{{"album", markedLetters(500, 2048)}}, Kind::invalidTrack},
        {{{"interval", ""}}, std::nullopt},
        {{{"interval", nullptr}}, std::nullopt},
        {{{"interval", "1:02:03"}}, std::nullopt},
        {{{"interval", "1::03"}}, Kind::invalidTrack},
        {{{"interval", "1:2:3:4"}}, Kind::invalidTrack},
        {{{"interval", "٤:٠٥"}}, Kind::invalidTrack},
        {{{"metadata", nullptr}}, Kind::invalidFile},
        {{{"metadata", {{"albumMid", ""}, {"strMediaMid", "003aBc"}}}}, std::nullopt},
        {{{"metadata", {{"songId", 42}, {"albumId", "a-1"}}}}, std::nullopt},
        {{{"metadata", {{"songId", -1}}}}, Kind::invalidTrack},
        {{{"metadata", {{"songId", 2.5}}}}, Kind::invalidFile},
        {{{"metadata", {{"types", {{{"type", "flac"}, {"size", "30MB"}}}}}}}, std::nullopt},
        {{{"metadata", {{"types", {{{"type", "999k"}}}}}}}, Kind::invalidFile},
        {{{"metadata", {{"types", {{{"type", "flac"}, {"size", std::string(65, '9')}}}}}}}, Kind::invalidTrack},
        {{{"metadata", {{"_types", {{"flac", {{"size", "9MB"}}}}}}}}, std::nullopt},
        {{{"metadata", {{"_types", {{"best", json::object()}}}}}}, Kind::invalidTrack},
        {{{"metadata", {{"img", ""}}}}, std::nullopt},
        {{{"metadata", {{"img", "ftp://p.example/a.jpg"}}}}, Kind::invalidTrack},
        {{{"metadata", {{"img", "https://u@p.example/a.jpg"}}}}, Kind::invalidTrack},
        {{{"metadata", {{"img", "https://p.example::/a.jpg"}}}}, Kind::invalidTrack},
        {{{"metadata", {{"img", "https://p.example/" + std::string(4096, 'a')}}}}, Kind::invalidTrack},
        // A local song is known by its absolute path.
        {{{"source", "local"}, {"songmid", "/home/林/音乐/a b.flac"}}, std::nullopt},
        {{{"source", "local"}, {"songmid", "music/a.flac"}}, Kind::invalidTrack},
        {{{"source", "local"}, {"songmid", "/a\tb.flac"}}, Kind::invalidTrack},
        {{{"source", "wy"}, {"songmid", "/home/a.flac"}}, Kind::invalidTrack},
    };
    for (const auto& [change, expected] : cases) {
        const json item = with(entry(), change);
        // One bad song among good ones rejects the whole file.
        EXPECT_EQ(decodeFailure(document(json::array({entry(), item, entry()})).dump()), expected) << change;
    }
}

TEST(PlaylistBackupTest, RoundTripKeepsSongsAndCleansTheirMetadata) {
    const auto read = PlaylistBackup::decode(
        document(json::array(
                     {with(entry(), {{"metadata",
                                      {{"songId", 42},
                                       {"albumId", "0042"},
                                       {"img", "HTTP://p.example:8080/a/b.jpg?x=1#top"},
                                       {"types", {{{"type", "flac"}}}}}}}),
                      with(entry(), {{"source", "local"}, {"songmid", "/音乐/x.mp3"}, {"interval", nullptr}}),
                      with(entry(), {{"title", "歌" + markedLetter(4096)}})}))
            .dump());
    ASSERT_EQ(read.tracks.size(), 3u);
    const auto payload = json::parse(read.tracks[0].payload);
    EXPECT_EQ(payload, json({{"source", "wy"}, {"songmid", "186016"}, {"name", "雾中河"}, {"singer", "林远舟"},
                             {"albumName", "远山"}, {"interval", "04:05"}, {"songId", 42}, {"albumId", "0042"},
                             {"img", "https://p.example:8080/a/b.jpg"},
                             {"types", {{{"type", "flac"}, {"size", nullptr}}}}}));
    EXPECT_EQ(read.tracks[1].musicID(), "local_/音乐/x.mp3");
    EXPECT_EQ(read.tracks[1].interval, std::nullopt);
    // A character keeps the code points a script writes, in the song and in its payload.
    const std::string kept = "歌" + markedLetter(2 * Track::mostCodePointsPerCharacter - 1);
    EXPECT_EQ(read.tracks[2].title, kept);
    EXPECT_EQ(json::parse(read.tracks[2].payload)["name"], kept);

    // Written again and read back: same songs, identifiers in the same form.
    const std::string bytes = PlaylistBackup::encode(read.name, read.tracks);
    EXPECT_EQ(bytes.find("\\/"), std::string::npos);
    EXPECT_EQ(json::parse(bytes)["tracks"][0]["metadata"]["songId"], json(42));
    EXPECT_EQ(PlaylistBackup::decode(bytes).tracks, read.tracks);
}

TEST(PlaylistBackupTest, WritingTakesMetadataFromThePayload) {
    auto track = [](json payload) {
        Track song = Track::fromRaw(MusicSource::wy, {{"songmid", "7"}, {"name", "歌"}, {"singer", "人"}});
        song.payload = payload.dump();
        return song;
    };
    auto metadataOf = [](const Track& song) {
        return json::parse(PlaylistBackup::encode("备份", {song}))["tracks"][0]["metadata"];
    };
    // Catalogue songs keep their cover under "picUrl".
    EXPECT_EQ(metadataOf(track({{"picUrl", "http://p.example/c.jpg?param=1"}})),
              json({{"img", "https://p.example/c.jpg"}}));
    EXPECT_EQ(metadataOf(track({{"img", "https://a.example/i.jpg"}, {"picUrl", "https://b.example/p.jpg"}})),
              json({{"img", "https://a.example/i.jpg"}}));
    // A bad "picUrl" only loses the cover; a bad "img" fails the export.
    EXPECT_EQ(metadataOf(track({{"picUrl", "data:image/png;base64,AA"}})), json::object());
    EXPECT_EQ(failure([&] { (void)PlaylistBackup::encode("备份", {track({{"img", "ftp://x/y"}})}); }),
              Kind::invalidTrack);

    EXPECT_EQ(metadataOf(track({{"types", {{{"type", "flac"}, {"size", 30}}, {{"type", "best"}}}},
                                {"_types", {{"flac", {{"size", "9MB"}}}, {"best", json::object()}, {"320k", 1}}},
                                {"songId", 12.0},
                                {"albumId", 1.5},
                                {"strMediaMid", 5}})),
              json({{"types", {{{"type", "flac"}}}}, {"_types", {{"flac", {{"size", "9MB"}}}}}, {"songId", 12}}));

    // The writer refuses what the reader would refuse.
    EXPECT_EQ(failure([&] { (void)PlaylistBackup::encode("备份", {track({{"songId", -3}})}); }), Kind::invalidTrack);
}

}  // namespace
}  // namespace velto
