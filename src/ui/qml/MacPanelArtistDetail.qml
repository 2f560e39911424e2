import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Velto

// An artist: header, the tab picker, the tab's error and its songs or albums.
ColumnLayout {
    id: root
    required property MacCatalogServices services
    required property var destination
    signal push(var destination, var from)

    objectName: "artistPage"
    spacing: 8

    MacArtistPageModel {
        id: page
        services: root.services
        destination: root.destination
        onPush: (destination, from) => root.push(destination, from)
    }
    // Each showing of the page starts its load; hiding it ends the load it started.
    Component.onCompleted: if (visible) page.appear()
    onVisibleChanged: visible ? page.appear() : page.disappear()

    CatalogPageHeader {
        Layout.fillWidth: true
        page: page
        artworkRadius: 21
        playHelp: page.playHelp
    }

    SegmentedPicker {
        objectName: "artistTabs"
        Layout.fillWidth: true
        Accessible.name: page.pickerTitle
        segmentPrefix: "artistTab"
        titles: page.tabTitles
        chosen: page.selectedTab
        onChoose: index => page.selectedTab = index
    }

    MacInlineError {
        objectName: "catalogError"
        Layout.fillWidth: true
        visible: page.hasError
        message: page.error
        retryAvailable: true
        onRetry: page.retry()
    }

    CatalogBusy { visible: page.content === "loading" }
    CatalogEmptyHint {
        objectName: "catalogEmpty"
        visible: page.content === "empty"
        title: page.emptyTitle
        detail: page.emptyDetail
    }
    MacPanelTrackScroll {
        Layout.fillWidth: true
        Layout.fillHeight: true
        visible: page.content === "tracks"
        tracks: page.tracks
    }
    GridView {
        id: grid
        objectName: "albumGrid"
        Layout.fillWidth: true
        Layout.fillHeight: true
        visible: page.content === "albums"
        clip: true
        boundsBehavior: Flickable.StopAtBounds
        topMargin: 2
        keyNavigationEnabled: false
        // No current row: it would take the focus from the footer as the rows change.
        currentIndex: -1
        bottomMargin: 2
        // As many columns of at least 96 as fit, 10 apart.
        readonly property int columns: Math.max(1, Math.floor((width + 10) / (96 + 10)))
        cellWidth: Math.floor(width / columns)
        cellHeight: 96 + 5 + 28 + 5 + 14 + 2 * 4 + 12
        model: page.albums
        ScrollBar.vertical: ScrollBar { policy: ScrollBar.AsNeeded }
        // Back from the album a card opened, once the cards are there again: scrolled as it was
        // left, and the ring, where a key brought the page back (onto its back button), on that card.
        onCountChanged: Qt.callLater(showAsLeft)
        function showAsLeft() {
            const shown = page.showAsLeft(count, originY, contentHeight, height, topMargin, bottomMargin,
                                          root.Window.window?.activeFocusItem?.objectName ?? "")
            if (shown.card === undefined)
                return
            contentY = shown.contentY
            const card = itemAtIndex(shown.card)
            if (card && shown.ring)
                card.forceActiveFocus(Qt.TabFocusReason)
        }
        delegate: AbstractButton {
            FocusRing {}
            id: card
            required property int index
            required property var modelData
            objectName: "albumCard" + index
            width: grid.cellWidth - 10
            // The ring goes round the picture and the lines, in the padding.
            padding: 4
            hoverEnabled: true
            Accessible.role: Accessible.Button
            Accessible.name: modelData.name
            onClicked: page.openAlbum(index, grid.contentY)
            contentItem: ColumnLayout {
                spacing: 5
                MacArtworkView {
                    url: card.modelData.imageURL
                    loader: page.artworkLoader
                    size: 96
                    radius: 8
                }
                Text {
                    Layout.fillWidth: true
                    text: card.modelData.name
                    textFormat: Text.PlainText
                    wrapMode: Text.Wrap
                    maximumLineCount: 2
                    elide: Text.ElideRight
                    font.family: Theme.fontFamily
                    font.pixelSize: Theme.caption
                    color: Theme.primary
                }
                Text {
                    Layout.fillWidth: true
                    text: card.modelData.dateText
                    textFormat: Text.PlainText
                    maximumLineCount: 1
                    elide: Text.ElideRight
                    font.family: Theme.fontFamily
                    font.pixelSize: Theme.caption2
                    color: Theme.secondary
                }
            }
        }
    }
    // Keeps the header at the top while the content is a hint or the busy indicator.
    Item {
        Layout.fillHeight: true
        visible: page.content !== "tracks" && page.content !== "albums"
    }
}
