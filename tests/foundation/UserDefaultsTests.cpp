#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "foundation/UserDefaults.h"
#include "support/TempDir.h"

using namespace velto;

TEST(UserDefaults, ValuesSurviveReopeningAndReadOnlyAsTheirOwnType) {
    TempDir dir;
    auto file = dir.path() / "velto" / "defaults.json";
    {
        UserDefaults defaults(file);
        defaults.setBool("macNotchEnabled", false);
        defaults.setInteger("playbackQualityPolicyVersion", 2);
        defaults.setDouble("macPlaybackVolume", 0.35);
        defaults.setString("playbackMode", "shuffle");
        defaults.setData("velto.playback.session", Bytes{0, 1, 2, 255});
    }
    UserDefaults defaults(file);
    EXPECT_EQ(defaults.boolValue("macNotchEnabled"), false);
    EXPECT_EQ(defaults.integerValue("playbackQualityPolicyVersion"), 2);
    EXPECT_EQ(defaults.doubleValue("macPlaybackVolume"), 0.35);
    EXPECT_EQ(defaults.stringValue("playbackMode"), "shuffle");
    EXPECT_EQ(defaults.dataValue("velto.playback.session"), (Bytes{0, 1, 2, 255}));

    // Wrong stored types read as absent; integers widen to doubles.
    EXPECT_FALSE(defaults.stringValue("macNotchEnabled"));
    EXPECT_FALSE(defaults.integerValue("macPlaybackVolume"));
    EXPECT_FALSE(defaults.boolValue("playbackQualityPolicyVersion"));
    EXPECT_FALSE(defaults.stringValue("velto.playback.session"));
    EXPECT_FALSE(defaults.dataValue("playbackMode"));
    EXPECT_EQ(defaults.doubleValue("playbackQualityPolicyVersion"), 2.0);

    defaults.remove("playbackMode");
    EXPECT_FALSE(UserDefaults(file).contains("playbackMode"));
}

TEST(UserDefaults, CorruptFileIsMovedAsideAndStartsEmpty) {
    // A value nested this deep used to overflow the stack on the first save.
    const std::string deep =
        "{\"anything\":" + std::string(100000, '[') + std::string(100000, ']') + "}";
    for (const std::string& content : {std::string("{ not json"), deep}) {
        TempDir dir;
        auto file = dir.path() / "defaults.json";
        std::ofstream(file) << content;
        UserDefaults defaults(file);
        EXPECT_FALSE(defaults.contains("anything"));
        EXPECT_TRUE(std::filesystem::exists(dir.path() / "defaults.json.corrupt"));
        defaults.setString("k", "v");
        EXPECT_EQ(UserDefaults(file).stringValue("k"), "v");
    }
}

TEST(UserDefaults, InvalidUtf8TextDoesNotLoseTheOtherSettings) {
    TempDir dir;
    auto file = dir.path() / "defaults.json";
    {
        UserDefaults defaults(file);
        defaults.setString("a", "ok");
        defaults.setString("b", std::string("bad\xff", 4));
    }
    EXPECT_EQ(UserDefaults(file).stringValue("a"), "ok");
}
