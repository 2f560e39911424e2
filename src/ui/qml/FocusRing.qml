import QtQuick
import Velto

// Where the keyboard focus is: a ring in the palette's highlight inside a control reached by
// Tab (not by a click). Inside the control's bounds, so a clipping list still shows it whole.
Rectangle {
    property real inset: 1

    objectName: "focusRing"
    anchors.fill: parent
    anchors.margins: inset
    z: 100
    visible: parent?.visualFocus ?? false
    radius: 5
    color: "transparent"
    border.width: 2
    border.color: Theme.accent
    Accessible.ignored: true
}
