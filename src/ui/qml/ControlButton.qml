import QtQuick
import QtQuick.Controls
import Velto

// The shared look of the transport buttons: a symbol in a 20 × 24 hit area.
AbstractButton {
    FocusRing {}
    id: button
    property string symbol
    property string help

    implicitWidth: 20
    implicitHeight: 24
    hoverEnabled: true
    Accessible.role: Accessible.Button
    Accessible.name: help
    ToolTip.visible: hovered && help.length > 0
    ToolTip.delay: Theme.helpDelay
    ToolTip.text: help
    contentItem: Icon {
        name: button.symbol
        size: 11
        font.weight: Font.Medium
        opacity: button.enabled ? 1 : 0.35
    }
}
