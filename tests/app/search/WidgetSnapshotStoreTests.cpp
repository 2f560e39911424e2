#include <gtest/gtest.h>

#include <fstream>

#include "app/search/WidgetShareStore.h"
#include "support/TempDir.h"

using namespace velto;
using namespace std::chrono_literals;

namespace {

WidgetPlaybackSnapshot playing(std::int64_t favorites = 3) {
    return {"晴天", "周杰伦", "叶惠美", "320k", true, true, false, favorites,
            WidgetPlaybackSnapshot::fromSecondsSince2001(700000000.5)};
}

void writeFile(const std::filesystem::path& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

}  // namespace

TEST(WidgetPlaybackSnapshot, JsonNeedsEveryKeyButShuffle) {
    auto json = playing().toJSON();
    ASSERT_TRUE(json);
    EXPECT_EQ(WidgetPlaybackSnapshot::fromJSON(*json), playing());
    EXPECT_NE(json->find("\"updatedAt\":700000000.5"), std::string::npos);

    auto object = nlohmann::json::parse(*json);
    object.erase("isShuffleOn");
    EXPECT_FALSE(WidgetPlaybackSnapshot::fromJSON(object.dump())->isShuffleOn);
    object["isShuffleOn"] = nullptr;
    EXPECT_TRUE(WidgetPlaybackSnapshot::fromJSON(object.dump()));
    for (const char* key : {"title", "favoritesCount", "updatedAt", "hasTrack"}) {
        auto missing = object;
        missing.erase(key);
        EXPECT_FALSE(WidgetPlaybackSnapshot::fromJSON(missing.dump())) << key;
    }
    object["favoritesCount"] = "3";
    EXPECT_FALSE(WidgetPlaybackSnapshot::fromJSON(object.dump()));
}

TEST(WidgetShareStore, SavesOnceUntilSomethingButTheTimeChanges) {
    TempDir dir;
    UserDefaults defaults(dir.path() / "group.json");
    WidgetShareStore store(&defaults, dir.path() / "container");
    const auto file = dir.path() / "container" / "playback_snapshot.json";

    store.saveSnapshot(playing(), false);
    EXPECT_EQ(defaults.integerValue("velto.widget.favoritesCount"), 3);
    EXPECT_EQ(defaults.boolValue("velto.widget.hasTrack"), true);
    EXPECT_NEAR(*defaults.doubleValue("velto.widget.updatedAt"), 700000000.5 + 978307200.0, 1e-3);
    std::filesystem::remove(file);
    auto later = playing();
    later.updatedAt += 5s;
    store.saveSnapshot(later, true);
    EXPECT_FALSE(std::filesystem::exists(file));
    store.saveSnapshot(playing(4), false);
    EXPECT_TRUE(std::filesystem::exists(file));
    EXPECT_EQ(store.loadSnapshot().favoritesCount, 4);
}

TEST(WidgetShareStore, LoadingFallsThroughFileDataAndKeysToEmpty) {
    TempDir dir;
    UserDefaults defaults(dir.path() / "group.json");
    WidgetShareStore store(&defaults, dir.path());
    EXPECT_EQ(store.loadSnapshot().title, "暂无播放");
    EXPECT_EQ(store.loadSnapshot().artist, "点按开启随心听");

    // Individual keys count only with a track; a zero time reads as now.
    defaults.setString("velto.widget.title", "keys");
    defaults.setBool("velto.widget.hasTrack", false);
    EXPECT_EQ(store.loadSnapshot().title, "暂无播放");
    defaults.setBool("velto.widget.hasTrack", true);
    defaults.setDouble("velto.widget.updatedAt", 0);
    const auto before = std::chrono::system_clock::now();
    auto fromKeys = store.loadSnapshot();
    EXPECT_EQ(fromKeys.title, "keys");
    EXPECT_EQ(fromKeys.artist, "");
    EXPECT_GE(fromKeys.updatedAt, before);

    auto data = playing().toJSON();
    defaults.setData("velto.widget.playback_snapshot", Bytes(data->begin(), data->end()));
    EXPECT_EQ(store.loadSnapshot(), playing());

    auto object = nlohmann::json::parse(*data);
    object["title"] = "file";
    writeFile(dir.path() / "playback_snapshot.json", object.dump());
    EXPECT_EQ(store.loadSnapshot().title, "file");
    // A file missing a key, or nesting too deep anywhere, falls through to the data setting.
    std::string deep = object.dump();
    deep.insert(deep.size() - 1, ",\"x\":" + std::string(100000, '[') + std::string(100000, ']'));
    object.erase("favoritesCount");
    for (const std::string& text : {object.dump(), deep}) {
        writeFile(dir.path() / "playback_snapshot.json", text);
        EXPECT_EQ(store.loadSnapshot(), playing());
    }
    object["favoritesCount"] = 1;
    object["album"] = std::string(WidgetShareStore::maxSnapshotFileSize, 'x');
    writeFile(dir.path() / "playback_snapshot.json", object.dump());
    EXPECT_EQ(store.loadSnapshot(), playing());
}

TEST(WidgetShareStore, PartialStoresWriteOnlyTheirOwnPlaceAndShuffleToggles) {
    TempDir dir;
    WidgetShareStore fileOnly(nullptr, dir.path() / "files");
    EXPECT_EQ(fileOnly.userDefaults(), nullptr);
    fileOnly.toggleShuffleState();  // no track: nothing
    EXPECT_FALSE(std::filesystem::exists(dir.path() / "files" / "playback_snapshot.json"));
    fileOnly.saveSnapshot(playing(), false);
    fileOnly.toggleShuffleState();
    EXPECT_TRUE(fileOnly.loadSnapshot().isShuffleOn);

    UserDefaults defaults(dir.path() / "group.json");
    WidgetShareStore defaultsOnly(&defaults, std::nullopt);
    EXPECT_FALSE(defaultsOnly.containerURL());
    defaultsOnly.saveSnapshot(playing(), false);
    EXPECT_TRUE(defaults.dataValue("velto.widget.playback_snapshot"));
    defaultsOnly.saveArtwork("jpeg");
    EXPECT_FALSE(defaultsOnly.artworkFileURL());

    fileOnly.saveArtwork("jpeg");
    ASSERT_TRUE(fileOnly.artworkFileURL());
    EXPECT_EQ(fileOnly.artworkFileURL()->filename(), "current_artwork.jpg");
    fileOnly.clearArtwork();
    EXPECT_FALSE(fileOnly.artworkFileURL());
    fileOnly.clearArtwork();  // already gone
}
