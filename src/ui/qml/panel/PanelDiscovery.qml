import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Velto
import ".."

// Suggestions, history and hot searches before anything has been searched.
Flickable {
    id: discovery
    required property var panel
    readonly property var search: panel?.search ?? null

    objectName: "mac-panel-discovery"
    contentHeight: column.implicitHeight + 8
    clip: true
    boundsBehavior: Flickable.StopAtBounds

    ColumnLayout {
        id: column
        y: 4
        width: discovery.width
        spacing: 12

        PanelText {
            visible: suggestions.count > 0
            text: "搜索建议"
            size: Theme.caption
            font.weight: Theme.semibold
            color: Theme.secondary
        }
        // One stop for Tab; Up and Down go between the suggestions.
        ColumnLayout {
            readonly property bool focusList: true
            Layout.fillWidth: true
            visible: suggestions.count > 0
            spacing: 12
            Repeater {
                id: suggestions
                model: discovery.search?.shownSuggestions ?? []
                delegate: AbstractButton {
                    FocusRing {}
                    required property string modelData
                    required property int index
                    objectName: "mac-panel-suggestion-" + index
                    Layout.fillWidth: true
                    // The ring goes round the symbol and the text, in the padding.
                    leftPadding: 4
                    rightPadding: 4
                    topPadding: 3
                    bottomPadding: 3
                    Accessible.role: Accessible.Button
                    Accessible.name: modelData
                    onClicked: discovery.panel.pick(modelData, Window.window?.actingOnKey?.() ?? false)
                    contentItem: Row {
                        spacing: 6
                        Icon { name: "magnifyingglass"; size: Theme.callout; color: Theme.secondary }
                        PanelText { text: modelData }
                    }
                }
            }
        }

        RowLayout {
            Layout.fillWidth: true
            visible: (discovery.search?.history.length ?? 0) > 0
            PanelText {
                text: "搜索历史"
                size: Theme.caption
                font.weight: Theme.semibold
                color: Theme.secondary
            }
            Item { Layout.fillWidth: true }
            PanelButton {
                objectName: "mac-panel-clear-history"
                text: "清空"
                textSize: Theme.caption2
                padding: 2
                onClicked: discovery.panel.clearHistory()
            }
        }
        PanelChips {
            objectName: "mac-panel-history"
            Layout.fillWidth: true
            visible: entries.length > 0
            panel: discovery.panel
            entries: discovery.search?.history ?? []
        }

        PanelText {
            text: "热门搜索"
            size: Theme.caption
            font.weight: Theme.semibold
            color: Theme.secondary
        }
        PanelChips {
            objectName: "mac-panel-hot"
            Layout.fillWidth: true
            panel: discovery.panel
            entries: discovery.search?.shownHotSearches ?? []
        }
    }
}
