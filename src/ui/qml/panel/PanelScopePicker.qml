import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Velto
import ".."

// The four search scopes as one segmented row.
Rectangle {
    id: picker
    required property var panel

    objectName: "mac-panel-scope-picker"
    Layout.fillWidth: true
    implicitHeight: 24
    radius: 7
    color: Theme.quaternaryFill
    Accessible.role: Accessible.PageTabList
    Accessible.name: "搜索分类"

    RowLayout {
        anchors.fill: parent
        anchors.margins: 2
        spacing: 2
        Repeater {
            model: picker.panel?.search.availableScopes ?? []
            delegate: AbstractButton {
                FocusRing {}
                required property string modelData
                readonly property bool selected: picker.panel?.search.selectedScope === modelData
                objectName: "mac-panel-scope-" + modelData
                Layout.fillWidth: true
                Layout.fillHeight: true
                Accessible.role: Accessible.PageTab
                Accessible.name: modelData
                Accessible.selected: selected
                onClicked: picker.panel.selectScope(modelData)
                background: Rectangle {
                    radius: 5
                    color: parent.selected ? Theme.background : "transparent"
                }
                contentItem: PanelText {
                    text: parent.modelData
                    size: Theme.caption
                    horizontalAlignment: Text.AlignHCenter
                    verticalAlignment: Text.AlignVCenter
                }
            }
        }
    }
}
