import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Velto
import ".."

// The artist rows, the expansion button and one warning per source whose next page failed.
ListView {
    id: artists
    required property var panel
    readonly property var search: panel?.search ?? null

    objectName: "mac-panel-artists"
    model: search?.visibleArtistResults ?? null
    spacing: 2
    clip: true
    boundsBehavior: Flickable.StopAtBounds
    keyNavigationEnabled: false
    // No current row: it would take the focus from the footer as the rows change.
    currentIndex: -1
    delegate: AbstractButton {
        FocusRing {}
        id: artistRow
        required property int index
        required property string name
        required property string imageURL
        objectName: "mac-panel-artist-" + index
        width: ListView.view.width
        // Fixed, as the song rows: a row must not grow after the list placed it.
        implicitHeight: 47
        Accessible.role: Accessible.Button
        Accessible.name: name
        onClicked: artists.panel.openArtist(index)
        contentItem: Item {
            RowLayout {
                id: content
                anchors.fill: parent
                anchors.leftMargin: 3
                anchors.rightMargin: 3
                spacing: 9
                MacArtworkView {
                    url: artistRow.imageURL
                    loader: artists.panel?.artworkLoader ?? null
                    size: 32
                    radius: 16
                }
                ColumnLayout {
                    Layout.fillWidth: true
                    spacing: 3
                    PanelText {
                        Layout.fillWidth: true
                        text: artistRow.name
                        size: Theme.body
                        maximumLineCount: 1
                    }
                    PanelText {
                        objectName: "mac-panel-artist-meta"
                        Layout.fillWidth: true
                        text: artists.panel?.artistMetaAt(artistRow.index) ?? ""
                        size: Theme.caption2
                        color: Theme.secondary
                        maximumLineCount: 1
                    }
                }
                Icon { name: "chevron.right"; size: Theme.caption2; color: Theme.tertiary }
            }
        }
    }
    footer: ColumnLayout {
        width: ListView.view.width
        spacing: 6
        PanelButton {
            objectName: "mac-panel-more-artists"
            Layout.alignment: Qt.AlignHCenter
            visible: artists.search?.canExpandArtistResults ?? false
            busy: artists.search?.isLoadingMoreArtists ?? false
            text: busy ? "正在载入…" : "显示更多歌手"
            onClicked: artists.panel.expandArtists()
        }
        Repeater {
            model: artists.panel?.artistExpansionWarnings ?? []
            delegate: MacInlineError {
                required property var modelData
                Layout.fillWidth: true
                message: modelData.message
                retryAvailable: true
                onRetry: artists.panel.retryArtistExpansion(modelData.source)
            }
        }
    }
}
