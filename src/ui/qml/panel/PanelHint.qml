import QtQuick
import QtQuick.Layouts
import Velto

// The two-line empty state of the result lists.
ColumnLayout {
    property string title
    property string message
    spacing: 4

    PanelText {
        objectName: "mac-panel-hint-title"
        Layout.alignment: Qt.AlignHCenter
        text: parent.title
        color: Theme.secondary
    }
    PanelText {
        objectName: "mac-panel-hint-message"
        Layout.alignment: Qt.AlignHCenter
        Layout.maximumWidth: 300
        text: parent.message
        size: Theme.caption2
        color: Theme.tertiary
        wrapMode: Text.Wrap
        horizontalAlignment: Text.AlignHCenter
    }
}
