#pragma once

#include <QHash>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QQuickItem>
#include <QRectF>
#include <QString>

class QQuickWindow;

namespace velto {

// The keyboard focus over a view, as desktop lists have it. Tab and Shift+Tab go through the
// controls in visual order (top to bottom, then left to right), whatever order the items were
// made in. A list (an item view, or an item that says `focusList: true`) is one stop: Tab enters
// it at the row last focused in it (or at its `focusEntry`), else at the first row in view; Up,
// Down, Page Up, Page Down, Home and End move between its rows; Left and Right between a row's own
// controls, or between the cells of a grid. A text field that names in `listsBelow` the item its
// lists lie in goes down into them, and Up from their first line comes back to it. When the
// focused control goes away (removed, hidden, disabled), the focus moves to what took its place
// (the row in its place, the rows a list's `emptyControl` stood in for, the rows a control after
// a list loaded into it), else to the nearest control before it, else to the first one, ring and
// all; what comes back in its place takes it again. A control loads rows into the list whose
// footer holds it, else into the list just before it; one lying outside the view's flow (a band
// of messages) names in `focusPlace` the part of the view it acts for: it stands after that part,
// and rows coming into a list there are what it brought. After a click the focus stays where the
// click left it, with no ring.
class FocusChain : public QObject {
    Q_OBJECT
    Q_PROPERTY(QQuickItem* scope READ scope WRITE setScope NOTIFY scopeChanged)
public:
    explicit FocusChain(QObject* parent = nullptr);
    ~FocusChain() override;

    QQuickItem* scope() const { return scope_; }
    void setScope(QQuickItem* scope);

    // The order in which boxes are seen: in bands of boxes whose heights overlap, top band
    // first, each band left to right. Indexes into `boxes`.
    static QList<int> visualOrder(const QList<QRectF>& boxes);
    // Whether `box` comes before `gone` in visual order.
    static bool before(const QRectF& box, const QRectF& gone);
    // How many cells a line of a list holds: those beside the first one.
    static int columns(const QList<QRectF>& rows);
    // The row Tab enters a list at: the one asked for or last focused while the list has it,
    // else the first wholly in the viewport, else the first partly in it, else the first.
    // `rows` holds the boxes of the rows made, null for the others.
    static int entryRow(int asked, int count, const QList<QRectF>& rows, const QRectF& viewport);

signals:
    void scopeChanged();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    struct Stop {
        QQuickItem* item = nullptr;
        bool list = false;
        QRectF box;
    };
    struct Row {
        QQuickItem* item = nullptr;
        int index = -1;
    };
    // The focused control and where it stood, for when it goes.
    struct Held {
        QPointer<QQuickItem> item;
        QString name;
        QRectF box;
        QPointer<QQuickItem> list;  // the list it is a row's control of
        int row = -1;
        double listY = 0;              // where the list was scrolled to
        QPointer<QQuickItem> emptyOf;  // the list it stands in for while that is empty
        QPointer<QQuickItem> after;    // the list it loads rows into, and its rows then
        int afterCount = 0;
        QPointer<QQuickItem> place;    // the part of the view it stands after, outside it
        bool went = false;  // hidden or disabled since
    };

    // What may take the focus back from where recovery put it.
    struct Waiting {
        QPointer<QQuickItem> placedOn;
        QPointer<QQuickItem> control;
        QPointer<QQuickItem> list;
        int count = 0;
        QPointer<QQuickItem> empty;
    };

    void attach(QQuickWindow* window);
    void watch(QQuickItem* item);
    void await(const Waiting& waiting);
    void awaitRows(QQuickItem* control, QQuickItem* list, int count);
    void stopWaiting();
    Q_SLOT void checkWaiting();
    Q_SLOT void followRow();
    // The row of the list that holds the item, if it is one of the list's rows still.
    QQuickItem* rowItemOf(QQuickItem* list, QQuickItem* item) const;
    // Whether the item lies in the list's row at that index.
    bool holdsRow(QQuickItem* list, int index, QQuickItem* item) const;
    void focusMoved();
    void recover();
    bool step(bool forward);
    bool listKey(int key, QQuickItem* focused);
    bool downIntoLists(QQuickItem* field);
    bool upToField(QQuickItem* list);

    QList<Stop> stopsIn(QQuickItem* item, const QQuickItem* counted = nullptr) const;
    QList<Row> rowsOf(QQuickItem* list) const;
    int countOf(QQuickItem* list) const;
    QRectF viewportOf(QQuickItem* list) const;
    QQuickItem* rowAt(QQuickItem* list, int index) const;
    QQuickItem* listOf(QQuickItem* item, int* row = nullptr) const;
    // The item view whose footer holds the item.
    QQuickItem* footerListOf(QQuickItem* item) const;
    // The part of the view an item outside its flow acts for.
    QQuickItem* placeOf(QQuickItem* item) const;
    QList<QQuickItem*> listsIn(QQuickItem* item) const;
    QList<QQuickItem*> controlsOf(QQuickItem* row) const;
    bool focusRow(QQuickItem* list, int index, const QString& name, Qt::FocusReason reason);
    bool enter(const Stop& stop, Qt::FocusReason reason);
    bool enterList(QQuickItem* list, Qt::FocusReason reason);
    bool isShownStop(const QQuickItem* item) const;
    bool isNothing(const QQuickItem* item) const;

    QPointer<QQuickItem> scope_;
    QPointer<QQuickWindow> window_;
    QMetaObject::Connection following_;
    Held held_;
    // Where the focus last was in each list: its row and the control's name.
    QHash<const QQuickItem*, QPair<int, QString>> lastRows_;
    QList<QMetaObject::Connection> watching_;
    Waiting waiting_;
    // Whether a pointer, not a key, acted last.
    bool pointed_ = false;
};

}  // namespace velto
