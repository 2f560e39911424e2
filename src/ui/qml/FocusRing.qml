import QtQuick
import Velto

// Where the keyboard focus is: a ring inside a control whenever it holds the focus. The control
// takes the focus from the keyboard only, so a click leaves none behind that keys would act on
// unseen (a drop-down box keeps taking it on a click, which its list needs, and shows the ring).
// Inside the control's bounds, so a clipping list still shows it whole.
Rectangle {
    property real inset: 1
    property bool keyboardOnly: true

    objectName: "focusRing"
    anchors.fill: parent
    anchors.margins: inset
    z: 100
    visible: parent?.activeFocus ?? false
    radius: 5
    color: "transparent"
    border.width: 2
    border.color: (parent?.highlighted ?? false) ? Theme.focusRingOnAccent : Theme.focusRing
    Accessible.ignored: true
    Component.onCompleted: if (keyboardOnly && parent && parent.focusPolicy !== undefined) parent.focusPolicy = Qt.TabFocus
}
