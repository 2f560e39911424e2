import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Velto
import "panel"

// An online playlist: header, error row, the songs loaded so far and the load-more button.
ColumnLayout {
    id: root
    required property MacCatalogServices services
    required property var destination

    objectName: "playlistPage"
    spacing: 8

    PlaylistPageModel {
        id: page
        services: root.services
        destination: root.destination
    }
    // Each showing of the page starts its load; hiding it ends the load it started.
    Component.onCompleted: if (visible) page.appear()
    onVisibleChanged: visible ? page.appear() : page.disappear()

    CatalogPageHeader {
        Layout.fillWidth: true
        page: page
        artworkRadius: 8
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
        title: page.emptyText
    }
    MacPanelTrackScroll {
        Layout.fillWidth: true
        Layout.fillHeight: true
        visible: page.content === "tracks"
        tracks: page.tracks
    }
    PanelButton {
        objectName: "playlistLoadMore"
        Layout.alignment: Qt.AlignHCenter
        visible: page.content === "tracks" && page.hasMore
        busy: page.isLoading
        text: page.loadMoreTitle
        onClicked: page.loadNextPage()
    }
    // Keeps the header at the top while the content is a hint or the busy indicator.
    Item {
        Layout.fillHeight: true
        visible: page.content !== "tracks" && page.content !== "albums"
    }
}
