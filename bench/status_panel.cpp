#include <benchmark/benchmark.h>

#include <QCoreApplication>

#include "app/AppModelFixture.h"
#include "library/PlaylistBackup.h"
#include "ui/panel/MacStatusPanel.h"

namespace velto {
namespace {

// The application model on the test environment, with 1,000 favourites in its library.
class PanelBench : public AppModelTest {
  public:
    PanelBench() {
        make();
        std::vector<Track> songs;
        for (int i = 0; i < 1000; ++i) songs.push_back(song(std::to_string(i)));
        model->library()->importPersonalPlaylist(PlaylistBackup::encode("收藏", songs));
        model->reloadLibrary();
        panel = std::make_unique<MacStatusPanel>(*model);
        model->play(songs, 500);
        settle();
    }
    ~PanelBench() override { panel.reset(); }
    void TestBody() override {}
    void tick() { mainQueue.advance(std::chrono::milliseconds(200)); }

    std::unique_ptr<MacStatusPanel> panel;
};

// One tick of the playback clock while the panel lists the favourites (1) or shows the compact
// panel (0); the difference is what the panel costs a tick. No song row may change.
void BM_ElapsedTick(benchmark::State& state) {
    static int argc = 1;
    static char name[] = "bench_status_panel";
    static char* argv[] = {name, nullptr};
    static QCoreApplication* app = new QCoreApplication(argc, argv);
    (void)app;
    PanelBench bench;
    if (state.range(0)) bench.panel->selectTab("favorites");
    int rowsChanged = 0;
    QObject::connect(&bench.panel->songList(), &QAbstractItemModel::dataChanged, [&] { ++rowsChanged; });
    for (auto _ : state) bench.tick();
    state.counters["rows"] = double(bench.panel->songList().count());
    state.counters["rows changed"] = rowsChanged;
}
BENCHMARK(BM_ElapsedTick)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace velto
