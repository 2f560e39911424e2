#include <QApplication>

#include "foundation/Log.h"
#include "ui/AppFonts.h"
#include "ui/MacAppDelegate.h"

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Velto"));
    QApplication::setOrganizationDomain(QStringLiteral("quorvanel.cn"));
    // A tray program: closing a window never ends it, only the quit action does.
    QApplication::setQuitOnLastWindowClosed(false);
    // Before any menu or view exists, so the tray menu's Chinese renders on a fresh machine too.
    velto::AppFonts::install();

    velto::MacAppDelegate delegate;
    delegate.applicationDidFinishLaunching();
    velto::Log::info("app", "started");
    return QApplication::exec();
}
