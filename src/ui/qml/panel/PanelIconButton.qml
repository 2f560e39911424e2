import QtQuick
import QtQuick.Controls
import Velto
import ".."

// A bare symbol button whose help text is also its accessible name.
AbstractButton {
    FocusRing {}
    id: button
    property string symbol
    property string help
    property color tint: Theme.primary
    property real symbolSize: Theme.body

    implicitWidth: 22
    implicitHeight: 22
    hoverEnabled: true
    Accessible.role: Accessible.Button
    Accessible.name: help
    PanelToolTip {
        visible: button.hovered && button.help.length > 0
        text: button.help
    }
    contentItem: Icon {
        name: button.symbol
        size: button.symbolSize
        color: button.tint
        opacity: button.enabled ? 1 : 0.35
    }
}
