import QtQuick
import Velto

Rectangle {
    property string title

    objectName: "statusBadge"
    implicitWidth: label.implicitWidth + 12
    implicitHeight: label.implicitHeight + 4
    radius: height / 2
    color: Theme.quaternaryFill
    Accessible.role: Accessible.StaticText
    Accessible.name: title

    Text {
        id: label
        anchors.centerIn: parent
        text: parent.title
        textFormat: Text.PlainText
        font.family: Theme.fontFamily
        font.pixelSize: Theme.caption2
        color: Theme.secondary
        Accessible.ignored: true
    }
}
