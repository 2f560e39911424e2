import QtQuick
import Velto

// A rounded square with a song's cover or a picture by address, or the placeholder while
// there is neither.
Item {
    id: root
    property var track
    property string url
    property MacArtworkLoader loader
    property real size: 32
    property real radius: 6

    objectName: "artworkView"
    implicitWidth: size
    implicitHeight: size
    Accessible.ignored: true

    MacArtworkModel {
        id: artwork
        loader: root.loader
        track: root.track
        url: root.url
    }
    Rectangle {
        anchors.fill: parent
        radius: root.radius
        color: Theme.quaternaryFill
    }
    Icon {
        objectName: "artworkPlaceholder"
        anchors.centerIn: parent
        visible: !artwork.hasImage
        name: ViewTexts.placeholderSymbol
        size: ViewTexts.placeholderSize(root.size)
        color: Theme.secondary
    }
    RoundedImage {
        objectName: "artworkImage"
        anchors.fill: parent
        radius: root.radius
        image: artwork.image
        visible: hasImage
    }
}
