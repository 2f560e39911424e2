#include <benchmark/benchmark.h>

#include <QGuiApplication>
#include <QQmlComponent>
#include <QQmlContext>
#include <QQmlEngine>
#include <QQuickItem>
#include <QQuickStyle>
#include <QQuickWindow>
#include <QSGRendererInterface>

#include "BenchPlayback.h"
#include "BenchViews.h"
#include "ui/style/AppFonts.h"
#include "ui/views/MacLyricsModel.h"
#include "ui/style/Theme.h"
#include "ui/ViewTypes.h"

namespace velto {
namespace {

// Lines spread evenly over the fake player's 240 s song.
LyricsDocument lyrics(int count) {
    std::vector<LyricLine> lines;
    for (int i = 0; i < count; ++i)
        lines.push_back({"L" + std::to_string(i), 230.0 * i / count, "line " + std::to_string(i)});
    return LyricsDocument(std::move(lines), {});
}

struct Following {
    explicit Following(int lines) : model(bench.service.get(), bench.mainQueue) {
        bench.service->replaceQueue(BenchPlayback::songs(1), 0, true);
        bench.settle();
        model.setDocument(lyrics(lines));
        QObject::connect(&model, &QAbstractItemModel::dataChanged, [this] { ++announced; });
    }
    // One playback tick (0.2 s); back to the start before the song ends.
    void tick() {
        if (bench.service->elapsed() > 225) {
            bench.service->seek(0);
            bench.settle();
        }
        bench.mainQueue.advance(std::chrono::milliseconds(200));
    }
    BenchPlayback bench;
    MacLyricsModel model;
    long announced = 0;
};

void BM_LyricsTick(benchmark::State& state) {
    Following following(int(state.range(0)));
    for (auto _ : state) following.tick();
    state.counters["rows/tick"] =
        benchmark::Counter(double(following.announced) / double(state.iterations()));
}
BENCHMARK(BM_LyricsTick)->Arg(50)->Arg(500)->Arg(5000)->Unit(benchmark::kMicrosecond);

// A tick and an offscreen software frame of the lyrics view while it follows the song.
void BM_LyricsViewFrame(benchmark::State& state) {
    startViewApplication();
    Following following(int(state.range(0)));
    following.model.setReduceMotion(true);  // each tick lands on its line at once
    QQmlEngine engine;
    QQmlContext context(engine.rootContext());
    context.setContextProperty(QStringLiteral("benchLyrics"), &following.model);
    QQmlComponent component(&engine);
    component.setData("import QtQuick\nimport \"qrc:/velto/qml\"\n"
                      "MacPanelLyricsView { lyrics: benchLyrics; width: 380; height: 300 }\n",
                      QUrl(QStringLiteral("qrc:/bench/lyrics.qml")));
    std::unique_ptr<QQuickItem> view(qobject_cast<QQuickItem*>(component.create(&context)));
    QQuickWindow window;
    window.resize(380, 300);
    view->setParentItem(window.contentItem());
    window.show();
    for (auto _ : state) {
        following.tick();
        QCoreApplication::processEvents();
        benchmark::DoNotOptimize(window.grabWindow());
    }
}
BENCHMARK(BM_LyricsViewFrame)->Arg(50)->Arg(5000)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace velto
