#include "ui/window/MacAppDelegate.h"

#include <QCursor>
#include <QGuiApplication>
#include <QMenu>
#include <QQmlEngine>
#include <QScreen>
#include <QSystemTrayIcon>

#include "app/MacAppModel.h"
#include "foundation/FreedMemoryReturner.h"
#include "app/notch/NotchWindowController.h"
#include "foundation/Log.h"
#include "ui/window/PanelNotifications.h"
#include "ui/window/PanelPlacement.h"
#include "ui/artwork/ServiceArtworkLoader.h"
#include "ui/window/StatusIcon.h"
#include "ui/window/TrayHostWatcher.h"
#include "ui/panel/MacStatusPanel.h"

namespace velto {

MacAppDelegate::MacAppDelegate(Setup setup, QObject* parent)
    : QObject(parent),
      mainQueue_(*setup.mainQueue),
      wantsStatusItem_(setup.statusItem),
      model_(setup.makeModel ? setup.makeModel() : nullptr),
      artworkLoader_(model_ ? std::make_unique<ServiceArtworkLoader>(
                                  model_->artworkService(), model_->environment().clock)
                            : nullptr),
      statusPanel_(model_ ? std::make_unique<MacStatusPanel>(*model_, artworkLoader_.get())
                          : nullptr),
      popover_(std::make_unique<PanelWindow>(setup.makeRoot(model_.get(), statusPanel_.get()))) {
    connect(popover_.get(), &PanelWindow::didClose, this, &MacAppDelegate::popoverDidClose);
    // The panel's views follow the song while it is closed too, and leave garbage each time.
    if (model_ && model_->environment().freedMemory) {
        model_->environment().freedMemory->addCollector([engine = QPointer(&popover_->engine())] {
            if (engine) engine->collectGarbage();
        });
    }
}

MacAppDelegate::~MacAppDelegate() {
    // The window hides as it goes; nothing may answer that on a half-destroyed delegate.
    disconnect(popoverFocusObserver_);
    disconnect(activationObserver_);
    disconnect(popover_.get(), nullptr, this, nullptr);
    if (statusItem_) statusItem_->hide();
}

void MacAppDelegate::applicationDidFinishLaunching() {
    // No main window: the panel is a utility window kept out of the taskbar (PanelWindow).
    if (wantsStatusItem_) {
        // At login the tray's host may start after the program, or restart later: the icon is
        // made once one is there, and Qt docks it again with each host after.
        if (QGuiApplication::platformName() == QLatin1String("xcb")) {
            const QByteArray display = qgetenv("DISPLAY");
            trayHosts_ = std::make_unique<TrayHostWatcher>(display.isEmpty() ? nullptr : display.constData());
        }
        // Qt settles at its first look whether the bus's hosts take the icon: it looks only
        // once a host is known.
        if (trayHosts_ ? trayHosts_->hostPresent() : QSystemTrayIcon::isSystemTrayAvailable()) {
            makeStatusItem();
        } else {
            Log::info("app", "no system tray on this desktop yet; the status item comes with one");
            if (trayHosts_)
                connect(trayHosts_.get(), &TrayHostWatcher::hostAppeared, this, &MacAppDelegate::makeStatusItem);
        }
    }

    // Open requests are taken on a later turn, never inside the posting call.
    observer_ = connect(&PanelNotifications::shared(), &PanelNotifications::veltoOpenStatusPanel,
                        this, [this] {
                            mainQueue_.post([self = QPointer(this)] {
                                if (self) self->showStatusPanel();
                            });
                        });
    // Another application becoming active leaves this one inactive.
    activationObserver_ = connect(qApp, &QGuiApplication::applicationStateChanged, this,
                                  [this](Qt::ApplicationState state) {
                                      if (state != Qt::ApplicationActive)
                                          close(CloseCause::lostActivation);
                                  });
    connect(qApp, &QCoreApplication::aboutToQuit, this, &MacAppDelegate::applicationWillTerminate);

    // Last: what it starts (the notch player) may ask for the panel at once.
    if (model_) model_->start();
    if (auto* notch = notchWindow())
        connect(notch, &NotchWindowController::shownFrameChanged, this,
                [this] { popover_->setObstacle(notchFrame()); });
}

bool MacAppDelegate::eventFilter(QObject* watched, QEvent* event) {
    const QEvent::Type type = event->type();
    if (watched == menu_.get() && (type == QEvent::KeyPress || type == QEvent::MouseButtonPress))
        menuOverPanel_.reset();
    return false;
}

void MacAppDelegate::makeStatusItem() {
    if (statusItem_) return;
    menu_ = std::make_unique<QMenu>();
    // Some tray hosts only ever open the menu, never sending the click.
    QAction* open = menu_->addAction(QStringLiteral("打开 Velto"));
    connect(open, &QAction::triggered, this, &MacAppDelegate::toggleStatusPanel);
    QAction* quit = menu_->addAction(QStringLiteral("退出 Velto"));
    quit->setObjectName(QStringLiteral("mac-status-quit"));
    connect(quit, &QAction::triggered, qApp, &QCoreApplication::quit);

    statusItem_ = new QSystemTrayIcon(makeStatusIcon(), this);
    statusItem_->setToolTip(QStringLiteral("Velto · 音乐与灵动岛"));
    statusItem_->setContextMenu(menu_.get());
    connect(statusItem_, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
        if (reason == QSystemTrayIcon::Trigger) toggleStatusPanel();
        // The menu is open already; the panel goes as it does on any other click.
        if (reason == QSystemTrayIcon::Context && popover_->isShown()) {
            menuOverPanel_ = QCursor::pos();
            close(CloseCause::request);
        }
    });
    // Opened while the panel had the activation, the menu is closed by Qt as the activation
    // moves on to the tray icon's own window: closed so before a key or a press reached it,
    // it opens again there, once.
    menu_->installEventFilter(this);
    connect(menu_.get(), &QMenu::aboutToHide, this, [this] {
        const auto at = std::exchange(menuOverPanel_, std::nullopt);
        if (!at) return;
        mainQueue_.post([self = QPointer(this), at] {
            if (self && self->menu_ && !self->menu_->isVisible()) self->menu_->popup(*at);
        });
    });
    statusItem_->show();
    // Qt follows the hosts from here on.
    if (trayHosts_) trayHosts_.release()->deleteLater();
}

