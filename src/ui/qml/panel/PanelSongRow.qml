import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Velto
import ".."

// One song: play button with cover, title and meta line, then the heart or the removed marker.
Rectangle {
    id: row
    required property int index
    required property string title
    required property string meta
    required property bool playable
    required property string badge
    required property string heartSymbol
    required property string heartTooltip
    required property bool favoriteEnabled
    required property string accessibleName
    required property string accessibleHint
    required property bool isCurrent
    required property string musicID
    required property var track
    required property bool wasRemoved
    required property string removedLabel
    property var panel

    objectName: "mac-panel-song-" + index
    // One fixed height (the title and meta lines and the margins): the list places and counts
    // its rows by it, so no row changes size after the list laid it out.
    implicitHeight: 49
    radius: 8
    color: wasRemoved ? Qt.rgba(0.2, 0.78, 0.35, 0.1) : "transparent"

    RowLayout {
        id: content
        anchors.fill: parent
        anchors.leftMargin: 3
        anchors.rightMargin: 3
        anchors.topMargin: 6
        anchors.bottomMargin: 6
        spacing: 8

        AbstractButton {
            // Round the row in its margins: its lines of text fill the button's height.
            FocusRing { inset: -3 }
            objectName: "mac-panel-song-play"
            Layout.fillWidth: true
            enabled: row.playable
            Accessible.role: Accessible.Button
            Accessible.name: row.accessibleName
            Accessible.description: row.accessibleHint
            onClicked: row.panel.playRow(row.index)
            contentItem: RowLayout {
                spacing: 9
                MacArtworkView {
                    track: row.track
                    loader: row.panel?.artworkLoader ?? null
                    size: 32
                    radius: 6
                }
                ColumnLayout {
                    Layout.fillWidth: true
                    spacing: 3
                    PanelText {
                        objectName: "mac-panel-song-title"
                        Layout.fillWidth: true
                        text: row.title
                        size: Theme.body
                        font.weight: row.isCurrent ? Theme.semibold : Font.Normal
                        maximumLineCount: 1
                    }
                    Row {
                        id: metaLine
                        Layout.fillWidth: true
                        spacing: 5
                        PanelText {
                            anchors.verticalCenter: parent.verticalCenter
                            width: Math.min(implicitWidth, metaLine.width - (badge.visible ? badge.width + 5 : 0))
                            text: row.meta
                            size: Theme.caption2
                            color: Theme.secondary
                            maximumLineCount: 1
                        }
                        MacStatusBadge {
                            id: badge
                            anchors.verticalCenter: parent.verticalCenter
                            visible: row.badge.length > 0
                            title: row.badge
                        }
                    }
                }
            }
        }

        Row {
            objectName: "mac-panel-song-removed"
            visible: row.wasRemoved
            spacing: 3
            Accessible.role: Accessible.StaticText
            Accessible.name: row.removedLabel
            Icon {
                anchors.verticalCenter: parent.verticalCenter
                name: "checkmark.circle.fill"
                size: Theme.caption
                color: "#34C759"
            }
            PanelText {
                anchors.verticalCenter: parent.verticalCenter
                text: "已移除"
                size: Theme.caption
                color: "#34C759"
                Accessible.ignored: true
            }
        }
        PanelIconButton {
            objectName: "mac-panel-song-heart"
            visible: !row.wasRemoved
            enabled: row.favoriteEnabled
            symbol: row.heartSymbol
            help: row.heartTooltip
            onClicked: row.panel.toggleFavoriteRow(row.index)
        }
    }
}
