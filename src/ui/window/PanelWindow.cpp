#include "ui/window/PanelWindow.h"

#include <xcb/xcb.h>
#include <malloc.h>

#include <QCursor>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMoveEvent>
#include <QResizeEvent>
#include <QPalette>
#include <QQmlComponent>
#include <QQmlContext>
#include <QQmlEngine>
#include <QQmlProperty>
#include <QQuickItem>
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "foundation/Log.h"
#include "ui/keys/ActivationKeys.h"
#include "ui/window/PanelNotifications.h"
#include "ui/style/Theme.h"

namespace velto {

namespace {

xcb_atom_t atom(xcb_connection_t* connection, const char* name) {
    auto* reply = xcb_intern_atom_reply(
        connection, xcb_intern_atom(connection, 0, static_cast<std::uint16_t>(std::strlen(name)), name),
        nullptr);
    const xcb_atom_t found = reply ? reply->atom : xcb_atom_t{XCB_ATOM_NONE};
    std::free(reply);
    return found;
}

}  // namespace

PanelWindow::PanelWindow(Root root) : rootSpec_(std::move(root)) {
    setFlags(Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint);
    setTitle(QStringLiteral("Velto"));
    new ActivationKeys(*this);
    engine_ = std::make_unique<QQmlEngine>();
    engine_->rootContext()->setContextProperty(QStringLiteral("panelNotifications"),
                                               &PanelNotifications::shared());
    // After the frame the view laid out: its layouts settle one by one, and heights read midway
    // disagree.
    connect(this, &QQuickWindow::afterSynchronizing, this, &PanelWindow::holdTallest, Qt::QueuedConnection);
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
    for (const char* name : {"noticeHeight", "pageOpen", "pageParts"})
        QQmlProperty(item, QString::fromLatin1(name)).connectNotifySignal(this, SLOT(fitToRoot()));
    fitToRoot();
    return true;
}

QSize PanelWindow::panelSize() const {
    if (!root_) return {};
    return QSizeF(root_->implicitWidth(), root_->implicitHeight()).toSize();
}

qreal PanelWindow::rootValue(const char* name) const {
    return root_ ? root_->property(name).toReal() : 0;
}

bool PanelWindow::pageOpen() const {
    return root_ && root_->property("pageOpen").toBool();
}

int PanelWindow::band() const {
    return std::clamp(int(rootValue("noticeHeight")), 0, panelSize().height());
}

QSize PanelWindow::contentSize() const {
    QSize size = panelSize() - QSize(0, band());
    // Over a top tray a page's growth moves nothing above it, so each takes its own height.
    if (pageHeld_ && growsUpward()) size.setHeight(std::max(size.height(), heldHeight_));
    return size;
}

PanelPlacement::PageParts PanelWindow::pageParts() const {
    const QVariantMap parts = root_ ? root_->property("pageParts").toMap() : QVariantMap();
    const auto part = [&](const char* name) { return int(std::ceil(parts.value(QString::fromLatin1(name)).toReal())); };
    return {part("shownPage"), part("spacing"), part("importSheet"), part("settings"), part("searchField"),
            part("scopePicker"), part("results"), part("summary"), part("catalog"), part("lyrics")};
}

QRect PanelWindow::contentFrame() const {
    return PanelPlacement::frame(anchor_, contentSize());
}

QRect PanelWindow::placedFrame() const {
    return PanelPlacement::withBand(anchor_, contentFrame(), band()).window;
}

void PanelWindow::setObstacle(QRect obstacle) {
    if (anchor_.obstacle == obstacle) return;
    anchor_.obstacle = obstacle;
    if (shown_) place();
}

void PanelWindow::fitToRoot() {
    if (shown_) {
        if (pageOpen()) {
            pageHeld_ = true;
            heldStale_ = true;
            update();
        } else if (!pointerIn_) {
            pageHeld_ = false;
            heldHeight_ = 0;
        }
        return place();
    }
    resize(panelSize());
    if (!isVisible()) reported_.setSize(panelSize());
    followFrame();
}

void PanelWindow::holdTallest() {
    if (!shown_ || !heldStale_ || !pageOpen()) return;
    heldStale_ = false;
    // It only grows while held: a frame may still show a page whose layouts have not all caught
    // up with a row that came, and nothing is to move for that.
    const int held = std::max(heldHeight_, PanelPlacement::tallestPage(panelSize().height() - band(), pageParts()));
    if (held == heldHeight_) return;
    heldHeight_ = held;
    place();
}

// A shown panel grows and shrinks from its anchor, so its side facing the tray stays put; the
// usable area may cut the frame, and the root scrolls what is left.
void PanelWindow::place() {
    corrections_ = 0;
    contentAt_ = contentFrame().topLeft();
    const QRect frame = placedFrame();
    // A window not on the screen yet has no frame to keep still.
    if (!isVisible()) reported_ = frame;
    setGeometry(frame);
    followFrame();
}

// The root takes the window's size as the window system last reported it, and the content its
// place on the screen within that frame: a window manager confirms a new frame a while after it
// was asked for, and until then the window stands where it stood.
void PanelWindow::followFrame() {
    if (!root_) return;
    root_->setSize(reported_.size());
    const QRect content = contentFrame();
    const PanelPlacement::Banded placed = PanelPlacement::withBand(anchor_, content, band());
    // A window not shown yet stands where it will be placed.
    const QPoint origin = shown_ ? reported_.topLeft() : placed.window.topLeft();
    const QRect area = content.translated(-origin);
    const QRect bandArea = placed.band.translated(-origin);
    if (area == contentArea_ && bandArea == bandArea_) return;
    contentArea_ = area;
    bandArea_ = bandArea;
    emit contentAreaChanged();
}

void PanelWindow::showAt(const PanelPlacement::Anchor& anchor) {
    if (shown_) return;
    shown_ = true;
    pageHeld_ = false;
    heldHeight_ = 0;
    pointerIn_ = false;
    pointer_.reset();
    droppingPress_ = false;
    const bool grewUpward = growsUpward();
    anchor_ = anchor;
    fitToRoot();
    if (growsUpward() != grewUpward) emit growsUpwardChanged();
    // Opaque: without a compositor a transparent window shows black. Taken on each showing, as
    // the controls' palette, so that a light or dark desktop palette set meanwhile applies.
    setColor(QGuiApplication::palette().window().color());
    Theme::paintControls(*this, QGuiApplication::palette());
    place();
    keepOutOfTaskbar();
    show();
    requestActivate();
    // Back as a dialog a key opened ends: the control that opened it has the focus again.
    QQuickItem* back = dialogOpener_ && dialogOpener_->isVisible() ? dialogOpener_.data()
                                                                 : findShown(dialogOpenerName_);
    if (back) back->forceActiveFocus(Qt::TabFocusReason);
    dialogOpener_ = nullptr;
    dialogOpenerName_.clear();
}

void PanelWindow::keepOutOfTaskbar() {
    // A tray popover has no taskbar or pager entry, yet it must stay a window that takes the
    // keyboard focus (a popup type would not get it from every window manager). The window
    // manager drops the state when the window is hidden, so it is set before each mapping; Qt
    // adds its own states to it then.
    if (QGuiApplication::platformName() != QLatin1String("xcb")) return;
    auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    xcb_connection_t* connection = x11 ? x11->connection() : nullptr;
    if (!connection) return;
    const xcb_atom_t states[] = {atom(connection, "_NET_WM_STATE_SKIP_TASKBAR"),
                                 atom(connection, "_NET_WM_STATE_SKIP_PAGER")};
    xcb_change_property(connection, XCB_PROP_MODE_REPLACE, static_cast<xcb_window_t>(winId()),
                        atom(connection, "_NET_WM_STATE"), XCB_ATOM_ATOM, 32, 2, states);
}

bool PanelWindow::event(QEvent* event) {
    // A window manager may place a new window by its own policy, or move it on a resize: the
    // panel goes back where it belongs, a few times per frame it asks for, so that a window
    // manager that insists is not fought without end. A move may also be the late confirmation
    // of an earlier frame, bringing back that frame's size while a newer one is on its way: the
    // whole frame is asked for again, never the position alone.
    if (event->type() == QEvent::Move && shown_ && geometry() != placedFrame() &&
        corrections_ < maxCorrections) {
        ++corrections_;
        setGeometry(placedFrame());
    }
    followPointer(event);
    if (dropsPress(event)) return true;
    if (event->type() == QEvent::MouseButtonPress) {
        keyed_ = nullptr;
        keyedName_.clear();
    }
    if (event->type() == QEvent::Move) reported_.moveTopLeft(static_cast<QMoveEvent*>(event)->pos());
    if (event->type() == QEvent::Resize) reported_.setSize(static_cast<QResizeEvent*>(event)->size());
    const bool handled = QQuickWindow::event(event);
    if (event->type() == QEvent::Move || event->type() == QEvent::Resize) followFrame();
    if (event->type() == QEvent::Move) pointAgain();
    return handled;
}

// Where the pointer is and whether it is over the panel. Only a pointer that moves takes the
// content where it stands now as what it aims at; the window moving under a resting pointer
// brings crossing events at the same place, and the pointer told again is no move.
void PanelWindow::followPointer(QEvent* event) {
    std::optional<QPointF> at;
    switch (event->type()) {
    case QEvent::Enter:
        pointerIn_ = true;
        at = static_cast<QEnterEvent*>(event)->globalPosition();
        break;
    case QEvent::Leave:
        pointerIn_ = false;
        // Nothing rests on the compact panel any more: it takes its own height.
        if (shown_ && pageHeld_ && !pageOpen()) fitToRoot();
        return;
    case QEvent::MouseMove:
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonDblClick:
    case QEvent::MouseButtonRelease: {
        auto* mouse = static_cast<QMouseEvent*>(event);
        if (QRectF(QPointF(), size()).contains(mouse->position())) pointerIn_ = true;
        if (!pointingAgain_) at = mouse->globalPosition();
        break;
    }
    default:
        return;
    }
    if (!at || at == pointer_) return;
    pointer_ = at;
    aimedAt_ = contentAt_;
}

bool PanelWindow::dropsPress(QEvent* event) {
    switch (event->type()) {
    case QEvent::MouseButtonPress:
        droppingPress_ = aimedAt_ != contentAt_;
        return droppingPress_;
    case QEvent::MouseButtonDblClick:
        return droppingPress_;
    case QEvent::MouseButtonRelease: {
        const bool dropping = droppingPress_;
        if (static_cast<QMouseEvent*>(event)->buttons() == Qt::NoButton) droppingPress_ = false;
        return dropping;
    }
    case QEvent::MouseMove:
        return droppingPress_;
    default:
        return false;
    }
}

// A window that moves under a pointer at rest gets no pointer event, so the scene would go on
// taking the pointer where it was in the window before the move: after the content is laid in
// its new place, what the pointer is over there would seem hovered and show its help. The
// pointer is told again where it is.
void PanelWindow::pointAgain() {
    if (!shown_ || QGuiApplication::mouseButtons() != Qt::NoButton) return;
    const QPoint global = QCursor::pos(screen());
    QMouseEvent moved(QEvent::MouseMove, mapFromGlobal(QPointF(global)), QPointF(global), Qt::NoButton,
                      Qt::NoButton, QGuiApplication::keyboardModifiers());
    pointingAgain_ = true;
    QCoreApplication::sendEvent(this, &moved);
    pointingAgain_ = false;
}

void PanelWindow::performClose() {
    if (!shown_) return;
    shown_ = false;
    hide();
    dropFocus();
    emit didClose();
    releaseClosedViews();
}

// Each opening starts with no control focused: a focus kept from the last one would come back
// on activation, which is no keyboard move and so shows no ring, and keys would act on it unseen.
void PanelWindow::dropFocus() {
    opener_ = nullptr;
    openerName_.clear();
    // Not when a dialog of the program's own closed it: its end brings the panel back. A dialog
    // may open a moment after the key that asked for it (once a worker has prepared what it
    // saves), so the control the last key acted on stands for its opener.
    if (!QGuiApplication::modalWindow()) {
        dialogOpener_ = nullptr;
        dialogOpenerName_.clear();
    } else if (!dialogOpener_ && dialogOpenerName_.isEmpty()) {
        dialogOpener_ = keyed_;
        dialogOpenerName_ = keyedName_;
    }
    keyed_ = nullptr;
    keyedName_.clear();
    if (QQuickItem* focused = contentItem()->scopedFocusItem()) focused->setFocus(false);
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
    deliverKey(event);
    if (event->isAccepted()) return;
    if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
        event->accept();
        performClose();
    } else if (event->key() == Qt::Key_Q && event->modifiers() == Qt::ControlModifier) {
        event->accept();
        QCoreApplication::quit();
    }
}

