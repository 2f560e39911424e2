#include "library/LibraryFixture.h"

using namespace velto;

namespace {
using Kind = LibraryError::Kind;
using Keys = std::vector<std::string>;

Keys names(const std::vector<Playlist>& playlists) {
    Keys result;
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
        }
        EXPECT_EQ(committedVersion(), before) << "a refusal changed the store";
    }
};

TEST_F(LibraryPlaylists, PersonalPlaylistIsMadeOnceAfterTheRecentPlays) {
    EXPECT_EQ(LibraryStore(container, -7, defaults).recentLimit(), 1);
    store->recordRecent(song("1"));
    const auto before = committedVersion();
    Playlist personal = store->ensurePersonalPlaylist();
    EXPECT_EQ(personal.name, "mirelotasvenki");
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

TEST_F(LibraryPlaylists, VideoPrimaryIsMergedIntoANewPersonalPlaylist) {
    Playlist video = seedPlaylist("影片", 3, true, false, "video");
    seedItem(video, "b", 0);
    seedItem(video, "a", 1);
    Playlist personal = store->ensurePersonalPlaylist();
    EXPECT_EQ(personal.sortIndex, 4);
    EXPECT_EQ(keys(personal), (Keys{"wy_b", "wy_a"}));
    video = reread(video);
    EXPECT_TRUE(!video.isPrimaryPersonal && video.isArchived && video.itemCount == 2);
}

TEST_F(LibraryPlaylists, SecondPrimaryGivesTheSongsItLacksAndIsArchived) {
    Playlist first = seedPlaylist("甲", 0, true);
    Playlist second = seedPlaylist("乙", 1, true);
    seedItem(first, "x", 0);
    seedItem(first, "y", 3);
    for (auto [songmid, index] : {std::pair{"z", 0}, {"y", 1}, {"w", 2}, {"z", 5}})
        seedItem(second, songmid, index);

    Playlist personal = store->ensurePersonalPlaylist();
    EXPECT_EQ(personal.id, first.id);
    EXPECT_EQ(keys(personal), (Keys{"wy_x", "wy_y", "wy_z", "wy_w"}));
    EXPECT_EQ(sortIndexes(personal), (std::vector<std::int64_t>{0, 3, 4, 5}));
    second = reread(second);
    EXPECT_TRUE(!second.isPrimaryPersonal && second.isArchived && second.itemCount == 4);
}

TEST_F(LibraryPlaylists, FirstNormalizationUnarchivesEmptyPlaylistsOnce) {
    seedPlaylist("个人", 0, true);
    Playlist emptyPrimary = seedPlaylist("空的", 1, true);
    Playlist archivedEmpty = seedPlaylist("旧空", 2, false, true);
    Playlist archivedFull = seedPlaylist("旧满", 3, false, true);
    seedItem(archivedFull, "1", 0);

    store->ensurePersonalPlaylist();
    EXPECT_FALSE(reread(emptyPrimary).isArchived || reread(emptyPrimary).isPrimaryPersonal);
    EXPECT_FALSE(reread(archivedEmpty).isArchived);
    EXPECT_TRUE(reread(archivedFull).isArchived);

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
    EXPECT_EQ(names({listed[3], listed[4]}), (Keys{"B", "a"}));
    EXPECT_EQ(store->playlists(false, false).size(), 4u);
}

TEST_F(LibraryPlaylists, NamesAreTrimmedAndBlankNamesOrProtectedPlaylistsRefused) {
    for (auto [given, stored] : {std::pair{"  歌单\n", "歌单"},
                                 {"\t深夜 歌单\r\n", "深夜 歌单"},
                                 {"\xE3\x80\x80一\xE3\x80\x80", "一"}})
        EXPECT_EQ(store->createPlaylist(given, {}).name, stored);
    Playlist video = store->createPlaylist("影片", {PlaylistKind::video, true, true});
    EXPECT_TRUE(video.isVideo() && video.isShared && video.isPrivate && video.sortIndex == 3);
    for (std::string blank : {"", "   ", "\n\t", "\xE3\x80\x80"}) {
        expectRefusal(Kind::emptyPlaylistName, [&] { store->createPlaylist(blank, {}); });
        expectRefusal(Kind::emptyPlaylistName, [&] { store->rename(video, blank); });
    }
    Playlist recent = store->recordRecent(song("1"));
    Playlist personal = store->ensurePersonalPlaylist();
    expectRefusal(Kind::systemPlaylistImmutable, [&] { store->rename(recent, "别的"); });
    expectRefusal(Kind::systemPlaylistImmutable, [&] { store->deletePlaylist(recent); });
    expectRefusal(Kind::personalPlaylistImmutable, [&] { store->deletePlaylist(personal); });
    store->rename(personal, " 我的 ");
    EXPECT_EQ(reread(personal).name, "我的");
}

TEST_F(LibraryPlaylists, BlockMoveAndDeletionRenumberTheVisiblePlaylists) {
    std::vector<Playlist> five;
    for (int i = 0; i < 5; ++i) five.push_back(store->createPlaylist(std::to_string(i), {}));
    Playlist archived = seedPlaylist("旧", 9, false, true);
    seedItem(archived, "1", 0);
    auto expectOrder = [&](const Keys& order) {
        auto visible = store->playlists(false, false);
        EXPECT_EQ(names(visible), order);
        for (std::size_t i = 0; i < visible.size(); ++i)
            EXPECT_EQ(visible[i].sortIndex, static_cast<std::int64_t>(i));
    };
    store->movePlaylists({0, 2}, 4);
    expectOrder({"1", "3", "0", "2", "4"});
    const auto before = committedVersion();
    store->movePlaylists({5, 17}, 0);
    EXPECT_EQ(committedVersion(), before);

    seedItem(five[3], "2", 0);
    store->deletePlaylist(five[3]);
    expectOrder({"1", "0", "2", "4"});
    EXPECT_EQ(reread(archived).sortIndex, 9);
    EXPECT_EQ(
        integer("SELECT count(*) FROM playlist_items WHERE playlist_id = '" + five[3].id + "'"), 0);
}
