import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Velto
import ".."

// The library row while the store cannot open, and at most one further message row.
ColumnLayout {
    id: messages
    required property var panel
    readonly property var row: panel?.message ?? ({})
    readonly property string kind: row.kind ?? ""
    readonly property bool orange: row.orange ?? false

    objectName: "mac-panel-messages"
    spacing: 12

    RowLayout {
        objectName: "mac-panel-library-row"
        Layout.fillWidth: true
        visible: messages.panel?.libraryRow ?? false
        PanelText {
            Layout.fillWidth: true
            text: "资料库未能打开，原有数据已保留。"
            size: Theme.caption
            wrapMode: Text.Wrap
        }
        PanelButton {
            objectName: "mac-panel-library-retry"
            text: "重试"
            onClicked: messages.panel.messageAction("retryLibrary")
        }
        PanelButton {
            objectName: "mac-panel-library-export"
            text: "导出恢复"
            onClicked: messages.panel.messageAction("exportRecovery")
        }
    }

    RowLayout {
        objectName: "mac-panel-message-row"
        Layout.fillWidth: true
        visible: messages.kind.length > 0
        Icon {
            visible: name.length > 0
            name: messages.row.symbol ?? ""
            size: Theme.caption + 2
            color: messages.orange ? Theme.orange : Theme.secondary
        }
        PanelText {
            objectName: "mac-panel-message-text"
            Layout.fillWidth: true
            text: messages.row.text ?? ""
            size: Theme.caption
            color: messages.orange ? Theme.orange : Theme.secondary
            wrapMode: Text.Wrap
            maximumLineCount: messages.row.lineLimit ?? 2
        }
        PanelButton {
            objectName: "mac-panel-message-button"
            visible: text.length > 0
            text: messages.row.buttonTitle ?? ""
            onClicked: messages.panel.messageAction(messages.row.action)
        }
        PanelIconButton {
            objectName: "mac-panel-message-close"
            visible: messages.row.closable ?? false
            symbol: "xmark"
            help: "关闭提示"
            symbolSize: Theme.caption
            onClicked: messages.panel.messageAction(messages.row.action)
        }
    }
}
