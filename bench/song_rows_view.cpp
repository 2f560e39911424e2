#include <benchmark/benchmark.h>

#include <QQmlComponent>
#include <QQmlContext>
#include <QQmlEngine>
#include <QQuickItem>
#include <QQuickWindow>
#include <chrono>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "BenchViews.h"
#include "sources/model/Track.h"
#include "ui/panel/PanelSongListModel.h"

namespace velto {
namespace {

// One base letter and then combining acute accents (2 bytes each) up to `bytes`.
std::string markedLetter(std::size_t bytes) {
    std::string text = "a";
    while (text.size() + 2 <= bytes) text += "\xCC\x81";
    return text;
}

// Fifteen titles of about 1 MB each, as a service may send them: one character of 1 MB
// (arg 0), or 500 characters of 2 KB each (arg 1); for comparison, the longest real name, 500
// CJK characters (arg 2). Each goes through the door every song passes, so the rows hold what
// the program would keep of it.
std::vector<PanelSongListModel::Row> hostileRows(std::int64_t kind) {
    std::string title;
    if (kind == 0) title = markedLetter(std::size_t{1} << 20);
    for (int i = 0; kind > 0 && i < 500; ++i) title += kind == 1 ? markedLetter(2048) : "晴";
    std::vector<PanelSongListModel::Row> rows;
    for (int i = 0; i < 15; ++i) {
        PanelSongListModel::Row row;
        row.track = Track::fromRaw(MusicSource::wy, {{"songmid", std::to_string(i + 1)},
                                                     {"name", std::to_string(i) + title},
                                                     {"singer", "周杰伦"}});
        rows.push_back(std::move(row));
    }
    return rows;
}

// From the rows' arrival to the first offscreen frame of the panel's song rows showing them.
// "title_KB" is what one kept title weighs.
void BM_ShowHostileSongTitles(benchmark::State& state) {
    startViewApplication();
    const auto rows = hostileRows(state.range(0));
    for (auto _ : state) {
        PanelSongListModel model(nullptr);
        QQmlEngine engine;
        QQmlContext context(engine.rootContext());
        context.setContextProperty(QStringLiteral("benchSongs"), &model);
        QQmlComponent component(&engine);
        component.setData("import QtQuick\nimport \"qrc:/velto/qml/panel\"\n"
                          "ListView { width: 380; height: 780; model: benchSongs; spacing: 2\n"
                          "  delegate: PanelSongRow { width: ListView.view.width } }\n",
                          QUrl(QStringLiteral("qrc:/bench/song_rows.qml")));
        std::unique_ptr<QQuickItem> view(qobject_cast<QQuickItem*>(component.create(&context)));
        if (!view) {
            state.SkipWithError(component.errorString().toStdString().c_str());
            return;
        }
        QQuickWindow window;
        window.resize(380, 780);
        view->setParentItem(window.contentItem());
        window.show();
        QCoreApplication::processEvents();
        const auto start = std::chrono::steady_clock::now();
        model.setRows(rows);
        QCoreApplication::processEvents();
        benchmark::DoNotOptimize(window.grabWindow());
        state.SetIterationTime(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
        state.counters["rows"] = double(model.count());
    }
    state.counters["title_KB"] = double(rows.front().track.title.size()) / 1024.0;
}
BENCHMARK(BM_ShowHostileSongTitles)->Arg(0)->Arg(1)->Arg(2)->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace velto
