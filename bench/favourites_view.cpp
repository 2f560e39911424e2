#include <benchmark/benchmark.h>
#include <unistd.h>

#include <QQuickItem>
#include <fstream>

#include "BenchMemory.h"
#include "BenchViews.h"
#include "BenchFavourites.h"
#include "ui/window/PanelWindow.h"

namespace velto {
namespace {

// The status panel's own window over 1,000 favourites.
class Favourites : public FavouritesBench {
  public:
    Favourites() {
        window = std::make_unique<PanelWindow>(PanelWindow::Root{
            QUrl(QStringLiteral("qrc:/velto/qml/panel/MacStatusPanel.qml")), {},
            {{"panel", QVariant::fromValue<QObject*>(panel.get())}}});
        QObject::connect(window.get(), &PanelWindow::didClose, panel.get(), &MacStatusPanel::panelDidClose);
        window->ensureRoot();
        list = window->rootItem()->findChild<QQuickItem*>("mac-panel-song-scroll");
        QObject::connect(list->property("contentItem").value<QQuickItem*>(), &QQuickItem::childrenChanged,
                         [this] { ++rowsMadeOrGone; });
    }
    ~Favourites() override { window.reset(); }

    // Open, favourites, a scroll over five frames, close.
    void cycle() {
        window->showAt({{}, PanelPlacement::Align::start, 0, PanelPlacement::Align::start, 0});
        panel->selectTab("favorites");
        window->grabWindow();
        // The wheel's flick runs on the wall clock; its frames are set here, 150 px apart.
        for (int frame = 1; frame <= 5; ++frame) {
            list->setProperty("contentY", 150.0 * frame);
            window->grabWindow();
        }
        window->performClose();
        QCoreApplication::processEvents();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }

    std::unique_ptr<PanelWindow> window;
    QQuickItem* list = nullptr;
    long rowsMadeOrGone = 0;
};

// One opening of the favourites with a scroll and the closing; the resident growth per cycle
// should stay near zero and the rows made per cycle near a screenful.
void BM_FavouritesOpenScrollClose(benchmark::State& state) {
    startViewApplication();
    Favourites bench;
    bench.cycle();  // the view's first making is not a cycle's cost
    const double before = residentMiB();
    bench.rowsMadeOrGone = 0;
    for (auto _ : state) bench.cycle();
    const auto cycles = double(state.iterations());
    state.counters["MiB per cycle"] = (residentMiB() - before) / cycles;
    state.counters["rows made or gone per cycle"] = double(bench.rowsMadeOrGone) / cycles;
}
BENCHMARK(BM_FavouritesOpenScrollClose)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace velto
