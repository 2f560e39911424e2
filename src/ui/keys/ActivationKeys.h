#pragma once

#include <QObject>
#include <QPointer>

class QQuickItem;
class QQuickWindow;

namespace velto {

// Return and keypad Enter act as Space on a focused control that Space acts on (a button, a row,
// a card, a switch, a closed drop-down box), as Linux desktops have them do; a text field and
// an open list keep their own meaning for them. Lives as long as its window.
class ActivationKeys : public QObject {
public:
    explicit ActivationKeys(QQuickWindow& window);

    // Whether the key, pressed with these modifiers, activates the focused control.
    static bool activates(int key, Qt::KeyboardModifiers modifiers);
    // Whether Space acts on the item.
    static bool takesSpace(const QQuickItem* item);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QQuickWindow& window_;
    // Where the press went as Space: its release follows it there, and no other.
    QPointer<QQuickItem> pressed_;
};

}  // namespace velto
