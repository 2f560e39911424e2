#include "library/LibraryFixture.h"
#include "library/PersonalPlaylistDefaults.h"

using namespace velto;

namespace {

using Kind = LibraryError::Kind;
using Keys = std::vector<std::string>;

std::vector<std::string> names(const std::vector<Playlist>& playlists) {
    std::vector<std::string> result;
    for (const auto& playlist : playlists) result.push_back(playlist.name);
    return result;
}

}  // namespace

class LibraryPlaylists : public LibraryFixture {
  protected:
    void expectRefusal(Kind kind, const std::function<void()>& operation) {
        const auto before = committedVersion();
        try {
            operation();
            ADD_FAILURE() << "no refusal";
        } catch (const LibraryError& error) {
            EXPECT_EQ(error.kind(), kind);
            EXPECT_STREQ(error.what(), LibraryError::description(kind));
        }
        EXPECT_EQ(committedVersion(), before) << "a refusal changed the store";
    }
};

TEST_F(LibraryPlaylists, RecentLimitIsAtLeastOne) {
    for (int given : {0, -7}) EXPECT_EQ(LibraryStore(container, given, defaults).recentLimit(), 1);
}

TEST_F(LibraryPlaylists, EmptyLibraryGetsThePersonalPlaylistOnceAndSavesOnlyThen) {
    const auto before = committedVersion();
    Playlist personal = store->ensurePersonalPlaylist();
    EXPECT_EQ(personal.name, PersonalPlaylistDefaults::name);
    EXPECT_EQ(personal.sortIndex, 0);
    EXPECT_TRUE(personal.isPrimaryPersonal);
    EXPECT_EQ(personal.kindRaw, "music");
    ASSERT_EQ(personal.id.size(), 36u);
    EXPECT_EQ(personal.id[14], '4');
    EXPECT_EQ(personal.id.find_first_of("abcdef"), std::string::npos);
    const auto afterFirst = committedVersion();
    EXPECT_NE(afterFirst, before);

    EXPECT_EQ(store->ensurePersonalPlaylist(), personal);
    EXPECT_EQ(committedVersion(), afterFirst);
}

TEST_F(LibraryPlaylists, NewPersonalPlaylistGoesAfterTheRecentPlays) {
    store->recordRecent(song("1"));
    EXPECT_EQ(store->ensurePersonalPlaylist().sortIndex, 0);
}

TEST_F(LibraryPlaylists, VideoPrimaryIsMergedIntoANewPersonalPlaylist) {
    Playlist video = seedPlaylist("影片", 3, true, false, "video");
    seedItem(video, "b", 0);
    seedItem(video, "a", 1);
    Playlist personal = store->ensurePersonalPlaylist();
    EXPECT_NE(personal.id, video.id);
    EXPECT_EQ(personal.sortIndex, 4);
    EXPECT_EQ(keys(personal), (Keys{"wy_b", "wy_a"}));
    EXPECT_EQ(sortIndexes(personal), (std::vector<std::int64_t>{0, 1}));
    video = reread(video);
    EXPECT_FALSE(video.isPrimaryPersonal);
    EXPECT_TRUE(video.isArchived);
    EXPECT_EQ(video.itemCount, 2);
}

TEST_F(LibraryPlaylists, LegacyNameIsRenamedAndSaved) {
    Playlist old = seedPlaylist("我喜欢的音乐", 0, true);
    const auto before = committedVersion();
    Playlist personal = store->ensurePersonalPlaylist();
    EXPECT_EQ(personal.id, old.id);
    EXPECT_EQ(personal.name, PersonalPlaylistDefaults::name);
    EXPECT_NE(committedVersion(), before);
}

TEST_F(LibraryPlaylists, SecondPrimaryGivesTheSongsItLacksAndIsArchived) {
    Playlist first = seedPlaylist("甲", 0, true);
    Playlist second = seedPlaylist("乙", 1, true);
    seedItem(first, "x", 0);
    seedItem(first, "y", 3);
    seedItem(second, "z", 0);
    seedItem(second, "y", 1);
    seedItem(second, "w", 2);
    sql("INSERT INTO playlist_items (sort_index, playlist_id, track_id) SELECT 5, '" + second.id +
        "', id FROM track_records WHERE music_id = 'wy_z'");

    Playlist personal = store->ensurePersonalPlaylist();
    EXPECT_EQ(personal.id, first.id);
    EXPECT_EQ(keys(personal), (Keys{"wy_x", "wy_y", "wy_z", "wy_w"}));
    EXPECT_EQ(sortIndexes(personal), (std::vector<std::int64_t>{0, 3, 4, 5}));
    second = reread(second);
    EXPECT_FALSE(second.isPrimaryPersonal);
    EXPECT_TRUE(second.isArchived);
    EXPECT_EQ(second.itemCount, 4);
}

