#include "ui/window/TrayHostWatcher.h"

#include <xcb/xcb.h>

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusServiceWatcher>
#include <QDBusVariant>
#include <QSocketNotifier>
#include <cstdlib>

#include "foundation/Log.h"
#include "ui/notch/X11SelectionOwner.h"

namespace velto {

namespace {

const QString watcherService = QStringLiteral("org.kde.StatusNotifierWatcher");
const QString watcherPath = QStringLiteral("/StatusNotifierWatcher");

}  // namespace

TrayHostWatcher::TrayHostWatcher(const char* displayName, QObject* parent) : QObject(parent) {
    if (displayName) {
        int screenNumber = 0;
        connection_ = xcb_connect(displayName, &screenNumber);
        if (xcb_connection_has_error(connection_)) {
            Log::info("app", "no X display for following tray hosts");
            xcb_disconnect(connection_);
            connection_ = nullptr;
        } else {
            auto it = xcb_setup_roots_iterator(xcb_get_setup(connection_));
            for (int i = 0; i < screenNumber && it.rem > 0; ++i) xcb_screen_next(&it);
            selection_ = std::make_unique<X11SelectionOwner>(
                connection_, it.data->root, "_NET_SYSTEM_TRAY_S" + std::to_string(screenNumber));
            xembedHost_ = selection_->owner() != XCB_NONE;
            xcb_flush(connection_);
            notifier_ = new QSocketNotifier(xcb_get_file_descriptor(connection_),
                                            QSocketNotifier::Read, this);
            connect(notifier_, &QSocketNotifier::activated, this, &TrayHostWatcher::readEvents);
            // What the first replies brought along, which the socket no longer tells.
            QMetaObject::invokeMethod(this, &TrayHostWatcher::readEvents, Qt::QueuedConnection);
        }
    }

    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) return;
    // Hosts register with the watcher, which may itself start late or restart.
    auto* services = new QDBusServiceWatcher(watcherService, bus,
                                             QDBusServiceWatcher::WatchForOwnerChange, this);
    connect(services, &QDBusServiceWatcher::serviceOwnerChanged, this,
            &TrayHostWatcher::askStatusNotifierHost);
    bus.connect(watcherService, watcherPath, watcherService,
                QStringLiteral("StatusNotifierHostRegistered"), this,
                SLOT(askStatusNotifierHost()));
    bus.connect(watcherService, watcherPath, watcherService,
                QStringLiteral("StatusNotifierHostUnregistered"), this,
                SLOT(askStatusNotifierHost()));
    askStatusNotifierHost();
}

TrayHostWatcher::~TrayHostWatcher() {
    delete notifier_;
    selection_.reset();
    if (connection_) xcb_disconnect(connection_);
}

void TrayHostWatcher::readEvents() {
    while (xcb_generic_event_t* event = xcb_poll_for_event(connection_)) {
        if (selection_->take(event)) tell(xembedHost_, selection_->owner() != XCB_NONE);
        std::free(event);
    }
    if (xcb_connection_has_error(connection_)) {
        Log::error("app", "lost the X connection that follows tray hosts");
        notifier_->setEnabled(false);
    }
}

void TrayHostWatcher::askStatusNotifierHost() {
    QDBusMessage ask = QDBusMessage::createMethodCall(
        watcherService, watcherPath, QStringLiteral("org.freedesktop.DBus.Properties"),
        QStringLiteral("Get"));
    ask << watcherService << QStringLiteral("IsStatusNotifierHostRegistered");
    auto* answer = new QDBusPendingCallWatcher(QDBusConnection::sessionBus().asyncCall(ask), this);
    connect(answer, &QDBusPendingCallWatcher::finished, this,
            [this, asked = ++asked_](QDBusPendingCallWatcher* call) {
                call->deleteLater();
                if (asked != asked_) return;
                const QDBusPendingReply<QDBusVariant> reply = *call;
                // No watcher answers: no host.
                tell(statusNotifierHost_, !reply.isError() && reply.value().variant().toBool());
            });
}

void TrayHostWatcher::tell(bool& host, bool present) {
    const bool was = hostPresent();
    host = present;
    if (!was && hostPresent()) emit hostAppeared();
}

}  // namespace velto
