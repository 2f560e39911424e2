import QtQuick
import QtQuick.Layouts
import Velto
import ".."

// The four search scopes as one segmented row.
SegmentedPicker {
    id: picker
    required property var panel
    readonly property var scopes: panel?.search.availableScopes ?? []

    objectName: "mac-panel-scope-picker"
    Layout.fillWidth: true
    Accessible.name: "搜索分类"
    segmentPrefix: "mac-panel-scope-"
    namedByTitle: true
    titles: scopes
    chosen: scopes.indexOf(panel?.search.selectedScope ?? "")
    onChoose: index => picker.panel.selectScope(picker.scopes[index])
}