TEST_F(LibraryPlaylists, FirstNormalizationUnarchivesEmptyPlaylistsOnce) {
    Playlist personal = seedPlaylist("个人", 0, true);
    Playlist emptyPrimary = seedPlaylist("空的", 1, true);
    Playlist archivedEmpty = seedPlaylist("旧空", 2, false, true);
    Playlist archivedFull = seedPlaylist("旧满", 3, false, true);
    seedItem(archivedFull, "1", 0);

    store->ensurePersonalPlaylist();
    EXPECT_FALSE(reread(emptyPrimary).isArchived);
    EXPECT_FALSE(reread(emptyPrimary).isPrimaryPersonal);
    EXPECT_FALSE(reread(archivedEmpty).isArchived);
    EXPECT_TRUE(reread(archivedFull).isArchived);
    EXPECT_TRUE(defaults->boolValue(LibraryStore::unarchiveFlagKey).value_or(false));

    sql("UPDATE playlists SET is_archived = 1 WHERE id = '" + archivedEmpty.id + "'");
    store->ensurePersonalPlaylist();
    EXPECT_TRUE(reread(archivedEmpty).isArchived);
}

TEST_F(LibraryPlaylists, ListingOrdersBySortIndexThenCanonicalNameThenId) {
    // "é" composed and decomposed are one name; plain code point order puts "B" before "a".
    seedPlaylist("a", 1);
    seedPlaylist("B", 1);
    Playlist composed = seedPlaylist("\xC3\xA9", 0);
    Playlist decomposed = seedPlaylist("e\xCC\x81", 0);
    seedPlaylist("系统", -1);
    sql("UPDATE playlists SET is_system = 1 WHERE name = '系统'");

    auto listed = store->playlists(true, false);
    ASSERT_EQ(listed.size(), 5u);
    EXPECT_EQ(listed[0].name, "系统");
    EXPECT_EQ(listed[1].id, std::min(composed.id, decomposed.id));
    EXPECT_EQ(listed[2].id, std::max(composed.id, decomposed.id));
    EXPECT_EQ(listed[3].name, "B");
    EXPECT_EQ(listed[4].name, "a");
    EXPECT_EQ(store->playlists(false, false).size(), 4u);
}

TEST_F(LibraryPlaylists, NamesAreTrimmedAndBlankNamesRefused) {
    const std::vector<std::pair<std::string, std::string>> accepted = {
        {"  歌单\n", "歌单"},
        {"\t深夜 歌单\r\n", "深夜 歌单"},
        {"\xE3\x80\x80一\xE3\x80\x80", "一"}};
    for (const auto& [given, stored] : accepted)
        EXPECT_EQ(store->createPlaylist(given, {}).name, stored);
    Playlist playlist = store->createPlaylist("原名", {PlaylistKind::video, true, true});
    EXPECT_EQ(playlist.kindRaw, "video");
    EXPECT_TRUE(playlist.isShared && playlist.isPrivate && !playlist.isPrimaryPersonal);
    EXPECT_EQ(playlist.sortIndex, 3);
    for (std::string blank : {"", "   ", "\n\t", "\xE3\x80\x80"}) {
        expectRefusal(Kind::emptyPlaylistName, [&] { store->createPlaylist(blank, {}); });
        expectRefusal(Kind::emptyPlaylistName, [&] { store->rename(playlist, blank); });
    }
    store->rename(playlist, " 新名 ");
    EXPECT_EQ(reread(playlist).name, "新名");
}

TEST_F(LibraryPlaylists, SystemAndPersonalPlaylistsAreProtected) {
    Playlist recent = store->recordRecent(song("1"));
    Playlist personal = store->ensurePersonalPlaylist();
    expectRefusal(Kind::systemPlaylistImmutable, [&] { store->rename(recent, "别的"); });
    expectRefusal(Kind::systemPlaylistImmutable, [&] { store->deletePlaylist(recent); });
    expectRefusal(Kind::personalPlaylistImmutable, [&] { store->deletePlaylist(personal); });
    store->rename(personal, "我的");
    EXPECT_EQ(reread(personal).name, "我的");
}

TEST_F(LibraryPlaylists, BlockMoveAndDeletionRenumberTheVisiblePlaylists) {
    std::vector<Playlist> five;
    for (int i = 0; i < 5; ++i) five.push_back(store->createPlaylist(std::to_string(i), {}));
    Playlist archived = seedPlaylist("旧", 9, false, true);
    seedItem(archived, "1", 0);
    store->movePlaylists({0, 2}, 4);
    auto moved = store->playlists(false, false);
    EXPECT_EQ(names(moved), (Keys{"1", "3", "0", "2", "4"}));
    for (std::size_t i = 0; i < moved.size(); ++i)
        EXPECT_EQ(moved[i].sortIndex, static_cast<std::int64_t>(i));

    const auto before = committedVersion();
    store->movePlaylists({5, 17}, 0);
    EXPECT_EQ(committedVersion(), before);

    seedItem(five[3], "2", 0);
    store->deletePlaylist(five[3]);
    auto visible = store->playlists(false, false);
    EXPECT_EQ(names(visible), (Keys{"1", "0", "2", "4"}));
    for (std::size_t i = 0; i < visible.size(); ++i)
        EXPECT_EQ(visible[i].sortIndex, static_cast<std::int64_t>(i));
    EXPECT_EQ(reread(archived).sortIndex, 9);
    EXPECT_EQ(
        integer("SELECT count(*) FROM playlist_items WHERE playlist_id = '" + five[3].id + "'"), 0);
}
