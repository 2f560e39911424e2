#include "ui/notch/QtNotchDesktopWatcher.h"

#include <QCursor>
#include <QGuiApplication>
#include <QMouseEvent>
#include <QScreen>
#include <QTimer>
#include <QWindow>

#include "ui/notch/X11RootWatcher.h"

namespace velto {

QtNotchDesktopWatcher::QtNotchDesktopWatcher(QObject* parent) : QObject(parent) {
    if (QGuiApplication::platformName() == QLatin1String("xcb")) {
        // The display Qt itself uses, reached again on a connection of our own.
        const QByteArray display = qgetenv("DISPLAY");
        root_ = X11RootWatcher::connect(display.isEmpty() ? nullptr : display.constData(), this);
    }
    if (root_) {
        root_->setHandlers({
            .pressed = [this] { reportPress(); },
            .activeWindowChanged = [this](std::optional<qint64> pid) {
                if (handlers_.applicationActivated) handlers_.applicationActivated(pid);
            },
            .obscuredChanged = [this](bool obscured) {
                if (handlers_.obscuredChanged) handlers_.obscuredChanged(obscured);
            },
        });
    }

    auto* app = qGuiApp;
    connect(app, &QGuiApplication::screenAdded, this, [this](QScreen* screen) {
        watchScreen(screen);
        screensChangedSoon();
    });
    connect(app, &QGuiApplication::screenRemoved, this, &QtNotchDesktopWatcher::screensChangedSoon);
    connect(app, &QGuiApplication::primaryScreenChanged, this, &QtNotchDesktopWatcher::screensChangedSoon);
    for (QScreen* screen : QGuiApplication::screens()) watchScreen(screen);
}

QtNotchDesktopWatcher::~QtNotchDesktopWatcher() {
    watchPresses(false);
}

void QtNotchDesktopWatcher::setHandlers(Handlers handlers) {
    handlers_ = std::move(handlers);
    // What the display showed before anyone asked.
    if (root_ && root_->obscured() && handlers_.obscuredChanged) handlers_.obscuredChanged(true);
}

std::vector<NotchDesktopWatcher::Screen> QtNotchDesktopWatcher::screens() const {
    // No screen here has a camera housing or a top inset, so the primary one is the choice.
    std::vector<Screen> result;
    if (QScreen* primary = QGuiApplication::primaryScreen()) result.push_back({primary->geometry()});
    for (QScreen* screen : QGuiApplication::screens()) {
        if (screen != QGuiApplication::primaryScreen()) result.push_back({screen->geometry()});
    }
    return result;
}

void QtNotchDesktopWatcher::watchPresses(bool on) {
    if (watching_ == on) return;
    watching_ = on;
    if (on) {
        qGuiApp->installEventFilter(this);
    } else {
        qGuiApp->removeEventFilter(this);
    }
    if (root_) root_->watchPresses(on);
}

void QtNotchDesktopWatcher::watchNotch(QWindow* window) {
    if (!root_ || !window) return;
    const auto follow = [this, window] {
        root_->setNotchWindow(window->isVisible() ? static_cast<std::uint32_t>(window->winId()) : 0);
    };
    connect(window, &QWindow::visibleChanged, this, follow);
    follow();
}

bool QtNotchDesktopWatcher::eventFilter(QObject* watched, QEvent* event) {
    // Every press passes its window first; items and widgets below it see it again.
    if (event->type() == QEvent::MouseButtonPress && qobject_cast<QWindow*>(watched)) {
        const auto* press = static_cast<QMouseEvent*>(event);
        if (handlers_.pressed) handlers_.pressed(press->globalPosition());
    }
    return false;
}

void QtNotchDesktopWatcher::watchScreen(QScreen* screen) {
    connect(screen, &QScreen::geometryChanged, this, &QtNotchDesktopWatcher::screensChangedSoon);
}

void QtNotchDesktopWatcher::screensChangedSoon() {
    // A removed screen is still listed while its signal runs; measure on the next turn, once.
    if (screenChangePending_) return;
    screenChangePending_ = true;
    QTimer::singleShot(0, this, [this] {
        screenChangePending_ = false;
        if (handlers_.screensChanged) handlers_.screensChanged();
    });
}

void QtNotchDesktopWatcher::reportPress() {
    // Raw presses carry no position; the pointer's is the one that counts.
    if (handlers_.pressed) handlers_.pressed(QCursor::pos());
}

}  // namespace velto
