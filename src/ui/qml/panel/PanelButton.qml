import QtQuick
import QtQuick.Controls
import Velto
import ".."

// A text button, with an optional leading symbol, in the panel's font.
Button {
    id: button
    property string symbol
    property real textSize: Theme.caption

    implicitWidth: contentItem.implicitWidth + leftPadding + rightPadding
    leftPadding: 10
    rightPadding: 10
    font.family: Theme.fontFamily
    font.pixelSize: textSize
    Accessible.name: text
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
            opacity: button.enabled ? 1 : 0.4
        }
    }
}
