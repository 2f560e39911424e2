import QtQuick
import Velto

// Plain text in the panel's font: never rich text, whatever the source sent.
Text {
    property real size: Theme.callout
    textFormat: Text.PlainText
    font.family: Theme.fontFamily
    font.pixelSize: size
    color: Theme.primary
    elide: Text.ElideRight
}
