import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Velto
import ".."

// The search field with its button; edits go through the panel, which holds back an
// uncommitted input-method composition.
Rectangle {
    id: row
    required property var panel

    objectName: "mac-panel-search-field"
    Layout.fillWidth: true
    implicitHeight: content.implicitHeight + 16
    radius: 8
    color: Theme.quaternaryFill

    // The field itself shows its caret; the ring goes round the whole box.
    FocusRing {
        visible: field.activeFocus && (field.focusReason === Qt.TabFocusReason || field.focusReason === Qt.BacktabFocusReason)
        radius: 8
    }

    RowLayout {
        id: content
        anchors.fill: parent
        anchors.margins: 8
        spacing: 8
        Icon {
            name: "magnifyingglass"
            color: Theme.secondary
        }
        TextField {
            id: field
            objectName: "mac-panel-search-input"
            Layout.fillWidth: true
            placeholderText: "搜索歌曲、歌手或专辑"
            Accessible.name: placeholderText
            font.family: Theme.fontFamily
            font.pixelSize: Theme.body
            color: Theme.primary
            background: null
            padding: 0
            text: row.panel?.search.query ?? ""
            // The query searched is selected whenever the field shows it anew with the focus or
            // takes the focus: a selection without the focus would only be drawn, and stay.
            readonly property bool searched: row.panel?.querySearched ?? false
            onTextEdited: row.panel.editQuery(text, preeditText.length > 0)
            onTextChanged: if (searched && activeFocus) selectAll()
            onSearchedChanged: if (searched && activeFocus) selectAll()
            onPreeditTextChanged: row.panel.editComposition(preeditText)
            // Down goes on into the suggestions or results, and Up from their first line back.
            readonly property string listsBelow: "mac-panel-results"
            onAccepted: row.submit()
            onActiveFocusChanged: {
                if (activeFocus && searched)
                    selectAll()
                if (!activeFocus && row.panel)
                    row.panel.searchFocused = false
            }
        }
        PanelButton {
            objectName: "mac-panel-search-submit"
            text: "搜索"
            enabled: row.panel?.searchEnabled ?? false
            onClicked: row.submit()
        }
    }

    // The query searched stays selected, so that what is typed next replaces it.
    function submit() {
        row.panel.submitSearch()
        if (field.activeFocus)
            field.selectAll()
    }

    Connections {
        target: row.panel
        // Given from the keyboard, the focus shows its ring.
        function onSearchFocusedChanged() {
            if (row.panel.searchFocused)
                field.forceActiveFocus((row.Window.window?.actingOnKey?.() ?? false) ? Qt.TabFocusReason
                                                                                      : Qt.OtherFocusReason)
        }
    }
}
