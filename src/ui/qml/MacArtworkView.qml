import QtQuick
import Velto

// A rounded square with a cover, or the placeholder while there is none.
Item {
    id: root
    property real size: 32
    property real radius: 6
    // The loaded picture; none shows the placeholder.
    property alias image: picture.image

    objectName: "artworkView"
    implicitWidth: size
    implicitHeight: size
    Accessible.ignored: true

    Rectangle {
        anchors.fill: parent
        radius: root.radius
        color: Theme.quaternaryFill
    }
    Icon {
        objectName: "artworkPlaceholder"
        anchors.centerIn: parent
        visible: !picture.hasImage
        name: ViewTexts.placeholderSymbol
        size: ViewTexts.placeholderSize(root.size)
        color: Theme.secondary
    }
    RoundedImage {
        id: picture
        objectName: "artworkImage"
        anchors.fill: parent
        radius: root.radius
        visible: hasImage
    }
}
