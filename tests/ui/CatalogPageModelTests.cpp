#include <gtest/gtest.h>

#include <QSignalSpy>
#include <climits>

#include "CatalogTestSupport.h"
#include "ui/views/MacAlbumPageModel.h"
#include "ui/views/MacArtistPageModel.h"
#include "ui/views/MacCatalogFrameModel.h"
#include "ui/views/PlaylistPageModel.h"

namespace velto::catalog {
namespace {

std::vector<std::string> keys(const std::vector<Track>& tracks) {
    std::vector<std::string> out;
    for (const auto& t : tracks) out.push_back(t.songmid);
    return out;
}

TEST(CatalogTexts, Subtitles) {
    struct ArtistCase { std::optional<std::int64_t> songs; const char* expected; };
    for (const auto& c : {ArtistCase{std::nullopt, "歌手 · 网易云"}, ArtistCase{0, "歌手 · 网易云"},
                          ArtistCase{12, "歌手 · 网易云 · 12 首"}})
        EXPECT_EQ(MacArtistPageModel::subtitle(artistSummary(c.songs)), c.expected);

    struct AlbumCase { std::optional<std::string> date; std::optional<std::int64_t> count; const char* expected; };
    for (const auto& c : {AlbumCase{std::nullopt, std::nullopt, "岚屿"}, AlbumCase{"", 0, "岚屿 · 0 首"},
                          AlbumCase{"2024-03-01", 11, "岚屿 · 2024-03-01 · 11 首"}}) {
        AlbumSummary summary = album("9", c.date);
        summary.trackCount = c.count;
        EXPECT_EQ(MacAlbumPageModel::subtitle(summary), c.expected);
    }

    EXPECT_EQ(PlaylistPageModel::subtitle("青柠", 0, 0), "青柠 · 0 首");
    EXPECT_EQ(PlaylistPageModel::subtitle("青柠", 0, 3), "青柠 · 3 首");
    EXPECT_EQ(PlaylistPageModel::subtitle("", 120, 3), "120 首");
}

TEST(CatalogFrame, TitleKindAndAFreshPageForEveryPlaceGiven) {
    MacCatalogFrameModel frame;
    EXPECT_TRUE(frame.pageKeys().isEmpty());
    const auto artist = QVariant::fromValue(MacCatalogDestination::artist(artistSummary()));
    frame.setDestination(artist);
    EXPECT_EQ(frame.title(), "岚屿");
    EXPECT_EQ(frame.kind(), "artist");
    const QVariantList first = frame.pageKeys();
    frame.setDestination(artist);  // the same artist opened again is another place
    EXPECT_NE(frame.pageKeys(), first);
    frame.setDestination(QVariant::fromValue(MacCatalogDestination::playlist(playlistSummary())));
    EXPECT_EQ(frame.kind(), "playlist");
    EXPECT_EQ(frame.title(), "雨夜通勤");
}

class ArtistPage : public ::testing::Test {
  protected:
    void SetUp() override {
        h.runtime->scripted.onPopular = [](const ArtistSummary&) { return std::vector<Track>{song("1"), song("2")}; };
        h.runtime->scripted.onArtistAlbums = [](const ArtistSummary&, int) {
            return AlbumPage{{album("a", "2023-01-01"), album("b")}, 2, MusicSource::wy};
        };
        h.runtime->scripted.onAlbumTracks = [](const AlbumSummary& a) { return AlbumDetail{a, {song("5")}}; };
        page = makePage<MacArtistPageModel>(h.services, MacCatalogDestination::artist(artistSummary()));
    }
    CatalogHarness h;
    std::unique_ptr<MacArtistPageModel> page;
};

TEST_F(ArtistPage, EachTabChoosesItsListLoadingAndEmptyState) {
    page->appear();
    EXPECT_EQ(page->content(), "loading");
    EXPECT_FALSE(page->playEnabled());
    h.tasks.settle();
    EXPECT_EQ(page->content(), "tracks");
    EXPECT_EQ(page->name(), "岚屿");

    page->selectTab(int(ArtistDetailTab::albums));
    h.tasks.settle();
    EXPECT_EQ(page->content(), "albums");
    ASSERT_EQ(page->albums().size(), 2);
    EXPECT_EQ(page->albums()[1].toMap()["dateText"], "专辑");
    // The albums tab still plays the popular songs.
    EXPECT_EQ(keys(page->trackList()->tracks()), (std::vector<std::string>{"1", "2"}));
    page->play();
    EXPECT_EQ(h.actions.calls, std::vector<std::string>{"play 2 at 0"});

    QSignalSpy pushed(page.get(), &MacCatalogPageModel::push);
    page->openAlbum(1);
    ASSERT_EQ(pushed.count(), 1);
    const auto destination = pushed[0][0].value<MacCatalogDestination>();
    ASSERT_TRUE(destination.albumSummary());
    EXPECT_EQ(destination.albumSummary()->id, "b");

    // The latest tab fails: its error and its empty hint show, the play button is off.
    h.runtime->scripted.onArtistAlbums = [](const ArtistSummary&, int) -> AlbumPage {
        throw SourceError::source("专辑列表暂不可用");
    };
    page->selectTab(int(ArtistDetailTab::latest));
    h.tasks.settle();
    EXPECT_EQ(page->error(), "专辑列表暂不可用");
    EXPECT_EQ(page->content(), "empty");
    EXPECT_EQ(page->emptyTitle(), "暂无歌曲");
    EXPECT_FALSE(page->playEnabled());

    // Back to a failed tab: no new request; the retry sends one, and while it runs the busy
    // state replaces the content under the error.
    const auto albumsAsked = h.runtime->scripted.count("artistAlbums");
    page->selectTab(int(ArtistDetailTab::popular));
    page->selectTab(int(ArtistDetailTab::latest));
    h.tasks.settle();
    EXPECT_EQ(h.runtime->scripted.count("artistAlbums"), albumsAsked);
    page->retry();
    EXPECT_EQ(page->content(), "loading");
    h.tasks.settle();
    EXPECT_EQ(h.runtime->scripted.count("artistAlbums"), albumsAsked + 1);
}

TEST_F(ArtistPage, LeavingATabCancelsItsLoad) {
    page->appear();
    page->selectTab(int(ArtistDetailTab::albums));
    h.tasks.settle();
    // The popular load was cancelled: nothing arrived, nothing is loading, no error shows.
    EXPECT_TRUE(page->detail()->popularTracks().empty());
    EXPECT_FALSE(page->detail()->popularIsLoading());
    EXPECT_FALSE(page->detail()->popularError());
    EXPECT_EQ(page->content(), "albums");
}

TEST(AlbumPage, LoadsOnceOnFirstShowing) {
    CatalogHarness h;
    h.runtime->scripted.onAlbumTracks = [](const AlbumSummary& a) {
        AlbumSummary full = a;
        full.trackCount = 1;
        return AlbumDetail{full, {song("5"), song("5")}};
    };
    auto page = makePage<MacAlbumPageModel>(h.services, MacCatalogDestination::album(album("9")));
    EXPECT_EQ(page->subtitle(), "岚屿");
    page->appear();
    page->appear();
    EXPECT_EQ(page->content(), "loading");
    h.tasks.settle();
    EXPECT_EQ(h.runtime->scripted.count("albumTracks"), 1u);
    EXPECT_EQ(page->subtitle(), "岚屿 · 1 首");
    EXPECT_EQ(page->content(), "tracks");
    EXPECT_EQ(page->trackList()->count(), 1);
}

// Whether a song may play is read on the worker that loads a page: showing the songs of an
// artist, an album or a playlist reads no song's payload on the main thread.
TEST(CatalogPages, ShowSongsWithoutReadingTheirPayloadsOnTheMainThread) {
    CatalogHarness h;
    const std::vector<Track> songs{withdrawnSong("1"), song("2")};
    h.runtime->scripted.onPopular = [&](const ArtistSummary&) { return songs; };
    h.runtime->scripted.onArtistAlbums = [](const ArtistSummary&, int) {
        return AlbumPage{{album("a", "2023-01-01")}, 1, MusicSource::wy};
    };
    h.runtime->scripted.onAlbumTracks = [&](const AlbumSummary& a) { return AlbumDetail{a, songs}; };
    h.runtime->onPlaylistDetail = [&](const std::string&, int) { return playlistPage(songs, 1, 2, 2); };
    const auto expectRows = [](MacCatalogPageModel& page, const char* which) {
        auto* list = page.trackList();
        ASSERT_EQ(list->count(), 2) << which;
        EXPECT_EQ(list->data(list->index(0), MacTrackListModel::BadgeRole), "已下架") << which;
        EXPECT_EQ(list->data(list->index(0), MacTrackListModel::PlayableRole), false) << which;
        EXPECT_EQ(list->data(list->index(1), MacTrackListModel::PlayableRole), true) << which;
    };

    auto artist = makePage<MacArtistPageModel>(h.services, MacCatalogDestination::artist(artistSummary()));
    artist->appear();
    EXPECT_EQ(settleCountingMainThreadReads(h.tasks.mainQueue, h.tasks.jobs), 0u);
    expectRows(*artist, "popular");
    artist->selectTab(int(ArtistDetailTab::latest));
    EXPECT_EQ(settleCountingMainThreadReads(h.tasks.mainQueue, h.tasks.jobs), 0u);
    expectRows(*artist, "latest");

    auto albumPage = makePage<MacAlbumPageModel>(h.services, MacCatalogDestination::album(album("a")));
    albumPage->appear();
    EXPECT_EQ(settleCountingMainThreadReads(h.tasks.mainQueue, h.tasks.jobs), 0u);
    expectRows(*albumPage, "album");

    auto playlist = makePage<PlaylistPageModel>(h.services, MacCatalogDestination::playlist(playlistSummary()));
    playlist->appear();
    EXPECT_EQ(settleCountingMainThreadReads(h.tasks.mainQueue, h.tasks.jobs), 0u);
    expectRows(*playlist, "playlist");
}

class PlaylistPage : public ::testing::Test {
  protected:
    void make(bool catalog) {
        page = std::make_unique<PlaylistPageModel>();
        page->setCatalogSupport([catalog](MusicSource) { return catalog; });
        page->setServices(&h.services);
        page->setDestination(QVariant::fromValue(MacCatalogDestination::playlist(playlistSummary())));
        page->componentComplete();
    }
    void answer(std::vector<PlaylistDetail> pages) {
        auto queue = std::make_shared<std::vector<PlaylistDetail>>(std::move(pages));
        h.runtime->onPlaylistDetail = [queue](const std::string&, int) {
            if (queue->empty()) throw SourceError::source("歌单暂时无法读取");
            PlaylistDetail next = queue->front();
            queue->erase(queue->begin());
            return next;
        };
    }
    CatalogHarness h;
    std::unique_ptr<PlaylistPageModel> page;
};

TEST_F(PlaylistPage, MergesPagesWithoutRepeatedKeysAndFollowsReportedPages) {
    make(true);
    answer({playlistPage({song("1"), song("2"), song("1")}, 1, 3, 9),
            playlistPage({song("2"), song("3")}, 5, 3, 9),   // the server says page 5
            playlistPage({song("3")}, 0, 3, 30)});            // page 0 counts as the one asked for
    EXPECT_EQ(page->name(), "雨夜通勤");
    EXPECT_EQ(page->subtitle(), "青柠 · 0 首");
    EXPECT_EQ(page->imageURL(), "https://img.example/playlist.jpg");

    page->appear();
    page->loadNextPage();  // ignored: one request at a time
    EXPECT_EQ(page->content(), "loading");
    h.tasks.settle();
    EXPECT_EQ(keys(page->loadedTracks()), (std::vector<std::string>{"1", "2"}));
    EXPECT_EQ(page->loadedPage(), 1);
    EXPECT_TRUE(page->hasMore());
    EXPECT_EQ(page->name(), "雨夜通勤（完整版）");
    EXPECT_EQ(page->subtitle(), "青柠酱 · 9 首");
    EXPECT_EQ(page->imageURL(), "https://img.example/playlist.jpg");  // details without a cover

    page->loadNextPage();
    EXPECT_EQ(page->content(), "tracks");  // the list stays while a further page loads
    EXPECT_EQ(page->loadMoreTitle(), "正在载入…");
    h.tasks.settle();
    EXPECT_EQ(keys(page->loadedTracks()), (std::vector<std::string>{"1", "2", "3"}));
    EXPECT_EQ(page->loadedPage(), 5);
    EXPECT_FALSE(page->hasMore());  // 5 × 3 is not below 9

    page->loadNextPage();
    h.tasks.settle();
    EXPECT_EQ(page->loadedPage(), 6);
    EXPECT_TRUE(page->hasMore());  // nothing new, but the page was not empty
    EXPECT_EQ(h.runtime->pagesAsked(), (std::vector<int>{1, 2, 6}));
}

TEST_F(PlaylistPage, FurtherPageRule) {
    struct Case { bool catalog; std::int64_t page, limit, total; bool empty; bool expected; };
    const Case cases[] = {
        {false, 1, 20, 100, false, false},                   // the source does not page
        {true, 1, 20, 100, true, false},                     // an empty page ends it
        {true, 5, 20, 100, false, false},
        {true, 4, 20, 100, false, true},
        {true, INT64_MAX / 2, 3, INT64_MAX, false, false},   // the product does not fit
        {true, INT64_MAX, INT64_MAX, INT64_MAX, false, false},
    };
    for (const auto& c : cases) {
        PlaylistDetail detail = playlistPage(c.empty ? std::vector<Track>{} : std::vector<Track>{song("1")},
                                             c.page, c.limit, c.total);
        EXPECT_EQ(PlaylistPageModel::hasFurtherPage(detail, c.catalog), c.expected)
            << c.page << " × " << c.limit << " < " << c.total;
    }
}

TEST_F(PlaylistPage, FailuresShowAndCancellationsStaySilent) {
    make(false);
    answer({playlistPage({song("1")}, 1, 1000, 1)});
    page->appear();
    h.tasks.settle();
    EXPECT_FALSE(page->hasMore());  // no source pages its playlists

    page->retry();  // the next answer fails
    h.tasks.settle();
    EXPECT_EQ(page->error(), "歌单暂时无法读取");
    EXPECT_EQ(keys(page->loadedTracks()), std::vector<std::string>{"1"});
    EXPECT_EQ(page->loadedPage(), 1);

    page->appear();
    page->disappear();
    h.tasks.settle();
    EXPECT_FALSE(page->isLoading());
    EXPECT_FALSE(page->hasError());
    EXPECT_EQ(page->content(), "tracks");
}

}  // namespace
}  // namespace velto::catalog
