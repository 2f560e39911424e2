import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Velto
import "panel"

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
    PanelButton {
        id: play
        objectName: "catalogPagePlay"
        Layout.alignment: Qt.AlignVCenter
        enabled: header.page.playEnabled
        hoverEnabled: true
        symbol: header.page.playSymbol
        text: header.page.playTitle
        Accessible.description: header.playHelp
        onClicked: header.page.play()
        PanelToolTip {
            visible: play.hovered && header.playHelp.length > 0
            text: header.playHelp
        }
    }
}
