#include <benchmark/benchmark.h>

#include <QQuickWindow>
#include <atomic>
#include <chrono>
#include <fstream>
#include <string>

#include "BenchMemory.h"
#include "BenchViews.h"
#include "BenchFavourites.h"
#include "ui/window/PanelWindow.h"

// The real status panel's views over the application model with 1,000 favourites: what it
// keeps in private memory once closed, before the first opening, after one and after twenty
// showings of the favourites, and how long a later opening takes to its first frame.

namespace velto {
namespace {

class PanelMemory : public FavouritesBench {
  public:
    PanelMemory() {
        window = std::make_unique<PanelWindow>(PanelWindow::Root{
            QUrl(QStringLiteral("qrc:/velto/qml/panel/MacStatusPanel.qml")),
            {},
            {{QStringLiteral("panel"), QVariant::fromValue<QObject*>(panel.get())}}});
        QObject::connect(window.get(), &QQuickWindow::afterRendering, window.get(),
                         [this] { rendered = true; }, Qt::DirectConnection);
        settle();
    }
    ~PanelMemory() override { window.reset(); }

    // Opens the panel on the favourites and waits for its frame; the seconds it took.
    double openFavourites() {
        auto started = std::chrono::steady_clock::now();
        rendered = false;
        if (!window->ensureRoot()) return -1;
        window->showAt({{}, PanelPlacement::Align::start, 0, PanelPlacement::Align::start, 0});
        panel->setShown(true);
        panel->selectTab("favorites");
        settle();
        for (int i = 0; i < 10000 && !rendered; ++i)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        return std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    }
    void close() {
        window->performClose();
        panel->setShown(false);
        panel->panelDidClose();
        settle();
        QCoreApplication::processEvents();
        // Outside a running event loop, as here, deleted views wait for this; the program's
        // loop deletes them on its own.
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }

    std::unique_ptr<PanelWindow> window;
    std::atomic<bool> rendered = false;
};

void BM_ClosedPanelMemory(benchmark::State& state) {
    startViewApplication();
    for (auto _ : state) {
        PanelMemory bench;
        QCoreApplication::processEvents();
        state.counters["idle_anon_MiB"] = anonymousMiB();
        double first = bench.openFavourites();
        bench.close();
        state.counters["first_open_ms"] = 1000 * first;
        state.counters["after_1_anon_MiB"] = anonymousMiB();
        double later = 0;
        for (int i = 1; i < 20; ++i) {
            later += bench.openFavourites();
            bench.close();
        }
        state.counters["later_open_ms"] = 1000 * later / 19;
        state.counters["after_20_anon_MiB"] = anonymousMiB();
    }
}
BENCHMARK(BM_ClosedPanelMemory)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace velto
