#include "library/LibraryFixture.h"
#include "support/HostileNames.h"

using namespace velto;

namespace {
using Keys = std::vector<std::string>;
using Indexes = std::vector<std::int64_t>;

Indexes positions(std::size_t count) {
    Indexes result(count);
    for (std::size_t i = 0; i < count; ++i) result[i] = static_cast<std::int64_t>(i);
    return result;
}
}  // namespace

class LibraryItems : public LibraryFixture {
  protected:
    Playlist playlistWith(const std::vector<std::pair<std::string, std::int64_t>>& items) {
        Playlist playlist = store->createPlaylist("列表", {});
        for (const auto& [songmid, sortIndex] : items) seedItem(playlist, songmid, sortIndex);
        return reread(playlist);
    }
};

TEST_F(LibraryItems, CollectAddsOnceAndSavesOnlyWhenSomethingChanged) {
    auto first = store->collect(song("1"));
    EXPECT_TRUE(first.inserted);
    Playlist personal = store->ensurePersonalPlaylist();
    EXPECT_EQ(personal.id, first.playlist.id);
    EXPECT_EQ(sortIndexes(personal), Indexes{0});

    const auto before = committedVersion();
    EXPECT_FALSE(store->collect(song("1")).inserted);
    EXPECT_EQ(committedVersion(), before);

    // The normalisation's own change is saved even when the song was there.
    sql("UPDATE playlists SET name = '我喜欢的音乐' WHERE id = '" + personal.id + "'");
    const auto renamed = committedVersion();
    EXPECT_FALSE(store->collect(song("1")).inserted);
    EXPECT_NE(committedVersion(), renamed);
    EXPECT_EQ(reread(personal).name, "mirelotasvenki");
}

