import QtQuick
import QtQuick.Controls
import Velto
import ".."

// Album or playlist cards, as many columns of at least 96 as fit.
GridView {
    id: grid
    required property var panel
    property string kind  // "albums" or "playlists"
    readonly property int columns: Math.max(1, Math.floor((width + 10) / (96 + 10)))

    objectName: "mac-panel-" + kind
    model: kind === "albums" ? (panel?.search.albumResults ?? null)
                             : (panel?.search.playlistResults ?? null)
    cellWidth: width / columns
    cellHeight: 96 + 5 + 2 * 15 + 5 + 15 + 2 * 4 + 12
    clip: true
    boundsBehavior: Flickable.StopAtBounds
    keyNavigationEnabled: false
    // No current row: it would take the focus from the footer as the rows change.
    currentIndex: -1
    delegate: AbstractButton {
        FocusRing {}
        id: card
        required property int index
        required property string name
        required property var model
        readonly property string picture: grid.kind === "albums" ? (model.imageURL ?? "") : (model.img ?? "")
        readonly property string subtitle: grid.kind === "albums" ? model.artist
                                           : (grid.panel?.playlistSubtitleAt(index) ?? "")
        objectName: "mac-panel-card-" + index
        width: grid.cellWidth - 10
        height: grid.cellHeight - 12
        // The ring goes round the picture and the lines, in the padding.
        padding: 4
        Accessible.role: Accessible.Button
        Accessible.name: name
        onClicked: grid.kind === "albums" ? grid.panel.openAlbum(index) : grid.panel.openPlaylist(index)
        contentItem: Column {
            spacing: 5
            MacArtworkView {
                url: card.picture
                loader: grid.panel?.artworkLoader ?? null
                size: 96
                radius: 8
            }
            PanelText {
                width: parent.width
                text: card.name
                size: Theme.caption
                wrapMode: Text.Wrap
                maximumLineCount: 2
            }
            PanelText {
                objectName: "mac-panel-card-subtitle"
                width: parent.width
                text: card.subtitle ?? ""
                size: Theme.caption2
                color: Theme.secondary
                maximumLineCount: 1
            }
        }
    }
}
