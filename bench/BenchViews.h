#pragma once

#include <QGuiApplication>
#include <QQuickStyle>
#include <QQuickWindow>
#include <QSGRendererInterface>

#include "ui/style/AppFonts.h"
#include "ui/style/Theme.h"
#include "ui/ViewTypes.h"

namespace velto {

// The view benchmarks draw offscreen with the software scene graph, as the program does.
inline void startViewApplication() {
    static int argc = 1;
    static char name[] = "bench_views";
    static char* argv[] = {name, nullptr};
    static QGuiApplication* app = [] {
        qputenv("QT_QPA_PLATFORM", "offscreen");
        QQuickWindow::setGraphicsApi(QSGRendererInterface::Software);
        QQuickStyle::setStyle(QStringLiteral("Fusion"));
        auto* made = new QGuiApplication(argc, argv);
        AppFonts::install();
        registerViewTypes(new Theme);
        return made;
    }();
    (void)app;
}

}  // namespace velto