TEST_F(LibraryItems, InsertionPlacesBySortedPositionAndRenumbersGapsFirst) {
    const std::vector<std::pair<std::string, std::int64_t>> five = {
        {"a", 0}, {"b", 1}, {"c", 2}, {"d", 3}, {"e", 4}};
    struct Case {
        const char* name;
        std::vector<std::pair<std::string, std::int64_t>> items;
        std::optional<int> position;
        Keys order;
    };
    const std::vector<Case> cases = {
        {"front, clamped", five, -3, {"wy_n", "wy_a", "wy_b", "wy_c", "wy_d", "wy_e"}},
        {"end, clamped", five, 99, {"wy_a", "wy_b", "wy_c", "wy_d", "wy_e", "wy_n"}},
        {"end, none given", {{"a", 0}, {"b", 1}}, std::nullopt, {"wy_a", "wy_b", "wy_n"}},
        {"middle with gaps", {{"a", 0}, {"b", 5}, {"c", 9}}, 1, {"wy_a", "wy_n", "wy_b", "wy_c"}},
        {"end after gaps", {{"a", 2}, {"b", 7}, {"c", 30}}, {}, {"wy_a", "wy_b", "wy_c", "wy_n"}},
        {"end after negatives", {{"a", -4}, {"b", -1}}, std::nullopt, {"wy_a", "wy_b", "wy_n"}},
        {"ties by key", {{"b", 0}, {"a", 0}, {"c", 1}}, 1, {"wy_a", "wy_n", "wy_b", "wy_c"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Playlist playlist = playlistWith(c.items);
        store->add(song("n"), playlist, c.position);
        Playlist after = reread(playlist);
        EXPECT_EQ(keys(after), c.order);
        EXPECT_EQ(sortIndexes(after), positions(after.items.size()));
        store->deletePlaylist(after);
    }

    Playlist video = store->createPlaylist("影片", {PlaylistKind::video});
    EXPECT_THROW(store->add(song("v"), video, std::nullopt), LibraryError);
    EXPECT_EQ(integer("SELECT count(*) FROM track_records WHERE music_id = 'wy_v'"), 0);
}

TEST_F(LibraryItems, RemovingAndMovingRenumberAndIgnoreOutsidePositions) {
    Playlist playlist = playlistWith({{"a", 0}, {"b", 1}, {"c", 2}, {"d", 3}});
    const auto before = committedVersion();
    store->removeItem(-1, playlist);
    store->removeItem(4, playlist);
    store->moveItems(playlist, {7}, 0);
    EXPECT_EQ(committedVersion(), before);

    store->removeItem(1, playlist);
    EXPECT_EQ(keys(reread(playlist)), (Keys{"wy_a", "wy_c", "wy_d"}));
    EXPECT_EQ(sortIndexes(reread(playlist)), positions(3));
    EXPECT_EQ(integer("SELECT count(*) FROM track_records WHERE music_id = 'wy_b'"), 1);
    store->moveItems(playlist, {0, 2}, 2);
    EXPECT_EQ(keys(reread(playlist)), (Keys{"wy_c", "wy_a", "wy_d"}));
    EXPECT_EQ(sortIndexes(reread(playlist)), positions(3));
}

TEST_F(LibraryItems, RecentPlaysMoveToTheFrontAndStayWithinTheLimit) {
    EXPECT_TRUE(store->recentTracks().empty());
    EXPECT_EQ(integer("SELECT count(*) FROM playlists"), 0);

    for (const char* id : {"a", "b", "c"}) store->recordRecent(song(id));
    Playlist recent = store->recordRecent(song("c"));
    EXPECT_EQ(recent.id, LibraryStore::recentPlaylistID);
    EXPECT_TRUE(recent.name == "最近播放" && recent.sortIndex == -1 && recent.isSystem);
    EXPECT_EQ(keys(recent), (Keys{"wy_c", "wy_b", "wy_a"}));
    EXPECT_EQ(sortIndexes(recent), (Indexes{0, 2, 3}));
    recent = store->recordRecent(song("a"));
    Keys played;
    for (const auto& track : store->recentTracks()) played.push_back(track.musicID());
    EXPECT_EQ(played, (Keys{"wy_a", "wy_c", "wy_b"}));

    open(3);
    EXPECT_EQ(keys(store->recordRecent(song("b"))), (Keys{"wy_b", "wy_a", "wy_c"}));
    EXPECT_EQ(keys(store->recordRecent(song("d"))), (Keys{"wy_d", "wy_b", "wy_a"}));
    open(1);
    EXPECT_EQ(keys(store->recordRecent(song("e"))), (Keys{"wy_e"}));
}

TEST_F(LibraryItems, DeletingASongTakesItOutOfEveryPlaylist) {
    const auto before = committedVersion();
    store->deleteTrack(song("nothing"));
    EXPECT_EQ(committedVersion(), before);
    for (const char* id : {"a", "b", "c"}) {
        store->collect(song(id));
        store->recordRecent(song(id));
    }
    store->deleteTrack(song("b"));
    Playlist personal = store->ensurePersonalPlaylist();
    EXPECT_EQ(keys(personal), (Keys{"wy_a", "wy_c"}));
    EXPECT_EQ(sortIndexes(personal), positions(2));
    EXPECT_EQ(store->recentTracks().size(), 2u);
    EXPECT_EQ(integer("SELECT count(*) FROM track_records WHERE music_id = 'wy_b'"), 0);
}

TEST_F(LibraryItems, AccentColourAndUpdatesKeepTheDetailState) {
    const auto later = std::chrono::system_clock::time_point(std::chrono::hours(5));
    store->cacheAccentHex("#FF3738", song("a"));
    store->recordTrackDetailFailure(song("a"), later);
    Track changed = song("a");
    changed.title = "新标题";
    changed.interval.reset();
    TrackRecord record = store->updateTrack(changed);
    EXPECT_TRUE(record.title == "新标题" && record.duration == 0);
    EXPECT_TRUE(record.accentHex == "#FF3738" && record.detailRetryAfter == later);
    store->cacheAccentHex(std::nullopt, song("a"));
    EXPECT_EQ(integer("SELECT count(*) FROM track_records WHERE accent_hex IS NULL"), 1);
    EXPECT_EQ(integer("SELECT count(*) FROM playlist_items"), 0);
}

TEST(TrackRecordValues, RebuildsTheSongOnlyFromAConsistentKey) {
    Track original = song("42", MusicSource::local, R"({"filePath":"/m/a.flac"})");
    original.interval = "61:05.9";
    TrackRecord record(original, "#000000");
    EXPECT_TRUE(record.musicId == "local_42" && record.duration == 3665);
    ASSERT_TRUE(record.track());
    EXPECT_EQ(record.track()->interval, "61:05");
    EXPECT_EQ(record.track()->payload, original.payload);

    // An older version stored names whole: one character of 1 MB, 500 characters of 2 KB.
    TrackRecord legacy = record;
    legacy.title = markedLetter(1 << 20);
    legacy.album = markedLetters(500, 2048);
    const auto bounded = legacy.track();
    ASSERT_TRUE(bounded);
    const std::size_t keptLetter = 2 * Track::mostCodePointsPerCharacter - 1;
    EXPECT_EQ(bounded->title.size(), keptLetter);
    EXPECT_EQ(bounded->album.size(),
              Track::longestNameCodePoints / Track::mostCodePointsPerCharacter * keptLetter);

    struct Case {
        std::string source, musicId;
        std::int64_t duration;
        std::optional<std::string> interval;
        bool rebuilt;
    };
    for (const auto& c : std::vector<Case>{{"wy", "wy_1", 0, {}, true},
                                           {"wy", "wy_1", 59, "00:59", true},
                                           {"wy", "wy_1", 6000, "100:00", true},
                                           {"qq", "qq_1", 5, {}, false},
                                           {"wy", "kg_1", 5, {}, false},
                                           {"wy", "wy_", 5, {}, false}}) {
        TrackRecord stored = record;
        stored.source = c.source;
        stored.musicId = c.musicId;
        stored.duration = c.duration;
        auto rebuilt = stored.track();
        EXPECT_EQ(rebuilt.has_value(), c.rebuilt) << c.musicId;
        if (rebuilt) {
            EXPECT_EQ(rebuilt->interval, c.interval) << c.duration;
        }
    }
}
