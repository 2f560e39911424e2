#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "playback/PersistedSession.h"

using namespace velto;

namespace {

Track song() {
    Track track;
    track.source = MusicSource::wy;
    track.songmid = "42";
    track.title = "雾中河";
    track.artist = "林远舟";
    track.album = "远山集";
    track.interval = "4:29";
    track.payload = R"({"id":42})";
    return track;
}

Bytes bytes(const std::string& text) {
    return Bytes(text.begin(), text.end());
}

}  // namespace

TEST(PersistedSession, CodesExactlyItsThreeKeysWithTheDateFrom2001) {
    auto savedAt = std::chrono::system_clock::time_point(std::chrono::seconds(978307200 + 1000));
    Bytes data = PersistedSession{song(), 95.5, savedAt}.encode();
    auto object = nlohmann::json::parse(data.begin(), data.end());
    ASSERT_TRUE(object.is_object());
    EXPECT_EQ(object.size(), 3u);
    EXPECT_DOUBLE_EQ(object["elapsed"].get<double>(), 95.5);
    EXPECT_DOUBLE_EQ(object["savedAt"].get<double>(), 1000.0);
    EXPECT_EQ(object["track"]["songmid"], "42");

    auto decoded = PersistedSession::decode(data);
    ASSERT_TRUE(decoded);
    EXPECT_EQ(decoded->track, song());
    EXPECT_DOUBLE_EQ(decoded->elapsed, 95.5);
    EXPECT_EQ(decoded->savedAt, savedAt);
}

TEST(PersistedSession, RefusesIncompleteOrMistypedData) {
    auto track = song().toJSON();
    auto encode = [](const nlohmann::json& value) { return bytes(value.dump()); };
    EXPECT_FALSE(PersistedSession::decode(bytes("not json")));
    EXPECT_FALSE(PersistedSession::decode(encode(nlohmann::json::array())));
    EXPECT_FALSE(PersistedSession::decode(encode({{"track", track}, {"elapsed", 1}})));
    EXPECT_FALSE(PersistedSession::decode(encode({{"track", track}, {"savedAt", 1}})));
    EXPECT_FALSE(
        PersistedSession::decode(encode({{"track", track}, {"elapsed", "1"}, {"savedAt", 1}})));
    EXPECT_FALSE(PersistedSession::decode(
        encode({{"track", {{"source", "wy"}}}, {"elapsed", 1}, {"savedAt", 1}})));
    EXPECT_TRUE(
        PersistedSession::decode(encode({{"track", track}, {"elapsed", 1}, {"savedAt", -5}})));
}

TEST(PersistedSession, RefusesADateTheClockCannotHold) {
    // Found by fuzzing: a date some thousand years out overflowed the conversion to the clock.
    auto encode = [](double savedAt) {
        return bytes(
            nlohmann::json{{"track", song().toJSON()}, {"elapsed", 83.5}, {"savedAt", savedAt}}
                .dump());
    };
    EXPECT_FALSE(PersistedSession::decode(encode(32393206172.678)));
    EXPECT_FALSE(PersistedSession::decode(encode(-32393206172.678)));
    EXPECT_FALSE(PersistedSession::decode(encode(1e300)));
    // Decades either way still read.
    auto decades = PersistedSession::decode(encode(60.0 * 365 * 86400));
    ASSERT_TRUE(decades);
    EXPECT_DOUBLE_EQ(PersistedSession::secondsSinceReferenceDate(decades->savedAt),
                     60.0 * 365 * 86400);
    EXPECT_TRUE(PersistedSession::decode(encode(-60.0 * 365 * 86400)));
}
