import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Velto
import "panel"

Rectangle {
    id: root
    property string message
    property bool retryAvailable: false
    signal retry()

    objectName: "inlineError"
    radius: 10
    color: Theme.quaternaryFill
    implicitWidth: row.implicitWidth + 24
    implicitHeight: row.implicitHeight + 24

    RowLayout {
        id: row
        anchors.fill: parent
        anchors.margins: 12
        spacing: 10

        Icon {
            name: ViewTexts.errorSymbol
            size: Theme.callout + 2
            color: Theme.orange
        }
        TextEdit {
            objectName: "inlineErrorMessage"
            Layout.fillWidth: true
            text: root.message
            textFormat: TextEdit.PlainText
            readOnly: true
            selectByMouse: true
            wrapMode: TextEdit.Wrap
            font.family: Theme.fontFamily
            font.pixelSize: Theme.callout
            color: Theme.primary
            selectionColor: Theme.accent
        }
        // The flexible gap never closes below 8 between the message and the edge.
        Item {
            Layout.minimumWidth: 8
            implicitWidth: 8
        }
        PanelButton {
            objectName: "inlineErrorRetry"
            visible: root.retryAvailable
            text: ViewTexts.retry
            onClicked: root.retry()
        }
    }
}
