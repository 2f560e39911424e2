#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "foundation/files/UserDefaults.h"
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

namespace {

// The settings a reader must find, and the song and position along it that were last set.
struct Settled {
    std::map<std::string, std::string> settings;
    std::string song;
    int position = 0;
};

// What a power cut may leave of each file written through it: a write is followed step by step
// (written beside, renamed, the folder synced) and at each step every file may hold any text the
// cut can leave it with; a write not forced may leave it empty, or its rename lost. At each step
// every such disk is laid out for real and read back as the next start would.
class PowerCuts {
  public:
    explicit PowerCuts(std::filesystem::path file) : file_(std::move(file)) {}

    UserDefaults::Writer writer() {
        return [this](const std::filesystem::path& file, std::string_view text,
                      Durability durability) {
            // A file never written is absent.
            auto& texts =
                disk_.try_emplace(file.filename().string(), std::set{std::optional<std::string>()})
                    .first->second;
            const std::string written(text);
            cutAt("written beside, not renamed");
            std::set<std::optional<std::string>> renamed = texts;
            renamed.insert(written);
            if (durability == Durability::deferred) renamed.insert(std::string());
            texts = renamed;
            cutAt("renamed, folder not synced");
            if (durability == Durability::forced) texts = {written};
            cutAt("done");
        };
    }

    // The change about to be made: readers may find the settings as before it or after it.
    void expect(Settled before, Settled after) {
        before_ = std::move(before);
        after_ = std::move(after);
    }

    int disksRead() const { return disksRead_; }

  private:
    void cutAt(const std::string& step) {
        std::vector<std::pair<std::string, std::vector<std::optional<std::string>>>> files;
        for (const auto& [name, texts] : disk_)
            files.emplace_back(name, std::vector(texts.begin(), texts.end()));
        std::vector<std::size_t> pick(files.size(), 0);
        for (;;) {
            TempDir dir;
            std::string laidOut;
            for (std::size_t i = 0; i < files.size(); ++i) {
                const auto& text = files[i].second[pick[i]];
                laidOut += files[i].first + (text ? " holding " + std::to_string(text->size()) +
                                                        " bytes; "
                                                  : " absent; ");
                if (text) std::ofstream(dir.path() / files[i].first, std::ios::binary) << *text;
            }
            check(UserDefaults(dir.path() / file_.filename()), step + ": " + laidOut);
            ++disksRead_;
            std::size_t i = 0;
            while (i < pick.size() && ++pick[i] == files[i].second.size()) pick[i++] = 0;
            if (i == pick.size()) return;
        }
    }

    void check(const UserDefaults& read, const std::string& where) {
        std::map<std::string, std::string> settings;
        for (const auto* key : {"volume", "mode", "notch"})
            if (auto value = read.stringValue(key)) settings[key] = *value;
        EXPECT_TRUE(settings == before_.settings || settings == after_.settings) << where;
        const auto data = read.dataValue("session");
        if (!data && before_.song.empty()) return;  // nothing played yet
        ASSERT_TRUE(data) << where;
        const std::string session(data->begin(), data->end());
        const auto at = session.find('@');
        ASSERT_NE(at, std::string::npos) << where;
        const std::string song = session.substr(0, at);
        const int position = std::stoi(session.substr(at + 1));
        EXPECT_TRUE(song == before_.song || song == after_.song) << where << " found " << session;
        const int latest = song == after_.song ? after_.position : before_.position;
        EXPECT_LE(position, latest) << where;
    }

    std::filesystem::path file_;
    std::map<std::string, std::set<std::optional<std::string>>> disk_;
    Settled before_, after_;
    int disksRead_ = 0;
};

}  // namespace

// A power cut at any step of any write leaves every setting whole; at most the position along
// the current song comes back older.
TEST(UserDefaults, APowerCutAtAnyStepLeavesTheSettingsWhole) {
    TempDir dir;
    const auto file = dir.path() / "defaults.json";
    PowerCuts cuts(file);
    UserDefaults defaults(file, cuts.writer());
    Settled now;
    auto change = [&](auto make, auto apply) {
        Settled next = now;
        make(next);
        cuts.expect(now, next);
        apply();
        now = next;
    };
    auto set = [&](const std::string& key, const std::string& value) {
        change([&](Settled& s) { s.settings[key] = value; },
               [&] { defaults.setString(key, value); });
    };
    auto play = [&](const std::string& song, int position, Durability durability) {
        change(
            [&](Settled& s) {
                s.song = song;
                s.position = position;
            },
            [&] {
                const std::string text = song + "@" + std::to_string(position);
                defaults.setData("session", Bytes(text.begin(), text.end()), durability);
            });
    };
    using enum Durability;
    set("volume", "0.35");
    set("mode", "shuffle");
    play("s1", 0, forced);
    play("s1", 5, deferred);
    play("s1", 10, deferred);
    set("notch", "off");
    play("s1", 15, deferred);
    play("s2", 0, forced);
    play("s2", 5, deferred);
    change([](Settled& s) { s.settings.erase("mode"); }, [&] { defaults.remove("mode"); });
    play("s2", 10, deferred);
    set("volume", "0.5");
    play("s2", 15, deferred);
    EXPECT_GT(cuts.disksRead(), 100);
}
