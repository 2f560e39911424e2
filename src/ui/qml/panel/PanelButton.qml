import QtQuick
import QtQuick.Controls
import Velto
import ".."

// A text button, with an optional leading symbol, in the panel's font.
Button {
    FocusRing {}
    id: button
    property string symbol
    property real textSize: Theme.caption
    // While what it started loads: drawn disabled and deaf to presses, yet it keeps the focus,
    // which a disabled control would lose.
    property bool busy: false
    readonly property bool looksEnabled: enabled && !busy

    implicitWidth: contentItem.implicitWidth + leftPadding + rightPadding
    leftPadding: 10
    rightPadding: 10
    font.family: Theme.fontFamily
    font.pixelSize: textSize
    Accessible.name: text
    topPadding: 4
    bottomPadding: 4
    background: Rectangle {
        radius: 5
        color: button.flat ? "transparent" : button.highlighted ? Theme.accent
               : button.down ? Theme.separator : Theme.quaternaryFill
        border.width: button.flat || button.highlighted ? 0 : 1
        border.color: Theme.separator
        opacity: button.looksEnabled ? 1 : 0.5
    }
    Keys.onPressed: event => event.accepted = button.busy && event.key === Qt.Key_Space
    Keys.onReleased: event => event.accepted = button.busy && event.key === Qt.Key_Space
    MouseArea {
        z: 1
        anchors.fill: parent
        enabled: button.busy
        acceptedButtons: Qt.AllButtons
    }
    contentItem: Row {
        spacing: 4
        Icon {
            anchors.verticalCenter: parent.verticalCenter
            visible: button.symbol.length > 0
            name: button.symbol
            size: button.textSize + 1
            color: button.highlighted ? "white" : Theme.primary
        }
        PanelText {
            anchors.verticalCenter: parent.verticalCenter
            text: button.text
            size: button.textSize
            color: button.highlighted ? "white" : Theme.primary
            opacity: button.looksEnabled ? 1 : 0.4
        }
    }
}