void PanelWindow::keyReleaseEvent(QKeyEvent* event) {
    deliverKey(event);
}

void PanelWindow::deliverKey(QKeyEvent* event) {
    const QPointer<QQuickItem> before = activeFocusItem();
    const QString beforeName = before ? before->objectName() : QString();
    const bool inDialog = QGuiApplication::modalWindow() != nullptr;
    ++keysActing_;
    if (event->type() == QEvent::KeyPress) QQuickWindow::keyPressEvent(event);
    else QQuickWindow::keyReleaseEvent(event);
    --keysActing_;
    if (!inDialog && QGuiApplication::modalWindow() && before) {
        dialogOpener_ = before;
        dialogOpenerName_ = beforeName;
    }
    if (event->type() == QEvent::KeyPress && event->isAccepted()) {
        keyed_ = before;
        keyedName_ = beforeName;
    }
    QQuickItem* now = activeFocusItem();
    if (now == before) return;
    // A menu or list the key opened holds the keys for its entries, and gives them back on closing.
    const bool opened = inPopup(now) && before && !inPopup(before);
    const bool dropped = !inPopup(now) && (!now || now == contentItem() || !now->activeFocusOnTab() ||
                                           !now->isVisible());
    if (!dropped) {
        if (before && (!before->isVisible() || opened)) {
            opener_ = before;
            openerName_ = beforeName;
        }
        return;
    }
    // The page may have made its controls anew meanwhile: the one of the same name stands in;
    // else a control its list made anew for the one that had the focus.
    QQuickItem* back = opener_ && opener_->isVisible() ? opener_.data() : findShown(openerName_);
    if (!back) back = findShown(beforeName);
    if (back) back->forceActiveFocus(Qt::TabFocusReason);
    opener_ = nullptr;
    openerName_.clear();
}

bool PanelWindow::inPopup(const QQuickItem* item) {
    for (; item; item = item->parentItem())
        if (item->inherits("QQuickPopupItem")) return true;
    return false;
}

QQuickItem* PanelWindow::findShown(const QString& name) const {
    if (name.isEmpty()) return nullptr;
    QQuickItem* found = nullptr;
    std::vector<QQuickItem*> items{contentItem()};
    while (!items.empty()) {
        QQuickItem* item = items.back();
        items.pop_back();
        if (!item->isVisible()) continue;
        if (item->objectName() == name && item->activeFocusOnTab() && item->isEnabled()) {
            if (found) return nullptr;  // one of many rows' controls: none stands in
            found = item;
        }
        for (QQuickItem* child : item->childItems()) items.push_back(child);
    }
    return found;
}

int PanelWindow::activationObserverCount() const {
    return receivers(SIGNAL(activeChanged()));
}

}  // namespace velto
