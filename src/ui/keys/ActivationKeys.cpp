#include "ui/keys/ActivationKeys.h"

#include <QCoreApplication>
#include <QKeyEvent>
#include <QQuickItem>
#include <QQuickWindow>

namespace velto {

ActivationKeys::ActivationKeys(QQuickWindow& window) : QObject(&window), window_(window) {
    window.installEventFilter(this);
}

bool ActivationKeys::activates(int key, Qt::KeyboardModifiers modifiers) {
    return (key == Qt::Key_Return || key == Qt::Key_Enter) &&
           (modifiers & ~Qt::KeypadModifier) == Qt::NoModifier;
}

bool ActivationKeys::takesSpace(const QQuickItem* item) {
    if (!item || !item->isEnabled()) return false;
    if (item->inherits("QQuickAbstractButton")) return true;
    if (!item->inherits("QQuickComboBox") || item->property("editable").toBool()) return false;
    // An open list takes Return as the choice of its highlighted entry.
    const auto* popup = item->property("popup").value<QObject*>();
    return !popup || !popup->property("visible").toBool();
}

bool ActivationKeys::eventFilter(QObject* watched, QEvent* event) {
    const QEvent::Type type = event->type();
    if (watched != &window_ || (type != QEvent::KeyPress && type != QEvent::KeyRelease))
        return false;
    const auto* key = static_cast<QKeyEvent*>(event);
    if (!activates(key->key(), key->modifiers())) return false;
    if (type == QEvent::KeyPress) {
        if (!key->isAutoRepeat()) pressed_ = takesSpace(window_.activeFocusItem()) ? window_.activeFocusItem() : nullptr;
        if (!pressed_) return false;
    } else if (!pressed_) {
        return false;
    }
    QKeyEvent space(type, Qt::Key_Space, Qt::NoModifier, QStringLiteral(" "), key->isAutoRepeat());
    QCoreApplication::sendEvent(&window_, &space);
    if (type == QEvent::KeyRelease && !key->isAutoRepeat()) pressed_ = nullptr;
    return true;
}

}  // namespace velto
