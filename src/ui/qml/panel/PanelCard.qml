import QtQuick
import QtQuick.Layouts
import Velto

// The settings cards' frame: padded content on the quaternary fill.
Rectangle {
    default property alias content: column.data
    property alias spacing: column.spacing

    Layout.fillWidth: true
    implicitHeight: column.implicitHeight + 24
    radius: 12
    color: Theme.quaternaryFill

    ColumnLayout {
        id: column
        anchors.fill: parent
        anchors.margins: 12
        spacing: 10
    }
}
