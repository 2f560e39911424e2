import QtQuick
import QtQuick.Layouts
import Velto

// The import sheet's notice card: a symbol, a title and a message that wraps, never cut.
Rectangle {
    id: notice
    property string title
    property string message
    property string symbol

    Layout.fillWidth: true
    implicitHeight: row.implicitHeight + 28
    radius: 12
    color: Qt.rgba(Theme.primary.r, Theme.primary.g, Theme.primary.b, 0.07)
    Accessible.role: Accessible.StaticText
    Accessible.name: title + "，" + message

    RowLayout {
        id: row
        anchors.fill: parent
        anchors.margins: 14
        spacing: 10
        Icon {
            Layout.alignment: Qt.AlignTop
            name: notice.symbol
            size: 16
            color: Theme.accent
        }
        ColumnLayout {
            Layout.fillWidth: true
            Layout.alignment: Qt.AlignTop
            spacing: 5
            Text {
                Layout.fillWidth: true
                text: notice.title
                textFormat: Text.PlainText
                font.family: Theme.fontFamily
                font.pixelSize: 14
                font.weight: Font.Medium
                color: Theme.primary
                Accessible.ignored: true
            }
            Text {
                Layout.fillWidth: true
                text: notice.message
                textFormat: Text.PlainText
                wrapMode: Text.Wrap
                font.family: Theme.fontFamily
                font.pixelSize: 12
                color: Theme.secondary
                Accessible.ignored: true
            }
        }
    }
}
