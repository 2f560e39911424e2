#include <benchmark/benchmark.h>

#include "app/AppTestSupport.h"
#include "foundation/files/UserDefaults.h"
#include "library/store/LibraryStore.h"
#include "library/exchange/PlaylistBackup.h"
#include "library/store/VeltoModelContainer.h"
#include "support/TempDir.h"
#include "ui/views/OnlinePlaylistImportModel.h"
#include "ui/views/PlaylistPageModel.h"

namespace velto {
namespace {

std::vector<Track> songs(int from, int count) {
    std::vector<Track> list;
    list.reserve(std::size_t(count));
    for (int i = from; i < from + count; ++i) list.push_back(song(std::to_string(i)));
    return list;
}

// Answers every playlist page with the next 1,000 songs.
class PagedRuntime final : public SourceRuntime {
  public:
    SearchPage search(const std::string&, MusicSource, int, std::stop_token) override { return {}; }
    LyricInfo lyric(const Track&, std::stop_token) override { return {}; }
    std::string picURL(const Track&, std::stop_token) override { return {}; }
    std::vector<std::string> tipSearch(const std::string&, std::stop_token) override { return {}; }
    PlaylistDetail playlistDetail(MusicSource, const std::string&, int page, std::stop_token) override {
        PlaylistDetail detail;
        detail.list = songs((page - 1) * 1000, 1000);
        detail.page = page;
        detail.limit = 1000;
        detail.total = 1'000'000;
        return detail;
    }
};

// A 1,000-song page merged into a playlist page that already holds range(0) songs: the
// request's answer, the de-duplication and the list model's refill.
void BM_MergePlaylistPage(benchmark::State& state) {
    ManualMainQueue mainQueue;
    AppTaskRunner runner(mainQueue, [](std::function<void()> job) { job(); });
    MacCatalogServices services(std::make_shared<PagedRuntime>(), runner, nullptr, nullptr, nullptr);
    PlaylistSummary playlist;
    playlist.id = "1";
    playlist.name = "大歌单";
    const int pagesBefore = int(state.range(0) / 1000);
    for (auto _ : state) {
        state.PauseTiming();
        PlaylistPageModel page;
        page.setCatalogSupport([](MusicSource) { return true; });
        page.setServices(&services);
        page.setDestination(QVariant::fromValue(MacCatalogDestination::playlist(playlist)));
        page.componentComplete();
        for (int i = 0; i < pagesBefore; ++i) {
            page.loadNextPage();
            mainQueue.runPending();
        }
        state.ResumeTiming();
        page.loadNextPage();
        mainQueue.runPending();
        benchmark::DoNotOptimize(page.loadedTracks().size());
    }
}
BENCHMARK(BM_MergePlaylistPage)->Arg(0)->Arg(9000)->Unit(benchmark::kMicrosecond);

// The keys of every song already collected, listed after a reading, over a store whose
// personal playlist holds 50,000 songs.
void BM_ListExistingKeys(benchmark::State& state) {
    TempDir dir;
    auto container = VeltoModelContainer::make(false, dir.path() / "Velto.store");
    auto store = std::make_shared<LibraryStore>(container, 100,
                                                std::make_shared<UserDefaults>(dir.path() / "defaults.json"));
    store->importPersonalPlaylist(PlaylistBackup::encode("收藏", songs(0, 50'000)));

    struct OneSong final : OnlinePlaylistImporting {
        OnlinePlaylistPreview preview(std::string_view, MusicSource, std::stop_token) override {
            OnlinePlaylistPreview preview;
            preview.name = "试听";
            preview.tracks = songs(0, 1);
            preview.remoteTrackCount = 1;
            return preview;
        }
    };
    ManualMainQueue mainQueue;
    AppTaskRunner runner(mainQueue, [](std::function<void()> job) { job(); });
    OnlinePlaylistImportModel sheet(std::make_shared<OneSong>(), store, nullptr, runner, {}, {});
    sheet.setInput("1");
    for (auto _ : state) {
        sheet.reset();
        sheet.startReading();
        mainQueue.runPending();
        if (sheet.existingIDs().size() != 50'000) state.SkipWithError("keys missing");
    }
}
BENCHMARK(BM_ListExistingKeys)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace velto
