#include "ui/PanelWindow.h"

#include <malloc.h>

#include <QGuiApplication>
#include <QKeyEvent>
#include <QPalette>
#include <QQmlComponent>
#include <QQmlContext>
#include <QQmlEngine>
#include <QQuickItem>

#include "foundation/Log.h"
#include "ui/PanelNotifications.h"

namespace velto {

PanelWindow::PanelWindow(Root root) : rootSpec_(std::move(root)) {
    setFlags(Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint);
    setTitle(QStringLiteral("Velto"));
    engine_ = std::make_unique<QQmlEngine>();
    engine_->rootContext()->setContextProperty(QStringLiteral("panelNotifications"),
                                               &PanelNotifications::shared());
}

PanelWindow::~PanelWindow() {
    root_.reset();
    engine_.reset();
}

bool PanelWindow::ensureRoot() {
    if (root_) return true;
    if (rootFailed_) return false;
    QQmlComponent component(engine_.get());
    if (rootSpec_.source.isEmpty()) component.loadUrl(rootSpec_.url);
    else component.setData(rootSpec_.source, rootSpec_.url);
    // Creating from a component in error crashes rather than failing.
    QObject* object =
        component.isReady() ? component.createWithInitialProperties(rootSpec_.properties) : nullptr;
    auto* item = qobject_cast<QQuickItem*>(object);
    if (!item) {
        delete object;
        rootFailed_ = true;
        Log::error("app", "the panel view cannot be made: " + component.errorString().toStdString());
        return false;
    }
    root_.reset(item);
    item->setParentItem(contentItem());
    connect(item, &QQuickItem::implicitWidthChanged, this, &PanelWindow::fitToRoot);
    connect(item, &QQuickItem::implicitHeightChanged, this, &PanelWindow::fitToRoot);
    fitToRoot();
    return true;
}

QSize PanelWindow::panelSize() const {
    if (!root_) return {};
    return QSizeF(root_->implicitWidth(), root_->implicitHeight()).toSize();
}

void PanelWindow::fitToRoot() {
    // Resizing keeps the top-left corner where it is.
    const QSize size = panelSize();
    root_->setSize(size);
    resize(size);
}

void PanelWindow::showAt(QPoint topLeft) {
    if (shown_) return;
    shown_ = true;
    // Opaque: without a compositor a transparent window shows black. Taken on each showing so
    // that a light or dark desktop palette set meanwhile applies.
    setColor(QGuiApplication::palette().window().color());
    setPosition(topLeft);
    show();
    requestActivate();
}

void PanelWindow::performClose() {
    if (!shown_) return;
    shown_ = false;
    hide();
    emit didClose();
    releaseClosedViews();
}

// What the closed panel's views let go of (the rows of a list, a page left) is garbage of the
// script engine until it collects; collected at once, and the freed heap handed back, a closed
// panel holds only what the next opening reuses.
void PanelWindow::releaseClosedViews() {
    engine_->collectGarbage();
    engine_->trimComponentCache();
    malloc_trim(0);
}

void PanelWindow::keyPressEvent(QKeyEvent* event) {
    // What the view leaves unhandled: Escape closes, as the system popover does, and the quit
    // item's key lives here, there being no application menu bar.
    QQuickWindow::keyPressEvent(event);
    if (event->isAccepted()) return;
    if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
        event->accept();
        performClose();
    } else if (event->key() == Qt::Key_Q && event->modifiers() == Qt::ControlModifier) {
        event->accept();
        QCoreApplication::quit();
    }
}

int PanelWindow::activationObserverCount() const {
    return receivers(SIGNAL(activeChanged()));
}

}  // namespace velto
