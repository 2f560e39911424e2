#include <benchmark/benchmark.h>

#include "BenchPlayback.h"
#include "ui/views/MacTrackListModel.h"

namespace velto {
namespace {

// The current song moves on in a 1,000-song queue, with (1) and without (0) a list of those
// songs following it; the difference is what the list costs.
void BM_CurrentSongChange(benchmark::State& state) {
    BenchPlayback bench;
    auto songs = BenchPlayback::songs(1000);
    std::unique_ptr<MacTrackListModel> following;
    if (state.range(0)) {
        following = std::make_unique<MacTrackListModel>(bench.service.get(), nullptr);
        following->setTracks(ListedTracks(songs));
    }
    int announced = 0;
    if (following)
        QObject::connect(following.get(), &QAbstractItemModel::dataChanged, [&] { ++announced; });
    bench.service->replaceQueue(songs, 0, false);
    bench.settle();
    for (auto _ : state) {
        bench.service->next();
        bench.settle();
    }
    state.counters["rows/change"] =
        benchmark::Counter(double(announced) / double(state.iterations()));
}
BENCHMARK(BM_CurrentSongChange)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace velto
