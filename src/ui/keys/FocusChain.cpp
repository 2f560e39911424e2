#include "ui/keys/FocusChain.h"

#include <QKeyEvent>
#include <QMetaProperty>
#include <QQuickItem>
#include <QQuickWindow>
#include <algorithm>
#include <cmath>
#include <numeric>

#include "ui/keys/ListKeys.h"

namespace velto {

namespace {

// Where an item view scrolls a row to so that it shows whole, moving no further than that.
constexpr int containMode = 4;

QRectF boxOf(const QQuickItem* item) {
    return item->mapRectToScene(QRectF(0, 0, item->width(), item->height()));
}

bool inPopup(const QQuickItem* item) {
    for (; item; item = item->parentItem())
        if (item->inherits("QQuickPopupItem")) return true;
    return false;
}

bool isItemView(const QQuickItem* item) {
    return item->inherits("QQuickItemView");
}

bool isList(const QQuickItem* item) {
    return isItemView(item) || item->property("focusList").toBool();
}

QQuickItem* itemProperty(const QQuickItem* item, const char* name) {
    return item->property(name).value<QQuickItem*>();
}

double contentYOf(const QQuickItem* list) {
    return list ? list->property("contentY").toDouble() : 0;
}

}  // namespace

FocusChain::FocusChain(QObject* parent) : QObject(parent) {}

FocusChain::~FocusChain() {
    if (window_) window_->removeEventFilter(this);
}

void FocusChain::setScope(QQuickItem* scope) {
    if (scope == scope_) return;
    if (scope_) disconnect(scope_, nullptr, this, nullptr);
    scope_ = scope;
    if (scope) connect(scope, &QQuickItem::windowChanged, this, &FocusChain::attach);
    attach(scope ? scope->window() : nullptr);
    emit scopeChanged();
}

void FocusChain::attach(QQuickWindow* window) {
    if (window == window_) return;
    if (window_) {
        window_->removeEventFilter(this);
        disconnect(following_);
    }
    window_ = window;
    held_ = {};
    if (!window) return;
    window->installEventFilter(this);
    following_ = connect(window, &QQuickWindow::activeFocusItemChanged, this, &FocusChain::focusMoved);
}

// --- The rules --------------------------------------------------------------------------------

QList<int> FocusChain::visualOrder(const QList<QRectF>& boxes) {
    QList<int> byTop(boxes.size());
    std::iota(byTop.begin(), byTop.end(), 0);
    std::stable_sort(byTop.begin(), byTop.end(), [&](int a, int b) {
        return boxes[a].top() < boxes[b].top();
    });
    QList<int> order;
    for (qsizetype first = 0; first < byTop.size();) {
        double bottom = boxes[byTop[first]].bottom();
        qsizetype end = first + 1;
        // A box that starts above the band's bottom lies beside the band's boxes.
        while (end < byTop.size() && boxes[byTop[end]].top() < bottom - 1) {
            bottom = std::max(bottom, boxes[byTop[end]].bottom());
            ++end;
        }
        QList<int> band = byTop.mid(first, end - first);
        std::stable_sort(band.begin(), band.end(), [&](int a, int b) {
            return boxes[a].left() < boxes[b].left();
        });
        order += band;
        first = end;
    }
    return order;
}

bool FocusChain::before(const QRectF& box, const QRectF& gone) {
    if (box.bottom() <= gone.top() + 1) return true;
    const bool beside = box.top() < gone.bottom() - 1 && gone.top() < box.bottom() - 1;
    return beside && box.center().x() < gone.center().x();
}

int FocusChain::columns(const QList<QRectF>& rows) {
    if (rows.isEmpty()) return 1;
    const auto inFirstLine = std::count_if(rows.begin(), rows.end(), [&](const QRectF& row) {
        return std::abs(row.top() - rows.first().top()) < 1;
    });
    return std::max<int>(1, int(inFirstLine));
}

int FocusChain::entryRow(int asked, int count, const QList<QRectF>& rows, const QRectF& viewport) {
    if (count <= 0) return -1;
    if (asked >= 0 && asked < count) return asked;
    const auto limit = std::min<qsizetype>(count, rows.size());
    for (qsizetype i = 0; i < limit; ++i)
        if (!rows[i].isNull() && rows[i].top() >= viewport.top() - 1 && rows[i].bottom() <= viewport.bottom() + 1)
            return int(i);
    for (qsizetype i = 0; i < limit; ++i)
        if (!rows[i].isNull() && rows[i].intersects(viewport)) return int(i);
    return 0;
}

// --- The items --------------------------------------------------------------------------------

QList<FocusChain::Stop> FocusChain::stopsIn(QQuickItem* item, const QQuickItem* counted) const {
    const bool holdsCounted = counted && (item == counted || item->isAncestorOf(counted));
    if (!holdsCounted && (!item->isVisible() || !item->isEnabled())) return {};
    if (item == counted || (item->activeFocusOnTab() && !isList(item))) return {{item, false, boxOf(item)}};
    if (isList(item)) {
        QList<Stop> stops;
        if (isItemView(item))
            if (QQuickItem* header = itemProperty(item, "headerItem")) stops += stopsIn(header, counted);
        const bool hasRows = isItemView(item) ? countOf(item) > 0 : !rowsOf(item).isEmpty();
        if (hasRows) stops << Stop{item, true, boxOf(item)};
        if (isItemView(item))
            if (QQuickItem* footer = itemProperty(item, "footerItem")) stops += stopsIn(footer, counted);
        return stops;
    }
    QList<QList<Stop>> groups;
    QList<QRectF> firsts;
    for (QQuickItem* child : item->childItems()) {
        QList<Stop> stops = stopsIn(child, counted);
        if (stops.isEmpty()) continue;
        firsts << stops.first().box;
        groups << std::move(stops);
    }
    QList<Stop> stops;
    for (int index : visualOrder(firsts)) stops += groups[index];
    return stops;
}

QList<FocusChain::Row> FocusChain::rowsOf(QQuickItem* list) const {
    QList<Row> rows;
    if (isItemView(list)) {
        QQuickItem* content = itemProperty(list, "contentItem");
        const QQuickItem* header = itemProperty(list, "headerItem");
        const QQuickItem* footer = itemProperty(list, "footerItem");
        for (QQuickItem* child : content ? content->childItems() : QList<QQuickItem*>()) {
            const QVariant index = child->property("index");
            if (child == header || child == footer || !child->isVisible() || !index.isValid() || index.toInt() < 0)
                continue;
            rows << Row{child, index.toInt()};
        }
        std::sort(rows.begin(), rows.end(), [](const Row& a, const Row& b) { return a.index < b.index; });
        return rows;
    }
    QList<QQuickItem*> children;
    QList<QRectF> boxes;
    for (QQuickItem* child : list->childItems()) {
        if (stopsIn(child).isEmpty()) continue;
        children << child;
        boxes << boxOf(child);
    }
    for (int index : visualOrder(boxes)) rows << Row{children[index], int(rows.size())};
    return rows;
}

int FocusChain::countOf(QQuickItem* list) const {
    return isItemView(list) ? list->property("count").toInt() : int(rowsOf(list).size());
}

QRectF FocusChain::viewportOf(QQuickItem* list) const {
    if (isItemView(list)) return boxOf(list);
    for (QQuickItem* at = list->parentItem(); at; at = at->parentItem())
        if (at->inherits("QQuickFlickable")) return boxOf(at);
    return boxOf(list);
}

QQuickItem* FocusChain::rowAt(QQuickItem* list, int index) const {
    if (!isItemView(list)) {
        const QList<Row> rows = rowsOf(list);
        return index >= 0 && index < rows.size() ? rows[index].item : nullptr;
    }
    if (index < 0 || index >= countOf(list)) return nullptr;
    QMetaObject::invokeMethod(list, "positionViewAtIndex", Q_ARG(int, index), Q_ARG(int, containMode));
    QQuickItem* row = nullptr;
    QMetaObject::invokeMethod(list, "itemAtIndex", Q_RETURN_ARG(QQuickItem*, row), Q_ARG(int, index));
    return row;
}

QQuickItem* FocusChain::listOf(QQuickItem* item, int* row) const {
    for (QQuickItem* at = item; at; at = at->parentItem()) {
        QQuickItem* parent = at->parentItem();
        if (!parent) break;
        if (parent->property("focusList").toBool()) {
            const QList<Row> rows = rowsOf(parent);
            const auto found = std::find_if(rows.begin(), rows.end(), [&](const Row& r) { return r.item == at; });
            if (row) *row = found == rows.end() ? -1 : found->index;
            return parent;
        }
        QQuickItem* view = parent->parentItem();
        if (view && isItemView(view) && itemProperty(view, "contentItem") == parent) {
            if (at == itemProperty(view, "headerItem") || at == itemProperty(view, "footerItem"))
                return nullptr;
            if (row) *row = at->property("index").toInt();
            return view;
        }
    }
    return nullptr;
}

QQuickItem* FocusChain::footerListOf(QQuickItem* item) const {
    for (QQuickItem* at = item; at; at = at->parentItem()) {
        QQuickItem* content = at->parentItem();
        QQuickItem* view = content ? content->parentItem() : nullptr;
        if (view && isItemView(view) && itemProperty(view, "contentItem") == content &&
            itemProperty(view, "footerItem") == at)
            return view;
    }
    return nullptr;
}

QQuickItem* FocusChain::placeOf(QQuickItem* item) const {
    for (QQuickItem* at = item; at; at = at->parentItem())
        if (QQuickItem* place = itemProperty(at, "focusPlace"); place && !place->isAncestorOf(item)) return place;
    return nullptr;
}

QList<QQuickItem*> FocusChain::listsIn(QQuickItem* item) const {
    QList<QQuickItem*> lists;
    if (!item) return lists;
    if (isList(item)) lists << item;
    for (QQuickItem* child : item->childItems()) lists += listsIn(child);
    return lists;
}

QList<QQuickItem*> FocusChain::controlsOf(QQuickItem* row) const {
    QList<QQuickItem*> controls;
    for (const Stop& stop : stopsIn(row))
        if (!stop.list) controls << stop.item;
    return controls;
}

bool FocusChain::isShownStop(const QQuickItem* item) const {
    return item && window_ && item->window() == window_ && item->isVisible() && item->isEnabled() &&
           item->activeFocusOnTab();
}

bool FocusChain::isNothing(const QQuickItem* item) const {
    return !isShownStop(item) || isList(item);
}

// --- Moving the focus -------------------------------------------------------------------------

bool FocusChain::focusRow(QQuickItem* list, int index, const QString& name, Qt::FocusReason reason) {
    QQuickItem* row = rowAt(list, index);
    const QList<QQuickItem*> controls = row ? controlsOf(row) : QList<QQuickItem*>();
    if (controls.isEmpty()) return false;
    const auto named = std::find_if(controls.begin(), controls.end(),
                                    [&](const QQuickItem* c) { return !name.isEmpty() && c->objectName() == name; });
    (named != controls.end() ? *named : controls.first())->forceActiveFocus(reason);
    return true;
}

bool FocusChain::enterList(QQuickItem* list, Qt::FocusReason reason) {
    const int count = countOf(list);
    int asked = -1;
    QString name;
    const QVariant entry = list->property("focusEntry");
    if (entry.isValid() && entry.toInt() >= 0) {
        asked = entry.toInt();
    } else if (const auto last = lastRows_.constFind(list); last != lastRows_.constEnd() && last->first < count) {
        asked = last->first;
        name = last->second;
    }
    QList<QRectF> boxes(std::max(0, count));
    for (const Row& row : rowsOf(list))
        if (row.index < count) boxes[row.index] = boxOf(row.item);
    const int at = entryRow(asked, count, boxes, viewportOf(list));
    if (at < 0) return false;
    if (focusRow(list, at, name, reason)) return true;
    for (int index : ListKeys::rowsInPlaceOf(at, count))
        if (focusRow(list, index, name, reason)) return true;
    return false;
}

bool FocusChain::enter(const Stop& stop, Qt::FocusReason reason) {
    if (stop.list) return enterList(stop.item, reason);
    stop.item->forceActiveFocus(reason);
    return true;
}

bool FocusChain::step(bool forward) {
    const QList<Stop> chain = stopsIn(scope_);
    if (chain.isEmpty()) return false;
    const QQuickItem* focused = window_->activeFocusItem();
    qsizetype at = -1;
    for (qsizetype i = 0; i < chain.size() && at < 0; ++i)
        if (chain[i].item == focused) at = i;
    for (qsizetype i = 0; i < chain.size() && at < 0; ++i)
        if (chain[i].list && chain[i].item->isAncestorOf(focused)) at = i;
    const qsizetype n = chain.size();
    const qsizetype by = forward ? 1 : -1;
    qsizetype next = at < 0 ? (forward ? 0 : n - 1) : (at + by + n) % n;
    const Qt::FocusReason reason = forward ? Qt::TabFocusReason : Qt::BacktabFocusReason;
    for (qsizetype tried = 0; tried < n && !enter(chain[next], reason); ++tried) next = (next + by + n) % n;
    return true;
}

bool FocusChain::listKey(int key, QQuickItem* focused) {
    int index = -1;
    QQuickItem* list = listOf(focused, &index);
    if (!list || index < 0) return false;
    const QList<Row> rows = rowsOf(list);
    const auto row = std::find_if(rows.begin(), rows.end(), [&](const Row& r) { return r.index == index; });
    if (row == rows.end()) return false;
    int across = 1;
    if (isItemView(list)) {
        const QVariant cellWidth = list->property("cellWidth");
        if (cellWidth.isValid() && cellWidth.toDouble() > 0)
            across = std::max(1, int(std::floor(list->width() / cellWidth.toDouble() + 0.01)));
    } else {
        QList<QRectF> boxes;
        for (const Row& r : rows) boxes << boxOf(r.item);
        across = columns(boxes);
    }
    if (across == 1 && (key == Qt::Key_Left || key == Qt::Key_Right)) {
        // Between the row's own controls.
        const QList<QQuickItem*> controls = controlsOf(row->item);
        const qsizetype at = controls.indexOf(focused) + (key == Qt::Key_Right ? 1 : -1);
        if (at >= 0 && at < controls.size() && controls.indexOf(focused) >= 0)
            controls[at]->forceActiveFocus(Qt::TabFocusReason);
        return true;
    }
    if (!ListKeys::handles(key, across)) return false;
    double pitch = 0;
    const QVariant cellHeight = list->property("cellHeight");
    if (cellHeight.isValid()) {
        pitch = cellHeight.toDouble();
    } else if (isItemView(list)) {
        pitch = row->item->height() + list->property("spacing").toDouble();
    } else {
        pitch = rows.size() > across ? boxOf(rows[across].item).top() - boxOf(rows[0].item).top()
                                     : row->item->height();
    }
    const QList<int> targets = ListKeys::rowsFor(key, index, countOf(list), across,
                                                 viewportOf(list).height(), pitch);
    if (targets.isEmpty() && key == Qt::Key_Up && index < across) {
        upToField(list);
        return true;
    }
    for (int target : targets)
        if (focusRow(list, target, focused->objectName(), Qt::TabFocusReason)) break;
    return true;
}

bool FocusChain::downIntoLists(QQuickItem* field) {
    const QString below = field->property("listsBelow").toString();
    if (below.isEmpty()) return false;
    const QList<Stop> chain = stopsIn(scope_);
    bool past = false;
    for (const Stop& stop : chain) {
        if (stop.item == field) {
            past = true;
            continue;
        }
        if (!past) continue;
        for (const QQuickItem* at = stop.item; at; at = at->parentItem())
            if (at->objectName() == below) return enter(stop, Qt::TabFocusReason);
    }
    return false;
}

bool FocusChain::upToField(QQuickItem* list) {
    for (const Stop& stop : stopsIn(scope_)) {
        const QString below = stop.item->property("listsBelow").toString();
        if (below.isEmpty()) continue;
        for (const QQuickItem* at = list; at; at = at->parentItem()) {
            if (at->objectName() == below) {
                stop.item->forceActiveFocus(Qt::TabFocusReason);
                return true;
            }
        }
    }
    return false;
}

bool FocusChain::eventFilter(QObject* watched, QEvent* event) {
    if (watched != window_ || !scope_) return false;
    if (event->type() == QEvent::MouseButtonPress) pointed_ = true;
    if (event->type() != QEvent::KeyPress) return false;
    pointed_ = false;
    const auto* key = static_cast<QKeyEvent*>(event);
    QQuickItem* focused = window_->activeFocusItem();
    // A menu or an open list keeps its keys; so does anything outside the scope.
    if (inPopup(focused)) return false;
    if (!isNothing(focused) && !scope_->isAncestorOf(focused)) return false;
    const Qt::KeyboardModifiers modifiers = key->modifiers() & ~Qt::KeypadModifier;
    if (key->key() == Qt::Key_Backtab || (key->key() == Qt::Key_Tab && modifiers == Qt::ShiftModifier))
        return step(false);
    if (key->key() == Qt::Key_Tab && modifiers == Qt::NoModifier) return step(true);
    if (modifiers != Qt::NoModifier || isNothing(focused)) return false;
    if (key->key() == Qt::Key_Space && held_.item == focused && held_.after) {
        // A control after a list that loads more rows into it: the first row added takes the
        // focus, wherever the control went meanwhile.
        awaitRows(focused, held_.after, held_.afterCount);
        return false;
    }
    if (key->key() == Qt::Key_Down && focused->inherits("QQuickTextInput") && downIntoLists(focused))
        return true;
    return listKey(key->key(), focused);
}

// --- When the focused control goes ------------------------------------------------------------

void FocusChain::focusMoved() {
    QQuickItem* now = window_ ? window_->activeFocusItem() : nullptr;
    if (inPopup(now)) return;
    if (isNothing(now)) {
        if (held_.item || !held_.name.isEmpty())
            QMetaObject::invokeMethod(this, &FocusChain::recover, Qt::QueuedConnection);
        return;
    }
    if (!scope_ || !scope_->isAncestorOf(now)) return;
    Held held;
    held.item = now;
    held.name = now->objectName();
    held.box = boxOf(now);
    int row = -1;
    if (QQuickItem* list = listOf(now, &row)) {
        held.list = list;
        held.row = row;
        held.listY = contentYOf(list);
        if (!lastRows_.contains(list))
            connect(list, &QObject::destroyed, this, [this, list] { lastRows_.remove(list); });
        lastRows_[list] = {row, held.name};
    }
    for (QQuickItem* list : listsIn(scope_))
        if (itemProperty(list, "emptyControl") == now) held.emptyOf = list;
    // The list the control loads rows into.
    held.place = placeOf(now);
    if (QQuickItem* list = footerListOf(now)) {
        held.after = list;
    } else if (held.place) {
        for (QQuickItem* list : listsIn(held.place))
            if (isItemView(list) && list->isVisible()) held.after = list;
    } else {
        const QList<Stop> chain = stopsIn(scope_);
        for (qsizetype i = 1; i < chain.size(); ++i)
            if (chain[i].item == now && chain[i - 1].list) held.after = chain[i - 1].item;
    }
    if (held.after) held.afterCount = countOf(held.after);
    // Outside the view's flow, it stands right after the part it acts for.
    if (held.place) {
        const QRectF place = boxOf(held.place);
        held.box = QRectF(place.right(), place.bottom(), 0, 0);
    }
    held_ = held;
    // Hidden, a control may keep the focus it can no longer show.
    for (const auto& watch : watching_) disconnect(watch);
    const auto check = [this] {
        if (held_.item && (!held_.item->isVisible() || !held_.item->isEnabled())) held_.went = true;
        QMetaObject::invokeMethod(this, &FocusChain::recover, Qt::QueuedConnection);
    };
    watching_ = {connect(now, &QQuickItem::visibleChanged, this, check),
                 connect(now, &QQuickItem::enabledChanged, this, check)};
    // Rows removed or added before its own move it along the list: where it stands is its row's
    // place now, the one a row coming in its stead takes.
    if (QQuickItem* rowItem = rowItemOf(held_.list, now)) {
        const QMetaProperty index = rowItem->metaObject()->property(rowItem->metaObject()->indexOfProperty("index"));
        if (index.hasNotifySignal())
            watching_ << connect(rowItem, index.notifySignal(), this,
                                 metaObject()->method(metaObject()->indexOfSlot("followRow()")));
    }
}

void FocusChain::followRow() {
    QQuickItem* rowItem = rowItemOf(held_.list, held_.item);
    const int index = rowItem ? rowItem->property("index").toInt() : -1;
    if (index >= 0) held_.row = index;
}

bool FocusChain::holdsRow(QQuickItem* list, int index, QQuickItem* item) const {
    if (!item) return false;
    if (!isItemView(list)) return rowItemOf(list, item) != nullptr;
    // A removed row stays a moment as it leaves, no longer the list's row at any index.
    QQuickItem* row = nullptr;
    QMetaObject::invokeMethod(list, "itemAtIndex", Q_RETURN_ARG(QQuickItem*, row), Q_ARG(int, index));
    return row && (row == item || row->isAncestorOf(item));
}

QQuickItem* FocusChain::rowItemOf(QQuickItem* list, QQuickItem* item) const {
    if (!list || !item) return nullptr;
    for (const Row& row : rowsOf(list))
        if (row.item == item || row.item->isAncestorOf(item)) return row.item;
    return nullptr;
}

void FocusChain::recover() {
    if (!window_ || !scope_) return;
    QQuickItem* now = window_->activeFocusItem();
    if (inPopup(now) || !isNothing(now)) return;
    const Held gone = held_;
    held_ = {};

    // A closed window starts again with nothing focused; a click leaves the focus where it
    // puts it, with no ring.
    if (!window_->isVisible() || pointed_ || (!gone.item && gone.name.isEmpty())) return;
    // Still shown, it gave the focus up to what asked for it; a row's control goes with its
    // row, which may stay shown a moment as it leaves.
    const bool rowLeft = gone.list && !holdsRow(gone.list, gone.row, gone.item);
    // Taken out of the view (a repeater's entry gone), it went, whether or not it is deleted yet.
    const bool taken = gone.item && !scope_->isAncestorOf(gone.item);
    if (gone.item && !gone.went && !rowLeft && !taken) return;
    // Disabled for a moment and back: it keeps the focus.
    if (isShownStop(gone.item)) {
        gone.item->forceActiveFocus(Qt::TabFocusReason);
        return;
    }
    const Qt::FocusReason reason = Qt::TabFocusReason;
    if (gone.list && gone.list->isVisible()) {
        const int count = countOf(gone.list);
        if (!gone.item && contentYOf(gone.list) != gone.listY) {
            // Its row was scrolled away and not kept: the nearest row in view stands in, where it is.
            const QRectF viewport = viewportOf(gone.list);
            QList<Row> shown;
            for (const Row& row : rowsOf(gone.list))
                if (viewport.contains(boxOf(row.item).adjusted(1, 1, -1, -1))) shown << row;
            std::sort(shown.begin(), shown.end(), [&](const Row& a, const Row& b) {
                return std::abs(a.index - gone.row) < std::abs(b.index - gone.row);
            });
            for (const Row& row : shown)
                if (focusRow(gone.list, row.index, gone.name, reason)) return;
        }
        // The row in its place: itself where the control in it went, else the next, else the one before.
        QList<int> rows = ListKeys::rowsInPlaceOf(std::min(gone.row, count - 1), count);
        if (rowLeft && gone.row >= 0 && gone.row < count) rows.prepend(gone.row);
        else if (gone.row >= count && count > 0) rows.prepend(count - 1);
        for (int index : rows)
            if (focusRow(gone.list, index, gone.name, reason)) return;
    }
    // The rows an empty list's control stood in for.
    if (gone.emptyOf && gone.emptyOf->isVisible() && enterList(gone.emptyOf, reason)) return;
    // The rows a control after a list loaded.
    if (gone.after && gone.after->isVisible() && countOf(gone.after) > gone.afterCount &&
        focusRow(gone.after, gone.afterCount, QString(), reason))
        return;
    QQuickItem* empty = gone.list ? itemProperty(gone.list, "emptyControl") : nullptr;
    if (isShownStop(empty)) {
        empty->forceActiveFocus(reason);
        return;
    }
    // The nearest control before it, else the first.
    const QList<Stop> chain = stopsIn(scope_, gone.item);
    qsizetype at = -1;
    const bool inFlow = gone.item && !gone.place;
    for (qsizetype i = 0; i < chain.size() && at < 0; ++i)
        if (inFlow && chain[i].item == gone.item) at = i;
    for (qsizetype i = 0; i < chain.size() && at < 0; ++i)
        if (inFlow && chain[i].item->isAncestorOf(gone.item)) at = i;
    if (at < 0) {
        for (qsizetype i = 0; i < chain.size(); ++i)
            if (before(chain[i].box, gone.box)) at = i + 1;
    }
    bool placed = false;
    for (qsizetype i = std::min(at, chain.size()) - 1; i >= 0 && !placed; --i)
        placed = chain[i].item != gone.item && enter(chain[i], reason);
    for (qsizetype i = 0; i < chain.size() && !placed; ++i)
        placed = chain[i].item != gone.item && enter(chain[i], reason);
    // Where the focus stands in for now, what comes back takes it again, if nothing moved it
    // meanwhile: the control itself shown again, the rows it loaded, an emptied list's control.
    if (!placed) return;
    await({window_->activeFocusItem(), gone.item, gone.after, gone.afterCount, empty});
}

void FocusChain::awaitRows(QQuickItem* control, QQuickItem* list, int count) {
    await({control, nullptr, list, count, nullptr});
}

void FocusChain::await(const Waiting& waiting) {
    stopWaiting();
    waiting_ = waiting;
    watch(waiting_.control);
    watch(waiting_.empty);
    if (waiting_.list) {
        watch(waiting_.list);
        if (isItemView(waiting_.list))
            connect(waiting_.list, SIGNAL(countChanged()), this, SLOT(checkWaiting()), Qt::UniqueConnection);
    }
    connect(window_, &QQuickWindow::activeFocusItemChanged, this, &FocusChain::checkWaiting,
            Qt::UniqueConnection);
}

void FocusChain::stopWaiting() {
    const Waiting waiting = std::exchange(waiting_, {});
    for (QQuickItem* item : {waiting.control.data(), waiting.empty.data(), waiting.list.data()}) {
        if (!item) continue;
        disconnect(item, &QQuickItem::visibleChanged, this, &FocusChain::checkWaiting);
        disconnect(item, &QQuickItem::enabledChanged, this, &FocusChain::checkWaiting);
        disconnect(item, &QQuickItem::childrenChanged, this, &FocusChain::checkWaiting);
        if (isItemView(item)) disconnect(item, SIGNAL(countChanged()), this, SLOT(checkWaiting()));
    }
    if (window_) disconnect(window_, &QQuickWindow::activeFocusItemChanged, this, &FocusChain::checkWaiting);
}

void FocusChain::watch(QQuickItem* item) {
    if (!item) return;
    connect(item, &QQuickItem::visibleChanged, this, &FocusChain::checkWaiting, Qt::UniqueConnection);
    connect(item, &QQuickItem::enabledChanged, this, &FocusChain::checkWaiting, Qt::UniqueConnection);
    connect(item, &QQuickItem::childrenChanged, this, &FocusChain::checkWaiting, Qt::UniqueConnection);
}

void FocusChain::checkWaiting() {
    const Waiting waiting = waiting_;
    if (!waiting.placedOn) return;
    if (!window_ || window_->activeFocusItem() != waiting.placedOn) {
        // Moved on meanwhile, by a key or by what the control did: the rows it loaded may still
        // come while the focus is lost.
        if (!window_ || !isNothing(window_->activeFocusItem())) stopWaiting();
        return;
    }
    QQuickItem* into = nullptr;
    if (waiting.control != waiting.placedOn && isShownStop(waiting.control)) {
        into = waiting.control;
    } else if (waiting.list && waiting.list->isVisible() && countOf(waiting.list) > waiting.count) {
        stopWaiting();
        focusRow(waiting.list, waiting.count, QString(), Qt::TabFocusReason);
        return;
    } else if (isShownStop(waiting.empty)) {
        into = waiting.empty;
    } else {
        return;
    }
    stopWaiting();
    into->forceActiveFocus(Qt::TabFocusReason);
}

}  // namespace velto
