import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Velto
import ".."

// The popup's content: 380 wide, as tall as what the content rule shows; the popup takes
// implicitHeight, and where the screen's usable area is smaller it makes the view smaller and
// the content scrolls.
Item {
    id: root
    required property var panel
    readonly property var layout: panel?.layout ?? ({})
    // The messages go at the edge the window grows and shrinks at (the top over a bottom tray,
    // else the bottom), so that coming and going they move no other row on the screen.
    readonly property bool messagesFirst: root.Window.window?.growsUpward ?? false

    readonly property bool showsMessages: (layout.messages ?? false)
                                          && ((panel?.libraryRow ?? false) || (panel?.message.kind ?? "").length > 0)

    objectName: "mac-panel"
    implicitWidth: 380
    implicitHeight: page.implicitHeight + 32

    // The focused control is scrolled into view.
    FocusInView { scope: root }

    // Over a bottom tray the rows under a quiet notice keep their place on the screen: what the
    // window cannot grow or shrink by at the height of the usable area, the view scrolls by. Any
    // other message is scrolled into view instead, at either edge.
    QtObject {
        id: rowKeeper
        property real top: 0
        property real height: 0
        property bool mustBeSeen: false
        function seen() {
            return (root.panel?.libraryRow ?? false) || !(root.panel?.message.quiet ?? true)
        }
        // Once the page has laid out the messages at its end.
        function reveal() {
            if (!root.messagesFirst && root.showsMessages && seen())
                scroller.contentY = Math.max(0, scroller.contentHeight - scroller.height)
        }
        function keep() {
            const grown = column.y - top
            const shift = grown - (scroller.height - height)
            top = column.y
            height = scroller.height
            if (root.showsMessages) mustBeSeen = seen()
            if (!root.messagesFirst || shift === 0) return
            if (mustBeSeen && grown > 0) {
                scroller.contentY = 0
                return
            }
            // The page's height may take in rows that came above only after they moved.
            const end = Math.max(0, root.implicitHeight - scroller.height) + Math.max(0, grown)
            scroller.contentY = Math.max(0, Math.min(scroller.contentY + shift, end))
        }
    }
    Connections {
        target: column
        function onYChanged() { rowKeeper.keep() }
    }

    Flickable {
        id: scroller
        onHeightChanged: rowKeeper.keep()
        objectName: "mac-panel-scroller"
        anchors.fill: parent
        contentWidth: root.implicitWidth
        contentHeight: root.implicitHeight
        interactive: contentHeight > height || contentWidth > width
        clip: interactive
        boundsBehavior: Flickable.StopAtBounds
        ScrollBar.vertical: ScrollBar {
            policy: scroller.contentHeight > scroller.height ? ScrollBar.AlwaysOn : ScrollBar.AlwaysOff
        }
        // A panel grown back to its whole height shows it from the top.
        onInteractiveChanged: if (!interactive) contentY = 0

        ColumnLayout {
            id: page
            x: 16
            y: 16
            width: 348
            spacing: 12

            ColumnLayout {
                id: firstSlot
                Layout.fillWidth: true
                visible: root.messagesFirst && root.showsMessages
            }
            ColumnLayout {
                id: column
                Layout.fillWidth: true
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
            ColumnLayout {
                id: lastSlot
                Layout.fillWidth: true
                visible: !root.messagesFirst && root.showsMessages
                onVisibleChanged: if (visible) Qt.callLater(rowKeeper.reveal)
                onHeightChanged: if (visible) Qt.callLater(rowKeeper.reveal)
            }
            PanelMessages {
                id: messages
                parent: root.messagesFirst ? firstSlot : lastSlot
                Layout.fillWidth: true
                panel: root.panel
            }
        }
    }
}
