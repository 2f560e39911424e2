#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "app/AppEnvironment.h"
#include "app/MacAppModel.h"
#include "AppModelFixture.h"
#include "artwork/ArtworkService.h"
#include "foundation/ManualMainQueue.h"
#include "platform/PlayerItem.h"
#include "platform/QueuePlayer.h"
#include "support/TempDir.h"

namespace velto {
namespace {

TEST(AppEnvironmentTest, ServiceOriginsAreHTTPSOrLoopbackHTTP) {
    const std::pair<const char*, std::optional<std::string>> cases[] = {
        {"https://music.example", "https://music.example"},
        {"https://music.example/", "https://music.example"},
        {"http://127.0.0.1:8400", "http://127.0.0.1:8400"},
        {"http://localhost:8400/", "http://localhost:8400"},
        {"http://[::1]:8400", "http://[::1]:8400"},
        {"http://music.example", std::nullopt},
        {"http://127.0.0.1:8400/api", std::nullopt},
        {"ftp://127.0.0.1", std::nullopt},
        {"", std::nullopt},
    };
    for (const auto& [text, expected] : cases) EXPECT_EQ(AppEnvironment::serviceOrigin(text), expected) << text;
}

}  // namespace
}  // namespace velto

namespace velto {
namespace {

// The program's own environment, pointed at temporary folders: the whole graph builds on it.
TEST(AppEnvironmentTest, SystemEnvironmentBuildsTheGraphInTheXDGFolders) {
    TempDir dir;
    const std::pair<const char*, std::string> variables[] = {
        {"XDG_DATA_HOME", (dir.path() / "data").string()},
        {"XDG_CACHE_HOME", (dir.path() / "cache").string()},
        {"XDG_CONFIG_HOME", (dir.path() / "config").string()},
        {"VELTO_RESOURCE_DIR", (dir.path() / "resources").string()},
        {"VELTO_NETEASE_BASE_URL", "http://127.0.0.1:9/"},
        {"VELTO_ROVOZ_BASE_URL", "http://music.example"},
        {"VELTO_AUDIO_SINK", "fakesink"},
    };
    for (const auto& [name, value] : variables) setenv(name, value.c_str(), 1);
    ManualMainQueue mainQueue;
    {
        auto notch = std::make_shared<RecordingNotchFactory>();
        auto env = AppEnvironment::system(mainQueue, nullptr, notch);
        EXPECT_EQ(env.neteaseOrigin, "http://127.0.0.1:9");
        EXPECT_FALSE(env.rovozOrigin);  // plain http off loopback is refused
        // Each song change hands the freed memory back, the notch views' script engine collected
        // first.
        env.player->insert(
            std::make_shared<PlayerItem>("file://" + (dir.path() / "gone.mp3").string()));
        EXPECT_TRUE(mainQueue.runUntil([&] { return notch->collected > 0; }));
        env.player->removeAllItems();
        mainQueue.runPending();
        MacAppModel model(std::move(env));
        EXPECT_TRUE(model.library());
        EXPECT_TRUE(std::filesystem::exists(dir.path() / "data" / "cn.quorvanel.velto.mac" / "Velto.store"));
        EXPECT_TRUE(model.artworkService());
        EXPECT_EQ(model.artworkService()->cacheDirectory(), dir.path() / "cache" / "cn.quorvanel.velto.mac" / "Artwork");
        model.setNotchEnabled(false);
    }
    // Settings are written on a thread of their own; the last write is waited for as they close.
    EXPECT_TRUE(std::filesystem::exists(dir.path() / "config" / "velto" / "defaults.json"));
    for (const auto& [name, value] : variables) unsetenv(name);
}

}  // namespace
}  // namespace velto
