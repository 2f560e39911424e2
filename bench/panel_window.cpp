#include <benchmark/benchmark.h>
#include <unistd.h>

#include <QGuiApplication>
#include <QQuickStyle>
#include <QQuickWindow>
#include <QSGRendererInterface>
#include <atomic>
#include <fstream>
#include <string>

#include "foundation/ManualMainQueue.h"
#include "BenchMemory.h"
#include "BenchViews.h"
#include "ui/style/AppFonts.h"
#include "ui/window/MacAppDelegate.h"
#include "ui/PanelFixture.h"
#include "ui/style/Theme.h"
#include "ui/ViewTypes.h"

namespace velto {
namespace {

// The delegate over the stand-in panel with `rows` songs, and a way to wait for its next frame.
struct Panel {
    explicit Panel(int rows) : delegate(panelFixtureSetup(mainQueue, rows)) {
        delegate.applicationDidFinishLaunching();
        QObject::connect(&delegate.panel(), &QQuickWindow::afterRendering, &delegate.panel(),
                         [this] { rendered = true; }, Qt::DirectConnection);
    }
    ~Panel() { delegate.applicationWillTerminate(); }
    // From the tray click to the first frame of the shown panel.
    void openToFirstFrame() {
        rendered = false;
        delegate.toggleStatusPanel();
        for (int i = 0; i < 10000 && !rendered; ++i)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    void close() {
        delegate.toggleStatusPanel();
        QCoreApplication::processEvents();
    }

    ManualMainQueue mainQueue;
    MacAppDelegate delegate;
    std::atomic<bool> rendered = false;
};

// The first opening makes the panel's view.
void BM_FirstOpening(benchmark::State& state) {
    startViewApplication();
    for (auto _ : state) {
        state.PauseTiming();
        auto panel = std::make_unique<Panel>(1000);
        state.ResumeTiming();
        panel->openToFirstFrame();
        state.PauseTiming();
        panel.reset();
        state.ResumeTiming();
    }
}
BENCHMARK(BM_FirstOpening)->Unit(benchmark::kMillisecond)->Iterations(10);

void BM_LaterOpening(benchmark::State& state) {
    startViewApplication();
    Panel panel(1000);
    panel.openToFirstFrame();
    panel.close();
    for (auto _ : state) {
        panel.openToFirstFrame();
        state.PauseTiming();
        panel.close();
        state.ResumeTiming();
    }
}
BENCHMARK(BM_LaterOpening)->Unit(benchmark::kMillisecond);

// Resident size idle before the first opening, after the first cycle and after 20 cycles.
void BM_ResidentSize(benchmark::State& state) {
    startViewApplication();
    for (auto _ : state) {
        Panel panel(1000);
        QCoreApplication::processEvents();
        state.counters["idle_MiB"] = residentMiB();
        state.counters["idle_anon_MiB"] = anonymousMiB();
        panel.openToFirstFrame();
        panel.close();
        state.counters["after_1_MiB"] = residentMiB();
        state.counters["after_1_anon_MiB"] = anonymousMiB();
        for (int i = 1; i < 20; ++i) {
            panel.openToFirstFrame();
            panel.close();
        }
        state.counters["after_20_MiB"] = residentMiB();
        state.counters["after_20_anon_MiB"] = anonymousMiB();
    }
}
BENCHMARK(BM_ResidentSize)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace velto
