import QtQuick
import QtQuick.Controls
import Velto
import ".."

// The three tab buttons; the open tab's button closes it.
Rectangle {
    id: bar
    required property var panel

    objectName: "mac-panel-tabs"
    implicitWidth: row.implicitWidth + 12
    implicitHeight: row.implicitHeight + 4
    radius: height / 2
    color: Theme.quaternaryFill
    Accessible.role: Accessible.Grouping
    Accessible.name: "搜索与播放列表"

    Row {
        id: row
        anchors.centerIn: parent
        spacing: 2
        Repeater {
            model: bar.panel?.tabs ?? []
            delegate: AbstractButton {
                FocusRing {}
                required property var modelData
                objectName: "mac-panel-tab-" + modelData.id
                implicitWidth: 24
                implicitHeight: 24
                hoverEnabled: true
                Accessible.role: Accessible.PageTab
                Accessible.name: modelData.label
                Accessible.selected: modelData.selected
                PanelToolTip {
                    visible: parent.hovered
                    text: modelData.help
                }
                onClicked: bar.panel.selectTab(modelData.id)
                background: Rectangle {
                    radius: 6
                    color: modelData.selected ? Theme.selectedTab : "transparent"
                }
                contentItem: Icon {
                    name: modelData.symbol
                    size: 11
                    font.weight: Font.Medium
                    color: modelData.selected ? Theme.accentIconOn(Theme.selectedTab) : Theme.primary
                }
            }
        }
    }
}
