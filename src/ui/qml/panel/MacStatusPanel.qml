import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Velto
import ".."

// The popup's content: 380 wide, as tall as what the content rule shows; the popup takes
// implicitHeight.
Item {
    id: root
    required property var panel
    readonly property var layout: panel?.layout ?? ({})

    objectName: "mac-panel"
    implicitWidth: 380
    implicitHeight: column.implicitHeight + 32

    ColumnLayout {
        id: column
        x: 16
        y: 16
        width: 348
        spacing: 12

        PanelHeader {
            Layout.fillWidth: true
            panel: root.panel
        }
        PanelStrip {
            Layout.fillWidth: true
            panel: root.panel
        }
        Rectangle {
            Layout.fillWidth: true
            visible: root.layout.divider ?? false
            implicitHeight: 1
            color: Theme.separator
        }

        // The import sheet, in the settings page's place; each presentation gets a new view.
        Rectangle {
            objectName: "mac-panel-import-slot"
            Layout.fillWidth: true
            Layout.preferredHeight: 440
            visible: root.layout.importView ?? false
            radius: 12
            color: Theme.quaternaryFill
            clip: true
            Repeater {
                model: (root.panel?.importPresentationID ?? "").length > 0 ? [root.panel.importPresentationID] : []
                delegate: OnlinePlaylistImportView {
                    width: parent.width
                    height: parent.height
                    sheet: root.panel.importSheet
                }
            }
        }
        PanelSettings {
            Layout.fillWidth: true
            visible: root.layout.settingsPage ?? false
            panel: root.panel
        }
        PanelSearchField {
            visible: root.layout.searchField ?? false
            panel: root.panel
        }
        PanelScopePicker {
            visible: root.layout.scopePicker ?? false
            panel: root.panel
        }
        PanelMessages {
            Layout.fillWidth: true
            visible: (root.layout.messages ?? false)
                     && ((root.panel?.libraryRow ?? false) || (root.panel?.message.kind ?? "").length > 0)
            panel: root.panel
        }
        PanelLyricsSection {
            Layout.fillWidth: true
            Layout.preferredHeight: 300
            visible: root.layout.lyrics ?? false
            panel: root.panel
        }
        // The catalog page of the last place on the path.
        Loader {
            objectName: "mac-panel-catalog-slot"
            Layout.fillWidth: true
            Layout.preferredHeight: 300
            visible: root.layout.catalog ?? false
            active: visible
            sourceComponent: MacPanelCatalogView {
                model: root.panel.catalogServices
                destination: root.panel.catalogDestination
                onPush: destination => root.panel.openCatalogValue(destination)
                onBack: root.panel.closeCatalog()
            }
        }
        PanelResults {
            Layout.fillWidth: true
            Layout.preferredHeight: 260
            visible: root.layout.results ?? false
            panel: root.panel
        }
        PanelText {
            objectName: "mac-panel-summary"
            Layout.fillWidth: true
            visible: root.layout.summary ?? false
            text: root.panel?.resultSummary ?? ""
            size: Theme.caption
            color: Theme.secondary
        }
    }
}
