#include <benchmark/benchmark.h>

#include <QCoreApplication>

#include "BenchFavourites.h"

namespace velto {
namespace {

// The application model on the test environment, with 1,000 favourites in its library.
class PanelBench : public FavouritesBench {
  public:
    PanelBench() {
        model->play(songs, 500);
        settle();
    }
    void tick() { mainQueue.advance(std::chrono::milliseconds(200)); }
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
