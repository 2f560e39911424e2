#include <benchmark/benchmark.h>

#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QQmlComponent>
#include <QQmlContext>
#include <QQmlEngine>
#include <QQuickItem>
#include <QQuickStyle>
#include <QQuickWindow>
#include <QSGRendererInterface>

#include "BenchPlayback.h"
#include "app/notch/NotchFakes.h"
#include "app/notch/NotchWindowController.h"
#include "BenchViews.h"
#include "ui/style/AppFonts.h"
#include "ui/style/Theme.h"
#include "ui/views/MacSeekSliderModel.h"
#include "ui/ViewTypes.h"
#include "ui/notch/NotchMeterItem.h"
#include "ui/notch/NotchMeterModel.h"
#include "ui/notch/NotchPlayerViewModel.h"

namespace velto {
namespace {

// One second of the notch window's life, on the virtual clock: the playback ticks and, while the
// meter swings, its steps; an offscreen software frame is drawn after each moment that changed
// what the view shows, as the scene graph would. Arguments: playing, expanded.
void BM_NotchSecond(benchmark::State& state) {
    startViewApplication();
    const bool playing = state.range(0) != 0;
    const bool expanded = state.range(1) != 0;
    BenchPlayback bench;
    NotchWindowController controller(bench.mainQueue, std::make_unique<notchtest::FakeDesktop>(), nullptr);
    controller.setEnabled(true);
    if (expanded) controller.expand(false);
    bench.service->replaceQueue(BenchPlayback::songs(2), 0, true);
    bench.settle();
    if (!playing) {
        bench.service->pause();
        bench.settle();
    }
    NotchPlayerViewModel player(controller, *bench.service, nullptr, bench.mainQueue);

    QQmlEngine engine;
    QQmlContext context(engine.rootContext());
    context.setContextProperty(QStringLiteral("benchPlayer"), &player);
    QQmlComponent component(&engine);
    component.setData("import QtQuick\nimport \"qrc:/velto/qml\"\nNotchPlayerView { player: benchPlayer }\n",
                      QUrl(QStringLiteral("qrc:/bench/notch.qml")));
    std::unique_ptr<QQuickItem> view(qobject_cast<QQuickItem*>(component.create(&context)));
    const QSizeF size = controller.geometry().frame(expanded).size();
    QQuickWindow window;
    window.resize(size.toSize());
    view->setParentItem(window.contentItem());
    view->setSize(size);
    window.show();
    // The meter steps on the virtual clock's timers like the playback ticks.
    NotchMeterModel* meter = player.meter();

    // What the view shows changes only through these; a frame follows each change.
    bool dirty = false;
    const auto markDirty = [&] { dirty = true; };
    for (auto signal : {&NotchPlayerViewModel::layoutChanged, &NotchPlayerViewModel::trackChanged,
                        &NotchPlayerViewModel::playbackChanged, &NotchPlayerViewModel::timeChanged,
                        &NotchPlayerViewModel::footerChanged, &NotchPlayerViewModel::volumeChanged}) {
        QObject::connect(&player, signal, markDirty);
    }
    QObject::connect(player.seek(), &MacSeekSliderModel::positionChanged, markDirty);
    QObject::connect(meter, &NotchMeterModel::heightsChanged, markDirty);
    QCoreApplication::processEvents();
    (void)window.grabWindow();
    long frames = 0;
    const auto frameIfChanged = [&] {
        QCoreApplication::processEvents();
        if (!dirty) return;
        dirty = false;
        ++frames;
        benchmark::DoNotOptimize(window.grabWindow());
    };
    for (auto _ : state) {
        for (int step = 0; step < 50; ++step) {  // 20 ms apart, a frame after each change
            if (bench.service->elapsed() > 225) bench.service->seek(0);
            bench.mainQueue.advance(std::chrono::milliseconds(20));
            frameIfChanged();
        }
    }
    state.counters["frames/s"] = benchmark::Counter(double(frames) / double(state.iterations()));
}
BENCHMARK(BM_NotchSecond)
    ->ArgsProduct({{0, 1}, {0, 1}})
    ->ArgNames({"playing", "expanded"})
    ->Unit(benchmark::kMillisecond);

// One swing step of the meter as its own X window draws it, short of sending it: the bars at
// the step's heights on the backdrop, in the meter's 24 by 20 pixels.
void BM_NotchMeterStep(benchmark::State& state) {
    QImage image(24, 20, QImage::Format_ARGB32_Premultiplied);
    double seconds = 0;
    for (auto _ : state) {
        seconds += 0.14;
        QList<double> heights(NotchMeterModel::barCount);
        for (int i = 0; i < heights.size(); ++i) heights[i] = NotchMeterModel::swingHeight(i, seconds);
        image.fill(Qt::black);
        QPainter painter(&image);
        NotchMeterItem::paintBars(painter, image.size(), heights, 0.9);
    }
    benchmark::DoNotOptimize(image.constBits());
}
BENCHMARK(BM_NotchMeterStep)->Unit(benchmark::kMicrosecond);

// One hover event on the controller: entering schedules the open, leaving cancels it.
void BM_NotchHover(benchmark::State& state) {
    ManualMainQueue queue;
    NotchWindowController controller(queue, std::make_unique<notchtest::FakeDesktop>(), nullptr);
    controller.setEnabled(true);
    bool inside = false;
    for (auto _ : state) {
        inside = !inside;
        controller.hover(inside);
    }
    benchmark::DoNotOptimize(controller.hasPendingAction());
}
BENCHMARK(BM_NotchHover)->Unit(benchmark::kNanosecond);

}  // namespace
}  // namespace velto
