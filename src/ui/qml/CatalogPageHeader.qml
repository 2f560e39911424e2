import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Velto

// A catalog page's header: picture, name, subtitle and the play button.
RowLayout {
    id: header
    required property MacCatalogPageModel page
    property real artworkRadius: 8
    property string playHelp

    spacing: 10

    MacArtworkView {
        url: header.page.imageURL
        loader: header.page.artworkLoader
        size: 42
        radius: header.artworkRadius
    }
    ColumnLayout {
        Layout.fillWidth: true
        spacing: 2
        Text {
            objectName: "catalogPageName"
            Layout.fillWidth: true
            text: header.page.name
            textFormat: Text.PlainText
            elide: Text.ElideRight
            maximumLineCount: 1
            font.family: Theme.fontFamily
            font.pixelSize: Theme.body
            font.weight: Font.Medium
            color: Theme.primary
        }
        Text {
            objectName: "catalogPageSubtitle"
            Layout.fillWidth: true
            text: header.page.subtitle
            textFormat: Text.PlainText
            elide: Text.ElideRight
            maximumLineCount: 1
            font.family: Theme.fontFamily
            font.pixelSize: Theme.caption2
            color: Theme.secondary
        }
    }
    Button {
        FocusRing {}
        id: play
        objectName: "catalogPagePlay"
        enabled: header.page.playEnabled
        hoverEnabled: true
        padding: 4
        font.family: Theme.fontFamily
        font.pixelSize: Theme.callout
        Accessible.name: header.page.playTitle
        Accessible.description: header.playHelp
        ToolTip.visible: hovered && header.playHelp.length > 0
        ToolTip.delay: Theme.helpDelay
        ToolTip.text: header.playHelp
        onClicked: header.page.play()
        contentItem: Row {
            spacing: 4
            opacity: play.enabled ? 1 : 0.4
            Icon {
                anchors.verticalCenter: parent.verticalCenter
                name: header.page.playSymbol
                size: 12
            }
            Text {
                anchors.verticalCenter: parent.verticalCenter
                text: header.page.playTitle
                textFormat: Text.PlainText
                font: play.font
                color: Theme.primary
            }
        }
    }
}