NotchWindowController* MacAppDelegate::notchWindow() const {
    return model_ ? dynamic_cast<NotchWindowController*>(model_->notchController()) : nullptr;
}

// The panel leaves the notch player uncovered: its corner would hide the notch, and a pointer
// there would open the notch over the panel.
QRect MacAppDelegate::notchFrame() const {
    const NotchWindowController* notch = notchWindow();
    return notch ? notch->shownFrame().toAlignedRect() : QRect();
}

void MacAppDelegate::toggleStatusPanel() {
    if (popover_->isShown()) {
        close(CloseCause::request);
        return;
    }
    if (lostActivationAt_ && mainQueue_.uptime() - *lostActivationAt_ < trayRaceWindow) return;
    show(true);
}

void MacAppDelegate::showStatusPanel() { show(false); }

void MacAppDelegate::applicationShouldHandleReopen() {
    mainQueue_.post([self = QPointer(this)] {
        if (self) self->showStatusPanel();
    });
}

void MacAppDelegate::show(bool byTrayClick) {
    if (popover_->isShown() || !popover_->ensureRoot()) return;
    PanelPlacement::Input input;
    if (statusItem_) input.trayIcon = statusItem_->geometry();
    for (QScreen* screen : QGuiApplication::screens())
        input.screens.push_back({screen->geometry(), screen->availableGeometry()});
    input.cursor = QCursor::pos();
    input.openedByTrayClick = byTrayClick;
    input.obstacle = notchFrame();
    // Only the anchor is taken here: the view may still hold the size it closed at (its layout
    // resets when next drawn), and the window follows each size it takes from the anchor.
    popover_->showAt(PanelPlacement::anchor(input));
    if (statusPanel_) statusPanel_->setShown(true);
    // Losing activation stands for key-window loss and clicks in other applications alike.
    popoverFocusObserver_ = connect(popover_.get(), &QWindow::activeChanged, this, [this] {
        if (!popover_->isActive()) close(CloseCause::lostActivation);
    });
}

void MacAppDelegate::close(CloseCause cause) {
    if (!popover_->isShown()) return;
    if (cause == CloseCause::lostActivation) lostActivationAt_ = mainQueue_.uptime();
    popover_->performClose();
}

void MacAppDelegate::popoverDidClose() {
    disconnect(popoverFocusObserver_);
    popoverFocusObserver_ = {};
    if (statusPanel_) {
        statusPanel_->setShown(false);
        // A dialog of the program's own (a file dialog) takes the activation and so closes the
        // panel, which comes back when the dialog ends: on the page the dialog was opened from.
        if (!QGuiApplication::modalWindow()) statusPanel_->panelDidClose();
    }
    emit PanelNotifications::shared().veltoStatusPanelDidClose();
}

void MacAppDelegate::applicationWillTerminate() {
    close(CloseCause::request);
    disconnect(observer_);
    disconnect(activationObserver_);
}

}  // namespace velto
