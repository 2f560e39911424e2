import QtQuick
import QtQuick.Layouts
import Velto
import ".."

RowLayout {
    id: header
    required property var panel

    objectName: "mac-panel-header"
    spacing: 6

    Row {
        spacing: 5
        Icon {
            anchors.verticalCenter: parent.verticalCenter
            name: "waveform"
            size: Theme.headline
        }
        PanelText {
            anchors.verticalCenter: parent.verticalCenter
            text: "Velto"
            size: Theme.headline
            font.weight: Theme.semibold
        }
    }
    Item { Layout.fillWidth: true }
    PanelIconButton {
        objectName: "mac-panel-notch"
        symbol: "macbook"
        help: header.panel?.header.notchHelp ?? ""
        onClicked: header.panel.showNotch()
    }
    PanelIconButton {
        objectName: "mac-panel-settings"
        symbol: "slider.horizontal.3"
        help: header.panel?.header.settingsHelp ?? ""
        tint: (header.panel?.header.settingsActive ?? false) ? Theme.accentIconOn(Theme.window) : Theme.primary
        onClicked: header.panel.toggleSettings()
    }
    PanelIconButton {
        objectName: "mac-panel-quit"
        symbol: "power"
        help: "退出 Velto"
        onClicked: header.panel.quit()
    }
}
