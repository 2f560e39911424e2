import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Velto

// The place on top of the panel's catalog path: back button and name, then its page. Each
// place given makes a new page, and with it a new detail model.
ColumnLayout {
    id: root
    required property MacCatalogServices model
    required property var destination
    signal push(var destination, var from)
    signal back()

    objectName: "catalogView"
    spacing: 8

    // A page opened from the keyboard goes on from its first control; a click leaves the focus.
    function focusIfKeyed() {
        if (root.Window.window?.actingOnKey?.() ?? false)
            back.forceActiveFocus(Qt.TabFocusReason)
    }
    onDestinationChanged: focusIfKeyed()

    MacCatalogFrameModel {
        id: frame
        destination: root.destination
    }

    RowLayout {
        Layout.fillWidth: true
        spacing: 6
        AbstractButton {
            FocusRing {}
            id: back
            objectName: "catalogBack"
            Layout.preferredWidth: 20
            Layout.preferredHeight: 20
            Layout.minimumWidth: 20
            hoverEnabled: true
            Accessible.role: Accessible.Button
            Accessible.name: frame.backLabel
            ToolTip.visible: hovered
            ToolTip.delay: Theme.helpDelay
            ToolTip.text: frame.backLabel
            onClicked: root.back()
            Component.onCompleted: root.focusIfKeyed()
            contentItem: Icon {
                name: frame.backSymbol
                size: 11
                font.weight: Theme.semibold
            }
        }
        Text {
            objectName: "catalogTitle"
            Layout.fillWidth: true
            text: frame.title
            textFormat: Text.PlainText
            elide: Text.ElideRight
            maximumLineCount: 1
            font.family: Theme.fontFamily
            font.pixelSize: Theme.subheadline
            font.weight: Theme.semibold
            color: Theme.primary
        }
    }

    Repeater {
        model: frame.pageKeys
        delegate: Loader {
            Layout.fillWidth: true
            Layout.fillHeight: true
            // Chosen once: a page never turns into another kind.
            Component.onCompleted: sourceComponent = frame.kind === "artist" ? artistPage
                                                   : frame.kind === "album" ? albumPage
                                                   : playlistPage
        }
    }

    Component {
        id: artistPage
        MacPanelArtistDetail {
            services: root.model
            destination: frame.destination
            onPush: (destination, from) => root.push(destination, from)
        }
    }
    Component {
        id: albumPage
        MacPanelAlbumDetail {
            services: root.model
            destination: frame.destination
        }
    }
    Component {
        id: playlistPage
        MacPanelPlaylistDetail {
            services: root.model
            destination: frame.destination
        }
    }
}
