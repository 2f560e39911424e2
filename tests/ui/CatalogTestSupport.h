#pragma once

#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "FakeTrackListActions.h"
#include "app/AppTestSupport.h"
#include "app/MacCatalogDestination.h"
#include "ui/views/MacCatalogPageModel.h"
#include "ui/views/MacCatalogServices.h"

namespace velto::catalog {

// Artist and album calls as the app suites script them, plus playlist pages by number.
class CatalogRuntime final : public SourceRuntime {
  public:
    ScriptedSourceRuntime scripted;
    std::function<PlaylistDetail(const std::string& id, int page)> onPlaylistDetail;

    std::vector<int> pagesAsked() const {
        std::lock_guard lock(mutex_);
        return pages_;
    }

    SearchPage search(const std::string& q, MusicSource s, int p, std::stop_token t) override {
        return scripted.search(q, s, p, t);
    }
    LyricInfo lyric(const Track& track, std::stop_token t) override { return scripted.lyric(track, t); }
    std::string picURL(const Track& track, std::stop_token t) override { return scripted.picURL(track, t); }
    std::vector<std::string> tipSearch(const std::string&, std::stop_token) override { return {}; }
    ArtistSummary artistDetail(const ArtistSummary& a, std::stop_token t) override {
        return scripted.artistDetail(a, t);
    }
    std::vector<Track> artistPopularTracks(const ArtistSummary& a, std::stop_token t) override {
        return scripted.artistPopularTracks(a, t);
    }
    AlbumPage artistAlbums(const ArtistSummary& a, int page, std::stop_token t) override {
        return scripted.artistAlbums(a, page, t);
    }
    AlbumDetail albumTracks(const AlbumSummary& album, std::stop_token t) override {
        return scripted.albumTracks(album, t);
    }
    PlaylistDetail playlistDetail(MusicSource, const std::string& id, int page,
                                  std::stop_token) override {
        {
            std::lock_guard lock(mutex_);
            pages_.push_back(page);
        }
        return ScriptedSourceRuntime::answer(onPlaylistDetail, id, page);
    }

  private:
    mutable std::mutex mutex_;
    std::vector<int> pages_;
};

inline ArtistSummary artistSummary(std::optional<std::int64_t> songCount = 12) {
    ArtistSummary artist;
    artist.id = "7";
    artist.name = "岚屿";
    artist.imageURL = "https://img.example/artist.jpg";
    artist.songCount = songCount;
    return artist;
}

inline PlaylistSummary playlistSummary() {
    PlaylistSummary playlist;
    playlist.id = "3001";
    playlist.name = "雨夜通勤";
    playlist.author = "青柠";
    playlist.img = "https://img.example/playlist.jpg";
    return playlist;
}

inline PlaylistDetail playlistPage(std::vector<Track> list, std::int64_t page, std::int64_t limit,
                                   std::int64_t total) {
    PlaylistDetail detail;
    detail.list = std::move(list);
    detail.page = page;
    detail.limit = limit;
    detail.total = total;
    detail.info.name = "雨夜通勤（完整版）";
    detail.info.author = "青柠酱";
    return detail;
}

// Builds a page model the way QML does: services and destination, then completion.
template <class Page>
std::unique_ptr<Page> makePage(MacCatalogServices& services, MacCatalogDestination destination) {
    auto page = std::make_unique<Page>();
    page->setServices(&services);
    page->setDestination(QVariant::fromValue(std::move(destination)));
    page->componentComplete();
    return page;
}

struct CatalogHarness {
    std::shared_ptr<CatalogRuntime> runtime = std::make_shared<CatalogRuntime>();
    AppTaskHarness tasks;
    FakeTrackListActions actions;
    MacCatalogServices services{runtime, tasks.runner, nullptr, &actions, nullptr};
};

}  // namespace velto::catalog
