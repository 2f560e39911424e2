import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Velto

// One song of a compact list; every text and state comes from the list model's row.
Item {
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
    required property var track
    property MacTrackListModel listModel

    objectName: "trackRow" + index
    // One fixed height (the title and meta lines and the margins): a row that grew after its
    // list placed it sent the list to lay out again, at an unlucky scroll position for ever.
    implicitHeight: 49
    implicitWidth: content.implicitWidth + 6

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
            objectName: "trackRowButton"
            Layout.fillWidth: true
            enabled: row.playable
            hoverEnabled: true
            Accessible.role: Accessible.Button
            Accessible.name: row.accessibleName
            Accessible.description: row.accessibleHint
            onClicked: row.listModel.activate(row.index)

            contentItem: RowLayout {
                spacing: 9
                MacArtworkView {
                    track: row.track
                    loader: row.listModel?.artworkLoader ?? null
                    size: 32
                    radius: 6
                }
                ColumnLayout {
                    Layout.fillWidth: true
                    spacing: 3
                    Text {
                        objectName: "trackRowTitle"
                        Layout.fillWidth: true
                        text: row.title
                        textFormat: Text.PlainText
                        elide: Text.ElideRight
                        maximumLineCount: 1
                        font.family: Theme.fontFamily
                        font.pixelSize: Theme.body
                        font.weight: row.isCurrent ? Theme.semibold : Font.Normal
                        color: Theme.primary
                        opacity: row.playable ? 1 : 0.5
                    }
                    Text {
                        Layout.fillWidth: true
                        text: row.meta
                        textFormat: Text.PlainText
                        elide: Text.ElideRight
                        maximumLineCount: 1
                        font.family: Theme.fontFamily
                        font.pixelSize: Theme.caption2
                        color: Theme.secondary
                    }
                }
            }
        }

        MacStatusBadge {
            visible: row.badge.length > 0
            title: row.badge
        }

        AbstractButton {
            FocusRing {}
            objectName: "trackRowHeart"
            visible: row.badge.length === 0
            enabled: row.favoriteEnabled
            hoverEnabled: true
            implicitWidth: 20
            implicitHeight: 24
            Accessible.role: Accessible.Button
            Accessible.name: row.heartTooltip
            ToolTip.visible: hovered
            ToolTip.delay: Theme.helpDelay
            ToolTip.text: row.heartTooltip
            onClicked: row.listModel.toggleFavorite(row.index)
            contentItem: Icon {
                name: row.heartSymbol
                size: 13
                color: Theme.primary
                opacity: parent.enabled ? 1 : 0.4
            }
        }
    }
}
