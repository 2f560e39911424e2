import QtQuick
import QtQuick.Layouts
import Velto

// The empty state of a catalog page: a title and, when given, a detail under it.
Item {
    id: hint
    property string title
    property string detail

    Layout.fillWidth: true
    Layout.minimumHeight: 120
    implicitHeight: 120

    Column {
        anchors.centerIn: parent
        spacing: 4
        Text {
            anchors.horizontalCenter: parent.horizontalCenter
            text: hint.title
            textFormat: Text.PlainText
            font.family: Theme.fontFamily
            font.pixelSize: Theme.callout
            color: Theme.secondary
        }
        Text {
            anchors.horizontalCenter: parent.horizontalCenter
            visible: text.length > 0
            text: hint.detail
            textFormat: Text.PlainText
            font.family: Theme.fontFamily
            font.pixelSize: Theme.caption2
            color: Theme.tertiary
        }
    }
}
