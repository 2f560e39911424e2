import QtQuick
import QtQuick.Controls
import Velto
import ".."

// Texts as tappable chips, as many columns of at least 96 as fit; a tap searches the text.
Flow {
    id: chips
    required property var panel
    property var entries: []
    readonly property int columns: Math.max(1, Math.floor((width + 6) / (96 + 6)))
    readonly property real cellWidth: (width - (columns - 1) * 6) / columns

    // One stop for Tab; the arrows go between the chips.
    readonly property bool focusList: true

    spacing: 6
    Repeater {
        model: chips.entries
        delegate: AbstractButton {
            FocusRing {}
            required property string modelData
            required property int index
            objectName: "mac-panel-chip-" + index
            width: chips.cellWidth
            leftPadding: 8
            rightPadding: 8
            topPadding: 5
            bottomPadding: 5
            Accessible.role: Accessible.Button
            Accessible.name: modelData
            onClicked: chips.panel.pick(modelData, Window.window?.actingOnKey?.() ?? false)
            background: Rectangle {
                radius: 7
                color: Theme.quaternaryFill
                opacity: 0.6
            }
            contentItem: PanelText {
                text: parent.modelData
                size: Theme.caption
                maximumLineCount: 1
            }
        }
    }
}
