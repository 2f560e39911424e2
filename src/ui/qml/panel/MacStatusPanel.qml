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
    // The messages lie in a band whose place the panel's window works out (beside the content
    // where the window can grow by it, else over the content's bottom); without that window,
    // below the content. Coming and going, a message moves no control and is always seen; what
    // it lies over can be scrolled to.
    readonly property bool showsMessages: (layout.messages ?? false)
                                          && ((panel?.libraryRow ?? false) || (panel?.message.kind ?? "").length > 0)
    readonly property real noticeHeight: showsMessages && messages.implicitHeight > 0 ? messages.implicitHeight + 12 : 0
    readonly property rect contentArea: panelWindow?.contentArea ?? Qt.rect(0, 0, width, height - noticeHeight)
    readonly property rect bandArea: panelWindow?.bandArea ?? Qt.rect(0, height - noticeHeight, width, noticeHeight)
    readonly property real covered: panelWindow?.bandOverContent ?? 0
    // A page is open (the window holds its height over a bottom tray), the page shown as laid
    // out, and the parts the pages are made of at their tallest, from which the window works out
    // the tallest page.
    readonly property bool pageOpen: layout.divider ?? false
    readonly property var pageParts: ({
        "shownPage": body.implicitHeight, "spacing": body.spacing,
        "importSheet": importSlot.Layout.preferredHeight, "settings": settings.tallestHeight,
        "searchField": searchField.implicitHeight, "scopePicker": scopePicker.implicitHeight,
        "results": results.Layout.preferredHeight, "summary": summary.implicitHeight,
        "catalog": catalogSlot.Layout.preferredHeight, "lyrics": lyricsSection.Layout.preferredHeight
    })

    objectName: "mac-panel"
    implicitWidth: 380
    implicitHeight: page.implicitHeight + 32 + noticeHeight

    // The focused control is scrolled into view, clear of the band.
    // The focused control is scrolled into view, clear of the band, also as the band comes.
    FocusInView {
        id: focusInView
        scope: root
        banded: scroller
        bandBelow: scroller.under
    }
    // Once the view's margins have taken the band in.
    onCoveredChanged: Qt.callLater(focusInView.reveal)

    Rectangle {
        objectName: "mac-panel-notice-band"
        z: 1
        x: root.bandArea.x
        y: root.bandArea.y
        width: root.bandArea.width
        height: root.bandArea.height
        visible: root.showsMessages
        // Wherever it lies, its controls act for the page: the focus they leave goes there.
        readonly property Item focusPlace: column
        color: root.panelWindow?.color ?? Theme.background
        Rectangle {
            visible: root.covered > 0
            width: parent.width
            height: 1
            color: Theme.separator
        }
        PanelMessages {
            id: messages
            x: 16
            anchors.verticalCenter: parent.verticalCenter
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
        topMargin: keptAbove
        bottomMargin: Math.max(under, keptBelow)
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
                    id: header
                    Layout.fillWidth: true
                    panel: root.panel
                }
                PanelStrip {
                    id: strip
                    Layout.fillWidth: true
                    panel: root.panel
                }
                Rectangle {
                    Layout.fillWidth: true
                    visible: root.pageOpen
                    implicitHeight: 1
                    color: Theme.separator
                }

                // The page shown.
                ColumnLayout {
                    id: body
                    Layout.fillWidth: true
                    visible: root.pageOpen
                    spacing: column.spacing

                    // The import sheet, in the settings page's place; each presentation gets a new view.
                    Rectangle {
                        id: importSlot
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
                        id: settings
                        Layout.fillWidth: true
                        visible: root.layout.settingsPage ?? false
                        panel: root.panel
                    }
                    PanelSearchField {
                        id: searchField
                        visible: root.layout.searchField ?? false
                        panel: root.panel
                    }
                    PanelScopePicker {
                        id: scopePicker
                        visible: root.layout.scopePicker ?? false
                        panel: root.panel
                    }
                    PanelLyricsSection {
                        id: lyricsSection
                        Layout.fillWidth: true
                        Layout.preferredHeight: 300
                        visible: root.layout.lyrics ?? false
                        panel: root.panel
                    }
                    // The catalog page of the last place on the path.
                    Loader {
                        id: catalogSlot
                        objectName: "mac-panel-catalog-slot"
                        Layout.fillWidth: true
                        Layout.preferredHeight: 300
                        visible: root.layout.catalog ?? false
                        active: visible
                        sourceComponent: MacPanelCatalogView {
                            model: root.panel.catalogServices
                            destination: root.panel.catalogDestination
                            onPush: (destination, from) => root.panel.openCatalogValue(destination, from)
                            onBack: root.panel.closeCatalog()
                        }
                    }
                    PanelResults {
                        id: results
                        Layout.fillWidth: true
                        Layout.preferredHeight: 260
                        visible: root.layout.results ?? false
                        panel: root.panel
                    }
                    PanelText {
                        id: summary
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
}
