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
    readonly property var panelWindow: root.Window.window
    // The messages lie in a band at the edge the window grows and shrinks at (the top over a
    // bottom tray, else the bottom). The panel's window grows by the band as far as it can and
    // keeps the content where it stood; what it cannot grow by, the band covers of the content
    // for its time. Coming and going, a message thus moves no control and is always seen.
    readonly property bool bandFirst: panelWindow?.growsUpward ?? false
    readonly property bool showsMessages: (layout.messages ?? false)
                                          && ((panel?.libraryRow ?? false) || (panel?.message.kind ?? "").length > 0)
    readonly property real noticeHeight: showsMessages && messages.implicitHeight > 0 ? messages.implicitHeight + 12 : 0
    // Where the content stands: as the panel's window places it, else beside the band.
    readonly property rect contentArea: panelWindow?.contentArea
                                        ?? Qt.rect(0, bandFirst ? noticeHeight : 0, width, height - noticeHeight)
    // How far the band lies over the content.
    readonly property real covered: Math.max(0, bandFirst ? noticeHeight - contentArea.y
                                                          : contentArea.y + contentArea.height - (height - noticeHeight))

    objectName: "mac-panel"
    implicitWidth: 380
    implicitHeight: page.implicitHeight + 32 + noticeHeight

    // The focused control is scrolled into view, clear of the band.
    FocusInView {
        scope: root
        banded: scroller
        bandAbove: root.bandFirst ? scroller.under : 0
        bandBelow: root.bandFirst ? 0 : scroller.under
    }

    Rectangle {
        objectName: "mac-panel-notice-band"
        z: 1
        y: root.bandFirst ? 0 : root.height - height
        width: root.width
        height: root.noticeHeight
        visible: root.showsMessages
        color: root.panelWindow?.color ?? Theme.background
        Rectangle {
            visible: root.covered > 0
            y: root.bandFirst ? parent.height - 1 : 0
            width: parent.width
            height: 1
            color: Theme.separator
        }
        PanelMessages {
            id: messages
            x: 16
            y: root.bandFirst ? 12 : 0
            width: parent.width - 32
            panel: root.panel
        }
    }

    Flickable {
        id: scroller
        objectName: "mac-panel-scroller"
        y: root.contentArea.y
        width: root.width
        height: root.contentArea.height
        contentWidth: root.implicitWidth
        contentHeight: page.implicitHeight + 32
        // What lies under the band can be scrolled to.
        readonly property real under: root.covered
        topMargin: Math.max(root.bandFirst ? under : 0, keptAbove)
        bottomMargin: Math.max(root.bandFirst ? 0 : under, keptBelow)
        // Where the user leaves the view scrolled into a margin, it stays when the band goes,
        // rather than move, till the user scrolls again.
        property real keptAbove: 0
        property real keptBelow: 0
        onMovementEnded: {
            keptAbove = Math.max(0, -contentY)
            keptBelow = Math.max(0, contentY + height - contentHeight)
        }
        // A new opening has nothing on the screen to hold still.
        Connections {
            target: root.panel
            function onShownChanged() {
                scroller.keptAbove = 0
                scroller.keptBelow = 0
            }
        }
        interactive: contentHeight + topMargin + bottomMargin > height || contentWidth > width
        clip: interactive
        boundsBehavior: Flickable.StopAtBounds
        ScrollBar.vertical: ScrollBar {
            policy: scroller.interactive ? ScrollBar.AlwaysOn : ScrollBar.AlwaysOff
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
        }
    }
}
