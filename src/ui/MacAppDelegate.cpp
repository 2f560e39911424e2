#include "ui/MacAppDelegate.h"

#include <QApplication>
#include <QMenu>
#include <QSystemTrayIcon>

#include "foundation/Log.h"
#include "ui/StatusIcon.h"

namespace velto {

MacAppDelegate::MacAppDelegate(QObject* parent) : QObject(parent) {}

MacAppDelegate::~MacAppDelegate() {
    if (statusItem_) statusItem_->hide();
}

bool MacAppDelegate::applicationDidFinishLaunching() {
    menu_ = std::make_unique<QMenu>();
    QAction* quit = menu_->addAction(QStringLiteral("退出 Velto"));
    quit->setObjectName(QStringLiteral("mac-status-quit"));
    connect(quit, &QAction::triggered, qApp, &QCoreApplication::quit);

    if (!QSystemTrayIcon::isSystemTrayAvailable()) {
        Log::info("app", "no system tray on this desktop; running without a status item");
        return false;
    }
    statusItem_ = new QSystemTrayIcon(makeStatusIcon(), this);
    statusItem_->setToolTip(QStringLiteral("Velto"));
    statusItem_->setContextMenu(menu_.get());
    statusItem_->show();
    return true;
}

}  // namespace velto
