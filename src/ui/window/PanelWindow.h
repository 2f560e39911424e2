#pragma once

#include <QByteArray>
#include <QPointer>
#include <QQuickWindow>
#include <QUrl>
#include <QVariantMap>
#include <memory>
#include <optional>

#include "ui/window/PanelPlacement.h"

class QQmlEngine;
class QQuickItem;

namespace velto {

// The status panel's window: frameless, above other windows, a utility window kept out of the
// taskbar and the pager, sized to its root view's implicit size and laid out from the anchor it
// was shown at whenever that size changes; where the usable area is smaller, the window is cut
// to it and the root's content scrolls. The root may hold a band (its `noticeHeight`, part of
// its implicit height) that comes and goes: PanelPlacement::withBand says where it lies, and the
// content stays where it stood on the screen. Over a bottom tray, once the root has opened a
// page (its `pageOpen`) the content keeps at least the height of its tallest page (worked out
// from its `pageParts`) while a page is open and while the pointer is over the panel, so that a
// click that changes the page moves no control under the pointer. A press on content that moved
// since the pointer last moved would land on what came there, not on what the person aimed at,
// and is dropped. The root view is made on the first showing and takes the window's size.
// Every close, however caused, ends in one `didClose`.
class PanelWindow : public QQuickWindow {
    Q_OBJECT
    // The bottom edge is held (over a bottom tray): the panel grows upward, so the band belongs at
    // its top.
    Q_PROPERTY(bool growsUpward READ growsUpward NOTIFY growsUpwardChanged)
    // Where the root's content stands in the window: its place on the screen, taken against the
    // frame the window has now rather than the one asked for, so that no frame shows the content
    // moved while the window manager is still to grow or shrink the window.
    Q_PROPERTY(QRect contentArea READ contentArea NOTIFY contentAreaChanged)
    // Where the band lies in the window, on the same terms, and how much of the content's bottom
    // it lies over (what the root lets be scrolled to).
    Q_PROPERTY(QRect bandArea READ bandArea NOTIFY contentAreaChanged)
    Q_PROPERTY(int bandOverContent READ bandOverContent NOTIFY contentAreaChanged)
public:
    struct Root {
        // The view's QML file; with `source` set, that text is loaded as if it were the file.
        QUrl url;
        QByteArray source;
        // Bound on creation (the application model for the status panel).
        QVariantMap properties;
    };

    explicit PanelWindow(Root root);
    ~PanelWindow() override;

    // Makes the root view unless it exists; false (logged) when it cannot be made.
    bool ensureRoot();
    QQuickItem* rootItem() const { return root_.get(); }
    QQmlEngine& engine() const { return *engine_; }
    // The root's implicit size (before the root exists: empty), and that less the band.
    QSize panelSize() const;
    QSize contentSize() const;

    bool isShown() const { return shown_; }
    // Shows the panel at `anchor` and asks for activation, which the desktop may refuse.
    void showAt(const PanelPlacement::Anchor& anchor);
    // Where the panel belongs at its present size, band included (valid while shown).
    QRect placedFrame() const;
    QRect contentArea() const { return contentArea_; }
    QRect bandArea() const { return bandArea_; }
    int bandOverContent() const { return contentArea_.intersected(bandArea_).height(); }
    // What the panel keeps clear of (PanelPlacement's obstacle); a shown panel is placed again.
    void setObstacle(QRect obstacle);
    bool growsUpward() const { return anchor_.vertical == PanelPlacement::Align::end; }
    // Closes the panel if it is shown; nothing otherwise.
    void performClose();

    // Connections to `activeChanged`, so that a caller can see none is left behind.
    int activationObserverCount() const;

    // Whether a key press or release is being delivered: a page it opens takes the focus on its
    // first control, where a click leaves the focus alone.
    Q_INVOKABLE bool actingOnKey() const { return keysActing_ > 0; }

signals:
    void didClose();
    void growsUpwardChanged();
    void contentAreaChanged();

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void keyReleaseEvent(QKeyEvent* event) override;
    void deliverKey(QKeyEvent* event);
    // The one shown control of that name that takes the focus from the keyboard (none where
    // several do).
    QQuickItem* findShown(const QString& name) const;
    static bool inPopup(const QQuickItem* item);
    bool event(QEvent* event) override;

private slots:
    void fitToRoot();
    // Works out the held height again once the view has laid out a frame.
    void holdTallest();

private:
    int band() const;
    bool pageOpen() const;
    qreal rootValue(const char* name) const;
    QRect contentFrame() const;
    // What the root's pages are made of (its `pageParts`).
    PanelPlacement::PageParts pageParts() const;
    void followFrame();
    void followPointer(QEvent* event);
    // Whether the event is a press on content that moved under a resting pointer, or what belongs
    // to one.
    bool dropsPress(QEvent* event);
    void pointAgain();
    void place();
    void keepOutOfTaskbar();
    void dropFocus();
    void releaseClosedViews();

    Root rootSpec_;
    std::unique_ptr<QQmlEngine> engine_;
    std::unique_ptr<QQuickItem> root_;
    bool rootFailed_ = false;
    bool shown_ = false;
    PanelPlacement::Anchor anchor_;
    // The frame as the window system last reported it.
    QRect reported_;
    QRect contentArea_;
    QRect bandArea_;
    // A page is open, or was while the pointer has stayed over the panel: over a bottom tray the
    // content keeps the held height, the tallest page's, taken while a page is open.
    bool pageHeld_ = false;
    int heldHeight_ = 0;
    bool heldStale_ = false;
    bool pointerIn_ = false;
    // Corrections of the window manager's moves per frame the panel asks for.
    static constexpr int maxCorrections = 8;
    int corrections_ = 0;
    int keysActing_ = 0;
    // The control a key hid behind the page it opened, or whose menu it opened: the key that
    // drops the focus as the page or menu goes gives the focus back to it (or to its namesake
    // where the page made it anew).
    QPointer<QQuickItem> opener_;
    QString openerName_;
    // The control whose key opened a dialog of the program's own: the dialog takes the activation
    // and so closes the panel, and the opening as it ends gives the focus back to that control.
    QPointer<QQuickItem> dialogOpener_;
    QString dialogOpenerName_;
    // The control the last key pressed acted on, until a mouse button is pressed.
    QPointer<QQuickItem> keyed_;
    QString keyedName_;
    // Where the content stands on the screen, and where it stood when the pointer last moved (to
    // `pointer_`, on the screen): a press while they differ is dropped with its release.
    QPoint contentAt_;
    QPoint aimedAt_;
    std::optional<QPointF> pointer_;
    bool pointingAgain_ = false;
    bool droppingPress_ = false;
};

}  // namespace velto
